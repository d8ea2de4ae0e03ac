#include "Dialect.h"

namespace zq::data {

namespace {

// SQLite keeps a date-time as the text it was given, a bare date, a 'T' or fractions
// included; its LIKE ignores the case of ASCII letters.
class SQLiteDialect final : public Dialect
{
public:
    Engine engine() const override { return Engine::SQLite; }
    QString typeName(ColumnType type, int width) const override
    {
        switch (type) {
        case ColumnType::Numeric:
            return QStringLiteral("numeric");
        case ColumnType::DateTime:
            return QStringLiteral("timestamp");
        case ColumnType::Blob:
            return QStringLiteral("blob");
        default:
            return Dialect::typeName(type, width);
        }
    }
    QString sameSecond(const QString &column) const override
    {
        return QStringLiteral("datetime(%1) = ?").arg(column);
    }
};

class PostgresDialect final : public Dialect
{
public:
    Engine engine() const override { return Engine::PostgreSQL; }
    QString typeName(ColumnType type, int width) const override
    {
        switch (type) {
        case ColumnType::Numeric:
            return QStringLiteral("numeric(18,0)");
        case ColumnType::DateTime:
            return QStringLiteral("timestamp without time zone");
        case ColumnType::Blob:
            return QStringLiteral("bytea");
        default:
            return Dialect::typeName(type, width);
        }
    }
    // PostgreSQL's LIKE heeds case, and matches texts only.
    QString likeIgnoringCase(const QString &expression, const QString &pattern) const override
    {
        return expression + QStringLiteral(" ILIKE ") + pattern;
    }
    QString asText(const QString &expression) const override
    {
        return QStringLiteral("CAST(%1 AS TEXT)").arg(expression);
    }
    QString sameSecond(const QString &column) const override
    {
        return QStringLiteral("date_trunc('second', %1) = CAST(? AS timestamp)").arg(column);
    }
};

} // namespace

Dialect::~Dialect() = default;

const Dialect &Dialect::of(Engine engine)
{
    static const SQLiteDialect sqlite;
    static const PostgresDialect postgres;
    if (engine == Engine::PostgreSQL)
        return postgres;
    return sqlite;
}

QString Dialect::typeName(ColumnType type, int width) const
{
    switch (type) {
    case ColumnType::Text:
        return width > 0 ? QStringLiteral("varchar(%1)").arg(width) : QStringLiteral("text");
    case ColumnType::Integer:
        return QStringLiteral("integer");
    case ColumnType::SmallInt:
        return QStringLiteral("smallint");
    default:
        return QStringLiteral("text");
    }
}

QString Dialect::likeIgnoringCase(const QString &expression, const QString &pattern) const
{
    return expression + QStringLiteral(" LIKE ") + pattern;
}

QString Dialect::asText(const QString &expression) const
{
    return expression;
}

} // namespace zq::data
