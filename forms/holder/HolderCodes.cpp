#include "HolderCodes.h"

#include "Connection.h"
#include "Helpers.h"
#include "HolderLog.h"
#include "Recordset.h"

namespace zq::forms::holder {

using zq::data::Connection;
using zq::data::Recordset;

namespace {
// The numbers and names of the rows `query` holds, trimmed.
CodeList codesOf(const Recordset &query, const QString &keyColumn, const QString &nameColumn)
{
    CodeList list;
    const int key = query.fieldIndex(keyColumn);
    const int name = query.fieldIndex(nameColumn);
    list.numbers.reserve(query.recordCount());
    list.names.reserve(query.recordCount());
    for (int row = 0; row < query.recordCount(); ++row) {
        list.numbers << Recordset::textOf(query.valueAt(row, key)).trimmed();
        list.names << Recordset::textOf(query.valueAt(row, name)).trimmed();
    }
    list.complete = true;
    return list;
}
} // namespace

CodeList loadCodes(Recordset &query,
                   const QString &table,
                   const QString &keyColumn,
                   const QString &nameColumn,
                   const QString &defaultName)
{
    CodeList list;
    try {
        const QString select = QStringLiteral(" SELECT * FROM ") + table
                               + QStringLiteral(" ORDER BY ") + keyColumn + QStringLiteral(" ");
        if (zq::data::RunQuery(&query, select, 0) != 1)
            return list;
        if (query.isEmpty()) {
            query.append();
            query.setField(keyColumn, QStringLiteral("1"));
            // The names hold 20 characters; a long language text must not cost the row.
            query.setField(nameColumn, defaultName.left(17) + QStringLiteral(" #1"));
            query.setField(QStringLiteral("Description"), QString());
            query.post();
            if (zq::data::RunQuery(&query, select, 0) != 1)
                return list;
        }
        list = codesOf(query, keyColumn, nameColumn);
        if (!list.numbers.isEmpty()) {
            const QString first = Connection::quoted(list.numbers.first());
            zq::data::RunQuery(&query,
                               QStringLiteral(" UPDATE HolderData SET ") + keyColumn
                                   + QStringLiteral(" = ") + first + QStringLiteral(" WHERE ")
                                   + keyColumn + QStringLiteral(" = '' OR ") + keyColumn
                                   + QStringLiteral(" IS NULL "),
                               1);
        }
    } catch (...) {
        logCaught("reading a code table");
    }
    query.close();
    return list;
}

CodeList loadDepartments(Recordset &query, const QString &userId)
{
    const QString sql = userId.isEmpty()
                            ? QStringLiteral(" SELECT * FROM DepartmentData ORDER BY DepartmentNo ")
                            : QStringLiteral(" SELECT T1.DepartmentNo,T1.DepartmentName  ")
                                  + QStringLiteral("   FROM UserRightDept T2,DepartmentData T1 ")
                                  + QStringLiteral("  WHERE T1.DepartmentNo = T2.DepartmentNo  ")
                                  + QStringLiteral("    AND T2.UserID = ")
                                  + Connection::quoted(userId) + QStringLiteral("          ")
                                  + QStringLiteral("  ORDER BY T1.DepartmentNo                 ");
    CodeList list;
    try {
        if (zq::data::RunQuery(&query, sql, 0) == 1)
            list = codesOf(query, QStringLiteral("DepartmentNo"), QStringLiteral("DepartmentName"));
    } catch (...) {
        logCaught("reading the departments");
    }
    query.close();
    return list;
}

} // namespace zq::forms::holder
