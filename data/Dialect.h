#pragma once

#include "zqdata_export.h"

#include <QString>

namespace zq::data {

/// The database engine behind a connection.
enum class Engine { SQLite, PostgreSQL };

/// Column kinds of the table definitions; each engine's dialect names its own types.
enum class ColumnType { Text, Integer, SmallInt, Numeric, DateTime, Blob };

/// What differs between the SQL of the engines. Statement builders ask the connection's
/// dialect instead of testing the engine; an engine's dialect overrides only what it
/// says otherwise than the common form.
class ZQDATA_EXPORT Dialect
{
public:
    virtual ~Dialect();
    static const Dialect &of(Engine engine);

    virtual Engine engine() const = 0;
    /// The column type of a `type` column (`width` characters for text; 0: unbounded).
    virtual QString typeName(ColumnType type, int width) const;
    /// `expression LIKE pattern`, ignoring case (of the ASCII letters at least).
    virtual QString likeIgnoringCase(const QString &expression, const QString &pattern) const;
    /// `expression` as a text for a pattern match (a number or date-time column included).
    virtual QString asText(const QString &expression) const;
    /// True for a date-time `column` whose value equals, to the second, the zone-free text
    /// "yyyy-MM-dd HH:mm:ss" bound to the next `?`, whatever form another program stored it in.
    virtual QString sameSecond(const QString &column) const = 0;
};

} // namespace zq::data
