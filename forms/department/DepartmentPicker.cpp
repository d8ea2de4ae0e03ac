#include "DepartmentPicker.h"

#include "Connection.h"
#include "Helpers.h"
#include "ModuleLog.h"
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
                // The number as stored: a parent is written as its key, blanks and all.
                list.numbers << Recordset::textOf(q.valueAt(row, no));
                list.names << Recordset::textOf(q.valueAt(row, name)).trimmed();
            }
        }
    } catch (...) {
        zq::logCaught("reading the parent departments");
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
        numbers << Recordset::textOf(q.valueAt(row, q.fieldIndex(QStringLiteral("DepartmentNo"))));
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
            zq::logCaught("walking the departments below one");
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
    while (!current.trimmed().isEmpty() && !visited.contains(current)) {
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
        current = q.text(QStringLiteral("UnderNo"));
    }
    // A chain that runs into itself is already a cycle: treat it as related, so no move adds to it.
    return !current.trimmed().isEmpty() && visited.contains(current);
}

qsizetype indexOfNumber(const QStringList &numbers, const QString &number)
{
    const qsizetype exact = numbers.indexOf(number);
    if (exact >= 0 || number.trimmed().isEmpty())
        return exact;
    const QString trimmed = number.trimmed();
    for (qsizetype i = 1; i < numbers.size(); ++i)
        if (numbers.at(i).trimmed() == trimmed)
            return i;
    return -1;
}

} // namespace zq::forms
