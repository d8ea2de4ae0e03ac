#include "BatchStatements.h"

#include "Connection.h"

namespace zq::forms::batch {

using zq::data::Connection;

namespace {
const QString kHolders = QStringLiteral(
    "SELECT HolderData.HolderNo, HolderData.HolderName, DepartmentData.DepartmentNo FROM "
    "DepartmentData INNER JOIN HolderData ON DepartmentData.DepartmentNo = "
    "HolderData.DepartmentNo Where HolderData.PunchCard =1");
} // namespace

QString rightsStatement(const QString &userId)
{
    return QStringLiteral("SELECT * FROM UserRightDept WHERE UserID = ")
           + Connection::quoted(userId) + QStringLiteral(" ORDER BY DepartmentNo");
}

QString valueList(const QStringList &numbers)
{
    QString list;
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        if (i > 0)
            list += QLatin1Char(',');
        list += Connection::quoted(numbers[i]);
    }
    return list;
}

QString departmentsIn(const QStringList &numbers)
{
    return QStringLiteral("SELECT * FROM DepartmentData WHERE DepartmentNo IN (")
           + valueList(numbers) + QStringLiteral(") ORDER BY DepartmentNo");
}

QString holdersOfDepartment(const QString &departmentNo)
{
    return kHolders + QStringLiteral(" And DepartmentData.DepartmentNo=")
           + Connection::quoted(departmentNo) + QStringLiteral(" ORDER BY HolderData.HolderNo");
}

QString holdersOfAll(const QStringList &numbers)
{
    if (numbers.isEmpty())
        return kHolders + QStringLiteral(" ORDER BY HolderData.HolderNo");
    return kHolders + QStringLiteral(" AND HolderData.DepartmentNo IN (") + valueList(numbers)
           + QStringLiteral(") ORDER BY HolderData.HolderNo");
}

QString holdersOfSelected(const QStringList &departments)
{
    QString list = QStringLiteral("(");
    for (const QString &number : departments)
        list += Connection::quoted(number) + QLatin1Char(',');
    list += QStringLiteral("'')");
    return QStringLiteral("SELECT * FROM HolderData WHERE PunchCard = 1 AND DepartmentNo IN ")
           + list;
}

} // namespace zq::forms::batch
