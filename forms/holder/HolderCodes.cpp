#include "HolderCodes.h"

#include "Connection.h"
#include "Helpers.h"
#include "Recordset.h"

namespace zq::forms::holder {

using zq::data::Connection;
using zq::data::Recordset;

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
        const int key = query.fieldIndex(keyColumn);
        const int name = query.fieldIndex(nameColumn);
        for (int row = 0; row < query.recordCount(); ++row) {
            list.numbers << Recordset::textOf(query.valueAt(row, key)).trimmed();
            list.names << Recordset::textOf(query.valueAt(row, name)).trimmed();
        }
        list.complete = true;
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
    }
    query.close();
    return list;
}

} // namespace zq::forms::holder
