#include "HolderStatements.h"

#include "Connection.h"

namespace zq::forms::holder {

using zq::data::Connection;

QString P1()
{
    return QStringLiteral(" T1.HolderNo, T1.HolderName, T1.ShowText, T1.Birthday, T1.DepartmentNo, "
                          "T1.TitleNo, T1.TypeNo,    ");
}
QString P2()
{
    return QStringLiteral(" T1.Enabled, T1.PIN, T1.PunchCard, T1.Definable1, T1.Definable2, "
                          "T1.Area, T1.Site, T1.Email,      ");
}
QString P3()
{
    return QStringLiteral(" T1.StartDate, T1.ExpiredDate, T1.SuperiorNo1, T1.SuperiorNo2, "
                          "T1.SuperiorNo3, T1.HolderPassword, ");
}
QString P4()
{
    return QStringLiteral(" T1.AnnounceFlag, T1.LoginFlag, T1.CheckMark, T1.Description,  "
                          "T1.Deposit01,        ");
}
QString P4S()
{
    return QStringLiteral(" T1.AnnounceFlag, T1.LoginFlag, T1.CheckMark, T1.Description, "
                          "T1.SequenceNo, T1.Deposit01,        ");
}
QString P5()
{
    return QStringLiteral(" T1.Deposit02, T1.Deposit03, T1.Deposit04 ,                            "
                          "                           ");
}
QString PN()
{
    return QStringLiteral(" T2.DepartmentName,T3.TitleName,T4.TypeName ");
}
QString PF()
{
    return QStringLiteral(
        "   FROM OccupationType T4,OccupationTitle T3,DepartmentData T2,HolderData T1 ");
}

namespace {
QString joins()
{
    return QStringLiteral("    AND T1.DepartmentNo = T2.DepartmentNo ")
           + QStringLiteral("    AND T1.TitleNo=T3.TitleNo ")
           + QStringLiteral("    AND T1.TypeNo=T4.TypeNo ")
           + QStringLiteral("  ORDER BY T1.HolderNo ");
}
// Every holder: one without a department (or with one that is gone) is listed too, with an
// empty department name, so that a search can show him.
QString allFrom()
{
    return QStringLiteral("   FROM OccupationType T4,OccupationTitle T3,HolderData T1 ")
           + QStringLiteral("   LEFT JOIN DepartmentData T2 ON T1.DepartmentNo = T2.DepartmentNo ");
}
QString allJoins()
{
    return QStringLiteral("  WHERE T1.TitleNo=T3.TitleNo ")
           + QStringLiteral("    AND T1.TypeNo=T4.TypeNo ");
}
// The holders of the departments `user` has a right to.
QString rightsCondition(const QString &user)
{
    return QStringLiteral(" AND T1.DepartmentNo IN (SELECT T5.DepartmentNo FROM UserRightDept T5 "
                          "WHERE T5.UserID = ")
           + Connection::quoted(user) + QStringLiteral(") ");
}
// A LIKE pattern that finds `text` anywhere, with the pattern characters typed by the user
// taken literally.
QString containsPattern(const QString &text)
{
    QString escaped;
    for (const QChar c : text) {
        if (c == QLatin1Char('%') || c == QLatin1Char('_') || c == QLatin1Char('!'))
            escaped += QLatin1Char('!');
        escaped += c;
    }
    return Connection::quoted(QLatin1Char('%') + escaped + QLatin1Char('%'))
           + QStringLiteral(" ESCAPE '!'");
}
} // namespace

QString filterListing(const QString &filter, bool allDepartments, const QString &userId)
{
    if (filter.isEmpty() && allDepartments)
        return QStringLiteral(" SELECT ") + P1() + P2() + P3() + P4S() + P5() + PN() + allFrom()
               + allJoins() + QStringLiteral("  ORDER BY T1.HolderNo ");
    if (filter.isEmpty())
        return QStringLiteral(" SELECT ") + P1() + P2() + P3() + P4() + P5() + PN()
               + QStringLiteral("   FROM UserRightDept T5, OccupationType T4,OccupationTitle "
                                "T3,DepartmentData T2,HolderData T1 ")
               + QStringLiteral("  WHERE T5.DepartmentNo = T1.DepartmentNo ")
               + QStringLiteral("  AND T1.DepartmentNo = T2.DepartmentNo ")
               + QStringLiteral("  AND T1.TitleNo=T3.TitleNo ")
               + QStringLiteral("  AND T5.UserID = ") + Connection::quoted(userId)
               + QStringLiteral(" ") + QStringLiteral("  AND T1.TypeNo=T4.TypeNo ")
               + QStringLiteral("  ORDER BY T1.HolderNo ");
    return QStringLiteral(" SELECT ") + P1() + P2() + P3() + P4S() + P5() + PN() + PF()
           + QStringLiteral("  WHERE T1.DepartmentNo = ") + Connection::quoted(filter)
           + QStringLiteral(" ") + joins();
}

QString reloadListing(const QString &filter, const std::optional<QString> &rightsUser)
{
    if (filter.isEmpty() && rightsUser)
        return filterListing(filter, false, *rightsUser);
    if (filter.isEmpty())
        return QStringLiteral(" SELECT ") + P1() + P2() + P3() + P4() + P5() + PN() + allFrom()
               + allJoins() + QStringLiteral("  ORDER BY T1.HolderNo ");
    return QStringLiteral(" SELECT ") + P1() + P2() + P3() + P4() + P5() + PN() + PF()
           + QStringLiteral("  WHERE T1.DepartmentNo = ") + Connection::quoted(filter)
           + QStringLiteral(" ") + joins();
}

QString sameNumber(const QString &column, const QString &number)
{
    // Numbers hold at most 20 characters; the upper end leaves room for any blanks after.
    const QString bare = number.trimmed();
    return QStringLiteral("( ") + column + QStringLiteral(" >= ") + Connection::quoted(bare)
           + QStringLiteral(" AND ") + column + QStringLiteral(" <= ")
           + Connection::quoted(bare + QString(64, QLatin1Char(' ')))
           + QStringLiteral(" AND RTRIM(") + column + QStringLiteral(") = ")
           + Connection::quoted(bare) + QStringLiteral(" )");
}

QString holdersNumbered(const QString &number)
{
    return QStringLiteral(" SELECT * FROM HolderData WHERE ")
           + sameNumber(QStringLiteral("HolderNo"), number) + QStringLiteral(" ORDER BY HolderNo ");
}

QString holderByKey(const QString &key)
{
    return QStringLiteral(" SELECT * FROM HolderData WHERE HolderNo = ") + Connection::quoted(key);
}

QString exactSearch(const QString &text, bool byNumber)
{
    // The rows stored under the number as the user sees it, the one without blanks first.
    const QString where = byNumber ? sameNumber(QStringLiteral("T1.HolderNo"), text)
                                   : QStringLiteral("T1.HolderName = ") + Connection::quoted(text);
    return QStringLiteral(" SELECT * FROM HolderData T1 WHERE ") + where
           + QStringLiteral(" ORDER BY T1.HolderNo ");
}

QString likeListing(const QString &text,
                    bool byNumber,
                    const zq::data::Dialect &dialect,
                    const std::optional<QString> &rightsUser)
{
    const QString condition = dialect.likeIgnoringCase(byNumber ? QStringLiteral(" T1.HolderNo")
                                                                : QStringLiteral(" T1.HolderName"),
                                                       containsPattern(text))
                              + QStringLiteral(" ");
    const QString from = !rightsUser
                             ? allFrom() + allJoins()
                             : PF() + QStringLiteral("  WHERE T1.DepartmentNo = T2.DepartmentNo ")
                                   + QStringLiteral("    AND T1.TitleNo=T3.TitleNo ")
                                   + QStringLiteral("    AND T1.TypeNo=T4.TypeNo ")
                                   + rightsCondition(*rightsUser);
    return QStringLiteral(" SELECT ") + P1() + P2() + P3() + P4() + P5() + PN() + from
           + QStringLiteral("    AND ") + condition + QStringLiteral(" ")
           + QStringLiteral("  ORDER BY T1.HolderNo ");
}

QString printListing(const QString &filter, const std::optional<QString> &rightsUser)
{
    const QString head = QStringLiteral(
        "SELECT T2.DepartmentName,T3.TitleName,T4.TypeName,T1.*   FROM OccupationType "
        "T4,OccupationTitle T3, DepartmentData T2,HolderData T1  WHERE T1.DepartmentNo = "
        "T2.DepartmentNo    AND T1.TitleNo = T3.TitleNo    AND T1.TypeNo = T4.TypeNo ");
    if (filter.isEmpty() || filter == QLatin1String("ALL"))
        return head + (rightsUser ? rightsCondition(*rightsUser) : QString())
               + QStringLiteral(" ORDER BY T1.DepartmentNo,T1.HolderNo ");
    return head + QStringLiteral("  AND T1.DepartmentNo = ") + Connection::quoted(filter)
           + QStringLiteral(" ") + (rightsUser ? rightsCondition(*rightsUser) : QString())
           + QStringLiteral("ORDER BY T1.DepartmentNo,T1.HolderNo  ");
}

} // namespace zq::forms::holder
