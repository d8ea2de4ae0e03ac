#include "PrintStatements.h"

#include "Connection.h"

namespace zq::forms::print {

using zq::data::Connection;

namespace {
QString userCondition(const QString &prefix, bool supervisor, const QString &userId)
{
    if (supervisor)
        return QString();
    return prefix + Connection::quoted(userId) + QStringLiteral("          ");
}

const QString kOrder = QStringLiteral("ORDER BY HolderData.DepartmentNo,HolderData.HolderNo ");

QString labelBase(bool vertical)
{
    const QString pic = vertical ? QStringLiteral("PicNoV") : QStringLiteral("PicNoH");
    return QStringLiteral("SELECT DepartmentData.DepartmentName,OccupationTitle.TitleName,"
                          "OccupationType.TypeName,OccupationType.")
           + pic
           + QStringLiteral(",HolderData.*,CardPicture.GBPhoto, CardPicture.PicNo FROM "
                            "OccupationType ,OccupationTitle , DepartmentData ,HolderData "
                            ",CardPicture WHERE HolderData.DepartmentNo = "
                            "DepartmentData.DepartmentNo AND (HolderData.TitleNo = "
                            "OccupationTitle.TitleNo AND OccupationType.")
           + pic
           + QStringLiteral(" = CardPicture.PicNo) AND HolderData.TypeNo  = "
                            "OccupationType.TypeNo AND HolderData.PunchCard = 1 ");
}
} // namespace

QString userStatement(const QString &userId)
{
    return QStringLiteral(" Select * From UserData WHERE UserID = ") + Connection::quoted(userId)
           + QStringLiteral(" ");
}

QString reportDepartmentList(bool supervisor, const QString &userId)
{
    if (supervisor)
        return QStringLiteral(" SELECT T1.DepartmentNo,T1.DepartmentName  ")
               + QStringLiteral("   FROM DepartmentData T1 ")
               + QStringLiteral("  ORDER BY T1.DepartmentNo");
    return QStringLiteral(" SELECT T1.DepartmentNo,T1.DepartmentName  ")
           + QStringLiteral("   FROM UserRightDept T2,DepartmentData T1 ")
           + QStringLiteral("  WHERE T1.DepartmentNo = T2.DepartmentNo  ")
           + userCondition(QStringLiteral("    AND T2.UserID = "), supervisor, userId)
           + QStringLiteral("  ORDER BY T1.DepartmentNo");
}

QString reportDepartmentLookup(bool supervisor, const QString &userId)
{
    if (supervisor)
        return QStringLiteral(" SELECT T1.DepartmentNo,T1.DepartmentName  ")
               + QStringLiteral(" FROM DepartmentData T1 ")
               + QStringLiteral(" ORDER BY T1.DepartmentNo");
    return QStringLiteral(" SELECT T1.DepartmentNo,T1.DepartmentName  ")
           + QStringLiteral(" FROM UserRightDept T2,DepartmentData T1 ")
           + QStringLiteral(" WHERE T1.DepartmentNo = T2.DepartmentNo  ")
           + userCondition(QStringLiteral(" AND T2.UserID = "), supervisor, userId)
           + QStringLiteral(" ORDER BY T1.DepartmentNo");
}

QString holderReport(const QString &departmentNo, bool supervisor, const QString &userId)
{
    // A supervisor is limited by no rights rows: without the join each holder comes once,
    // whatever department he is in.
    const QString rights = supervisor ? QString() : QStringLiteral("UserRightDept T5, ");
    QString sql;
    if (departmentNo.isEmpty()) {
        sql = QStringLiteral(" SELECT T2.DepartmentName,T3.TitleName,T4.TypeName,T1.* ")
              + QStringLiteral("   FROM ") + rights
              + QStringLiteral("OccupationType T4,OccupationTitle T3,           ")
              + QStringLiteral("        DepartmentData T2,HolderData T1                 ")
              + QStringLiteral("  WHERE T1.DepartmentNo = T2.DepartmentNo               ")
              + QStringLiteral("    AND T1.TitleNo = T3.TitleNo                         ")
              + QStringLiteral("    AND T1.TypeNo  = T4.TypeNo                          ");
    } else {
        sql = QStringLiteral(" SELECT T2.DepartmentName,T3.TitleName,T4.TypeName,T1.*   ")
              + QStringLiteral("   FROM ") + rights
              + QStringLiteral("OccupationType T4,OccupationTitle T3,             ")
              + QStringLiteral("        DepartmentData T2,HolderData T1                   ")
              + QStringLiteral("  WHERE T1.DepartmentNo = T2.DepartmentNo                 ")
              + QStringLiteral("    AND T1.DepartmentNo = ") + Connection::quoted(departmentNo)
              + QStringLiteral(" ")
              + QStringLiteral("    AND T1.TitleNo = T3.TitleNo                           ")
              + QStringLiteral("    AND T1.TypeNo  = T4.TypeNo                            ");
    }
    if (!supervisor)
        sql += QStringLiteral(" AND T5.DepartmentNo = T1.DepartmentNo  ")
               + userCondition(QStringLiteral(" AND T5.UserID = "), supervisor, userId);
    return sql + QStringLiteral(" ORDER BY T1.DepartmentNo,T1.HolderNo,T1.HolderName       ");
}

LabelJob labelJob(bool vertical,
                  bool useBatch,
                  const QString &batchList,
                  const QString &departmentFilter)
{
    // The vertical pieces carry leading blanks and the horizontal ones none; the base
    // statement ends with a blank, so both read alike.
    const QString lead2 = vertical ? QStringLiteral("  ") : QString();
    const QString lead3 = vertical ? QStringLiteral("   ") : QString();
    const QString lead1 = vertical ? QStringLiteral(" ") : QString();
    QString sql = labelBase(vertical);
    if (useBatch && !batchList.isEmpty())
        sql += lead2 + QStringLiteral("AND HolderData.HolderNo IN ") + batchList
               + QStringLiteral(" ") + kOrder;
    else if (departmentFilter.isEmpty())
        sql += lead1 + kOrder;
    else
        sql += lead3 + QStringLiteral("AND HolderData.DepartmentNo = ")
               + Connection::quoted(departmentFilter) + QStringLiteral(" ") + lead1 + kOrder;
    return {vertical ? QStringLiteral("HolderCardLabelV.frf")
                     : QStringLiteral("HolderCardLabelH.frf"),
            sql};
}

} // namespace zq::forms::print
