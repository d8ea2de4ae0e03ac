#include "Backend.h"

#include "Connection.h"
#include "Schema.h"
#include "TextRows.h"

#include <QCoreApplication>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

namespace zq::data {

// Warnings only unless asked for (QT_LOGGING_RULES="zq.data.fallback.info=true"): a
// statement with parameters goes the reference way by design, and a listing must not
// write a line each time.
Q_LOGGING_CATEGORY(lcFallback, "zq.data.fallback", QtWarningMsg)

namespace {

QString recordsetText(const char *text)
{
    return QCoreApplication::translate("zq::data::Recordset", text);
}

[[noreturn]] void throwFailure(Connection &c, const QString &message)
{
    const QList<DbErrorItem> items{DbErrorItem{-1, QString(), message}};
    c.setErrors(items);
    throw DbError(items);
}

[[noreturn]] void throwFailure(Connection &c, const QSqlError &error)
{
    c.setErrorsFrom(error);
    throw DbError(c.errors());
}

// Qt's SQL driver alone: the way every backend falls back to.
class ReferenceBackend final : public Backend
{
public:
    ReferenceBackend(Engine engine, Connection &connection)
        : Backend(engine, connection)
    {}
    BackendKind kind() const override { return BackendKind::Reference; }
};

} // namespace

QVariant boundValue(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QVariant();
    switch (value.metaType().id()) {
    case QMetaType::QDateTime:
        return Connection::dateTimeText(value.toDateTime());
    case QMetaType::QDate:
        return Connection::dateTimeText(value.toDate().startOfDay());
    default:
        return value;
    }
}

TextCursor::~TextCursor() = default;
BulkTarget::~BulkTarget() = default;

Backend::Backend(Engine engine, Connection &connection)
    : m_dialect(Dialect::of(engine))
    , m_connection(connection)
{}

Backend::~Backend() = default;

std::optional<BackendKind> Backend::requestedKind()
{
    const QByteArray wanted = qgetenv("ZQ_DATA_BACKEND").trimmed().toLower();
    if (wanted == "reference")
        return BackendKind::Reference;
    if (!wanted.isEmpty() && wanted != "direct")
        qCWarning(lcFallback,
                  "ZQ_DATA_BACKEND=%s is neither 'reference' nor 'direct': the engines' own "
                  "backends are used",
                  wanted.constData());
    return std::nullopt;
}

std::unique_ptr<Backend> Backend::make(Engine engine,
                                       Connection &connection,
                                       std::optional<BackendKind> kind)
{
    if (!kind)
        kind = requestedKind();
    if (kind == BackendKind::Reference)
        return std::make_unique<ReferenceBackend>(engine, connection);
    return engine == Engine::PostgreSQL ? makePostgresBackend(connection)
                                        : makeSQLiteBackend(connection);
}

void *Backend::driverHandle(const char *typeName, const char *otherName) const
{
    if (!m_connection.isConnected())
        return nullptr;
    const QSqlDriver *driver = m_connection.database().driver();
    const QVariant handle = driver ? driver->handle() : QVariant();
    const char *type = handle.typeName();
    if (!type || (qstrcmp(type, typeName) != 0 && (!otherName || qstrcmp(type, otherName) != 0)))
        return nullptr;
    return *static_cast<void *const *>(handle.constData());
}

void Backend::fellBack(const char *what, const QString &reason)
{
    ++m_fallbacks;
    m_lastFallback = QStringLiteral("%1: %2").arg(QLatin1String(what), reason);
    qCInfo(lcFallback,
           "%s (%s): %s goes through Qt's driver: %s",
           qPrintable(m_connection.connectionName()),
           kind() == BackendKind::PostgreSQL ? "PostgreSQL" : "SQLite",
           what,
           qPrintable(reason));
}

bool Backend::readRowsDirect(const QString &, const Parameters &, RowSink &, QString &reason)
{
    reason = QStringLiteral("no direct way");
    return false;
}

std::unique_ptr<TextCursor> Backend::textCursorDirect(TextRowBuffer &)
{
    return nullptr;
}

std::unique_ptr<BulkTarget> Backend::bulkTargetDirect(const BulkSpec &)
{
    return nullptr;
}

bool Backend::readsDirectly(const Parameters &parameters, QString &reason) const
{
    const QSqlDriver *driver = m_connection.database().driver();
    const QSql::NumericalPrecisionPolicy policy = driver ? driver->numericalPrecisionPolicy()
                                                         : QSql::HighPrecision;
    if (!parameters.isEmpty())
        reason = QStringLiteral("the statement has parameters");
    else if (policy != QSql::HighPrecision && policy != QSql::LowPrecisionDouble)
        reason = QStringLiteral("another precision policy");
    else
        return true;
    return false;
}

QString BulkSpec::rowStatement() const
{
    if (key.isEmpty()) {
        const QStringList marks(columns.size(), QStringLiteral("?"));
        return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
            .arg(table, columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
    }
    return QStringLiteral("UPDATE %1 SET %2 = ? WHERE %3 = ?")
        .arg(table, columns.join(QStringLiteral(" = ?, ")), key);
}

void Backend::readRows(const QString &sql, const Parameters &parameters, RowSink &sink)
{
    if (kind() != BackendKind::Reference) {
        QString reason;
        if (readRowsDirect(sql, parameters, sink, reason))
            return;
        sink.clear();
        fellBack("a listing", reason);
    }
    readRowsPlain(sql, parameters, sink);
}

void Backend::readRowsPlain(const QString &sql, const Parameters &parameters, RowSink &sink)
{
    Connection &c = m_connection;
    QSqlQuery q(c.database());
    q.setForwardOnly(true);
    bool ok;
    if (parameters.isEmpty()) {
        ok = q.exec(sql);
    } else {
        ok = q.prepare(sql);
        if (ok) {
            for (const auto &p : parameters) {
                if (sql.contains(p.first))
                    q.bindValue(p.first, boundValue(p.second));
            }
            ok = q.exec();
        }
    }
    if (!ok)
        throwFailure(c, q.lastError());
    if (!q.isSelect())
        throwFailure(c, recordsetText("The statement returns no rows."));
    c.clearErrors();
    const QSqlRecord rec = q.record();
    const int columns = rec.count();
    std::vector<FieldKind> kinds;
    for (int i = 0; i < columns; ++i) {
        const QSqlField f = rec.field(i);
        FieldKind kind = FieldKind::Plain;
        const int type = f.metaType().id();
        if (type == QMetaType::QByteArray)
            kind = FieldKind::Blob;
        else if (type == QMetaType::QDateTime || type == QMetaType::QDate
                 || isDateTimeColumn(f.name()))
            kind = FieldKind::DateTime;
        sink.addField(f.name(), kind);
        kinds.push_back(kind);
    }
    while (q.next()) {
        RowCodec &row = sink.beginRow();
        for (int i = 0; i < columns; ++i)
            row.putColumn(q.value(i), kinds[size_t(i)]);
        sink.endRow();
    }
    // A statement that fails after its first rows (a value it cannot compute) ends the
    // rows early; what was read is not the statement's result.
    if (q.lastError().isValid())
        throwFailure(c, q.lastError());
}

std::unique_ptr<TextCursor> Backend::readText(const QByteArray &sql, TextRowBuffer &rows)
{
    if (kind() != BackendKind::Reference) {
        if (std::unique_ptr<TextCursor> direct = textCursorDirect(rows)) {
            bool declined = false;
            if (direct->exec(sql, declined))
                return direct;
            if (!declined)
                return nullptr;
            fellBack("a text reading", rows.error);
        } else {
            fellBack("a text reading", QStringLiteral("the driver gives no handle"));
        }
        rows = TextRowBuffer();
    }
    std::unique_ptr<TextCursor> plain = makePlainTextCursor(m_connection, rows);
    bool declined = false;
    if (!plain->exec(sql, declined))
        return nullptr;
    return plain;
}

std::unique_ptr<BulkTarget> Backend::bulkTarget(const BulkSpec &spec, QString &error)
{
    if (kind() != BackendKind::Reference) {
        std::unique_ptr<BulkTarget> direct = bulkTargetDirect(spec);
        if (direct && direct->prepare(error))
            return direct;
        fellBack("a bulk write", direct ? error : QStringLiteral("the driver gives no handle"));
        error.clear();
    }
    std::unique_ptr<BulkTarget> plain = makePlainBulkTarget(m_connection, spec);
    if (!plain->prepare(error))
        return nullptr;
    return plain;
}

} // namespace zq::data
