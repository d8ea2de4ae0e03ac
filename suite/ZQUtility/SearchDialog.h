#pragma once

#include "Dialect.h"

#include <QString>
#include <QStringList>

namespace zq::data {
class Recordset;
}

namespace zq::suite {

class LanguageFile;

/// The operators the search dialog offers, in its order.
QStringList searchOperators();

/// `baseStatement` narrowed to the rows whose `field` compares to `value` by `op`. The
/// condition joins an existing top-level WHERE with AND (the old condition bracketed) and
/// goes in front of a top-level GROUP BY, HAVING, ORDER BY or LIMIT. LIKE matches `value`
/// anywhere in the field's text, ignoring case on every engine (in `dialect`'s way).
QString searchStatement(const QString &baseStatement,
                        const QString &field,
                        const QString &op,
                        const QString &value,
                        const zq::data::Dialect &dialect);

/// Asks for one condition and reopens `recordset` on the narrowed statement. Cancel leaves
/// the recordset as it was; a statement the database refuses leaves it closed.
void showSearchDialog(zq::data::Recordset &recordset,
                      const QString &baseStatement,
                      const LanguageFile &texts);

} // namespace zq::suite
