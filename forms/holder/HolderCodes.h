#pragma once

#include <QList>
#include <QPair>
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
};

/// Reads a code table ordered by its number. An empty table first gets the row "1" named
/// `defaultName` + " #1". Failures end the work quietly with what was read.
CodeList loadCodes(zq::data::Recordset &query, const QString &table, const QString &keyColumn,
                   const QString &nameColumn, const QString &defaultName);

/// The one statement that gives every holder without a code ('' or NULL) of `codes` (its
/// column and the first code of its list) that code and, when `today` is not empty (date
/// text as Connection writes it), every holder without a birthday or a start date that day:
/// one pass over HolderData rather than one for each column. Empty when there is nothing to
/// give.
QString missingValuesUpdate(const QList<QPair<QString, QString>> &codes, const QString &today);

} // namespace zq::forms::holder
