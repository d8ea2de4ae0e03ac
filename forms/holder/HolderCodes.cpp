#include "HolderCodes.h"

#include "Connection.h"
#include "Helpers.h"
#include "Recordset.h"

namespace zq::forms::holder {

using zq::data::Connection;
using zq::data::Recordset;

CodeList loadCodes(Recordset &query, const QString &table, const QString &keyColumn,
                   const QString &nameColumn, const QString &defaultName)
{
    CodeList list;
    try {
        const QString select = QStringLiteral(" SELECT * FROM ") + table + QStringLiteral(" ORDER BY ")
                               + keyColumn + QStringLiteral(" ");
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
    } catch (...) {
    }
    query.close();
    return list;
}

QString missingValuesUpdate(const QList<QPair<QString, QString>> &codes, const QString &today)
{
    QStringList sets, missing;
    for (const auto &[column, first] : codes) {
        const QString none = column + QStringLiteral(" = '' OR ") + column + QStringLiteral(" IS NULL");
        sets << column + QStringLiteral(" = CASE WHEN ") + none + QStringLiteral(" THEN ")
                    + Connection::quoted(first) + QStringLiteral(" ELSE ") + column
                    + QStringLiteral(" END");
        missing << none;
    }
    if (!today.isEmpty()) {
        for (const QString column : {QStringLiteral("Birthday"), QStringLiteral("StartDate")}) {
            sets << column + QStringLiteral(" = COALESCE(") + column + QStringLiteral(", ")
                        + Connection::quoted(today) + QStringLiteral(")");
            missing << column + QStringLiteral(" IS NULL");
        }
    }
    if (sets.isEmpty())
        return QString();
    return QStringLiteral(" UPDATE HolderData SET ") + sets.join(QStringLiteral(" , "))
           + QStringLiteral(" WHERE ") + missing.join(QStringLiteral(" OR ")) + QStringLiteral(" ");
}

} // namespace zq::forms::holder
