#include "DepartmentPicker.h"

#include "Connection.h"
#include "Helpers.h"
#include "Recordset.h"

namespace zq::forms {

using zq::data::Connection;
using zq::data::Recordset;

DepartmentList loadParentCandidates(Connection *connection, bool supervisor, const QString &userId)
{
    DepartmentList list;
    Recordset q;
    q.setConnection(connection);
    const QString sql = supervisor
                            ? QStringLiteral(" SELECT * FROM DepartmentData ORDER BY DepartmentNo ")
                            : QStringLiteral(" SELECT T1.DepartmentNo,T1.DepartmentName  ")
                                  + QStringLiteral("   FROM UserRightDept T2,DepartmentData T1 ")
                                  + QStringLiteral("  WHERE T1.DepartmentNo = T2.DepartmentNo  ")
                                  + QStringLiteral("    AND T2.UserID = ")
                                  + Connection::quoted(userId) + QStringLiteral("          ")
                                  + QStringLiteral("  ORDER BY T1.DepartmentNo                 ");
    try {
        if (zq::data::RunQuery(&q, sql, 0) == 1) {
            const int no = q.fieldIndex(QStringLiteral("DepartmentNo"));
            const int name = q.fieldIndex(QStringLiteral("DepartmentName"));
            for (int row = 0; row < q.recordCount(); ++row) {
                list.numbers << Recordset::textOf(q.valueAt(row, no)).trimmed();
                list.names << Recordset::textOf(q.valueAt(row, name)).trimmed();
            }
        }
    } catch (...) {
    }
    q.close();
    return list;
}

namespace {

void removeBelow(Connection *connection,
                 const QString &statement,
                 DepartmentList &list,
                 QSet<QString> &visited)
{
    Recordset q;
    q.setConnection(connection);
    if (zq::data::RunQuery(&q, statement, 0) != 1 || q.isEmpty())
        return;
    QStringList numbers;
    for (int row = 0; row < q.recordCount(); ++row)
        numbers << Recordset::textOf(q.valueAt(row, q.fieldIndex(QStringLiteral("DepartmentNo"))))
                       .trimmed();
    q.close();
    for (const QString &number : std::as_const(numbers)) {
        try {
            if (visited.contains(number))
                continue;
            visited.insert(number);
            const qsizetype at = list.numbers.indexOf(number);
            if (at > 0) {
                list.numbers.removeAt(at);
                list.names.removeAt(at);
            }
            removeBelow(connection,
                        QStringLiteral(" SELECT * FROM DepartmentData WHERE UnderNo = ")
                            + Connection::quoted(number)
                            + QStringLiteral(" ORDER BY DepartmentNo "),
                        list,
                        visited);
        } catch (...) {
        }
    }
}

} // namespace

void removeSubtree(Connection *connection, const QString &number, DepartmentList &list)
{
    QSet<QString> visited;
    removeBelow(connection,
                QStringLiteral(" SELECT * FROM DepartmentData WHERE DepartmentNo = ")
                    + Connection::quoted(number) + QStringLiteral(" "),
                list,
                visited);
}

bool isAncestorOrSelf(Connection *connection, const QString &ancestor, const QString &number)
{
    QSet<QString> visited;
    QString current = number;
    Recordset q;
    q.setConnection(connection);
    while (!current.isEmpty() && !visited.contains(current)) {
        if (current == ancestor)
            return true;
        visited.insert(current);
        if (zq::data::RunQuery(
                &q,
                QStringLiteral("SELECT UnderNo FROM DepartmentData WHERE DepartmentNo = ")
                    + Connection::quoted(current),
                0)
                != 1
            || q.isEmpty())
            break;
        current = q.text(QStringLiteral("UnderNo")).trimmed();
    }
    // A chain that runs into itself is already a cycle: treat it as related, so no move adds to it.
    return !current.isEmpty() && visited.contains(current);
}

} // namespace zq::forms
