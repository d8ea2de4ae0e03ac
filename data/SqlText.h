#pragma once

#include "zqdata_export.h"

#include <QString>

// Small lexical helpers over statement texts: where quotes and comments are, so that a
// statement can be checked to be exactly one statement and its base table found.
namespace zq::data::sqltext {

/// "" when `sql` is one statement (an optional trailing ';' and blanks allowed); otherwise
/// the reason for refusing it. Quoted strings, quoted names, dollar-quoted strings and
/// comments are skipped, so a ';' inside a value never counts.
ZQDATA_EXPORT QString singleStatementRefusal(const QString &sql);

/// The single table after FROM of a "SELECT ... FROM Table [alias] [WHERE ...] [ORDER BY ...]"
/// statement; "" for joins, several tables, sub-selects, grouping or anything else.
ZQDATA_EXPORT QString baseTableOf(const QString &sql);

/// True when `sql` begins, after blanks, comments and opening parentheses, with SELECT, WITH,
/// VALUES or TABLE: a statement that asks for rows.
ZQDATA_EXPORT bool startsAsQuery(const QString &sql);

/// True when the keyword `word` occurs in `sql` outside quotes and comments.
ZQDATA_EXPORT bool containsKeyword(const QString &sql, const QString &word);

} // namespace zq::data::sqltext
