#pragma once

#include <QString>
#include <QStringList>

namespace zq::data {
class Recordset;
}

namespace zq::forms::holder {

/// One code table of the holder window (departments, titles, types): names for the combo,
/// numbers in the same order.
struct CodeList
{
    QStringList numbers;
    QStringList names;
    bool complete = false; ///< the whole table was read
};

/// Reads a code table ordered by its number. An empty table first gets the row "1" named
/// `defaultName` + " #1"; holders without a code then get the first one. Failures end the
/// work quietly with what was read.
CodeList loadCodes(zq::data::Recordset &query,
                   const QString &table,
                   const QString &keyColumn,
                   const QString &nameColumn,
                   const QString &defaultName);

/// The departments a user may list (`userId` empty: every department), ordered by number;
/// none when they cannot be read.
CodeList loadDepartments(zq::data::Recordset &query, const QString &userId);

} // namespace zq::forms::holder
