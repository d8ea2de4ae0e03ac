#pragma once

#include "zqdata_export.h"

#include "Dialect.h"
#include "RowCodec.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QLoggingCategory>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zq::data {

class Connection;

/// The log of what a direct way handed to the reference way ("zq.data.fallback").
ZQDATA_EXPORT const QLoggingCategory &lcFallback();

/// The way a connection's statements go: through the engine's own client library where it
/// can (SQLite, PostgreSQL), or through Qt's SQL driver alone (Reference).
enum class BackendKind { SQLite, PostgreSQL, Reference };

/// Named parameters of a statement (":date1") and their values.
using Parameters = QList<QPair<QString, QVariant>>;

/// The value as it is sent to the database: date-times as zone-free text.
ZQDATA_EXPORT QVariant boundValue(const QVariant &value);

/// The current row of a text reader: each value's UTF-8 bytes followed by a NUL.
struct TextCell
{
    qsizetype offset = 0;
    qsizetype size = 0;
    bool null = true;
    bool text = true;
};
struct TextRowBuffer
{
    std::string row;
    QList<TextCell> cells;
    QString error;
    void fail(const QString &driverText)
    {
        error = driverText.isEmpty() ? QStringLiteral("the statement failed") : driverText;
    }
};

/// A backend's reader of one SELECT, forward only (see `TextRows`).
class TextCursor
{
public:
    virtual ~TextCursor();
    /// Runs the statement. False when it failed (the reason in the buffer) or, with
    /// `declined` set, when this way cannot read it (nothing was run).
    virtual bool exec(const QByteArray &sql, bool &declined) = 0;
    /// 1 for a row, 0 at the end, -1 on a failure.
    virtual int next() = 0;
    virtual void finish() = 0;
    /// The value as Qt's driver hands it over.
    virtual QVariant value(int column) const = 0;
    virtual QString name(int column) const = 0;
};

/// The rows a bulk writer has collected, in the form its target asked for.
struct BulkRows
{
    struct Value
    {
        qsizetype begin = 0;
        qsizetype size = -1; // -1: NULL
        qint64 integer = 0;
        bool isInteger = false;
    };
    QByteArray bytes; // COPY's text format (`copyText`), or the values back to back
    std::vector<Value> values;
    qsizetype rows = 0;
    bool copyText = false;
    bool integersAsText = false;
    bool rowStarted = false;
    int columns() const { return int(values.size() / qMax<qsizetype>(1, rows)); }
};

/// What a bulk writer writes: inserts of `columns` into `table`, or with `key`, updates of
/// `columns` in the rows whose `key` holds each row's first value.
struct BulkSpec
{
    QString table;
    QStringList columns;
    QString key;
    /// The statement that writes one row, its values bound by position (`?`): for an
    /// update, the key's value last.
    QString rowStatement() const;
};

/// Where a bulk writer's rows go (see `BulkWriter`).
class BulkTarget
{
public:
    virtual ~BulkTarget();
    virtual bool prepare(QString &error) = 0;
    virtual bool isPrepared() const = 0;
    /// How the rows are to be collected.
    virtual bool copyText() const { return false; }
    virtual bool integersAsText() const { return false; }
    /// Writes (or sends, where the engine can write while the caller goes on) the rows.
    /// `written` counts the rows written at once; `ended` tells a transaction the engine
    /// ended itself.
    virtual bool send(const BulkRows &rows, qsizetype &written, QString &error, bool &ended) = 0;
    /// True while rows sent are being written.
    virtual bool isWriting() const { return false; }
    /// Waits for the rows sent; the first refusal's message in `error`.
    virtual bool takeAnswer(QString &error) { return true; }
    /// Lets go of the prepared statements (the connection is closing).
    virtual void release() = 0;
};

/// The engine seam of a connection: every way to the database other than the plain
/// statement goes through it. Each connection owns one, made by `make()` from the engine
/// kind. The engines' own backends read and write through their client libraries on the
/// driver's handle; the reference backend goes through Qt's SQL driver alone. A direct way
/// that cannot serve a statement hands it to the reference way, counted (`fallbacks()`) and
/// logged under `zq.data.fallback`; ZQ_DATA_BACKEND=reference makes every connection of
/// the process take the reference backend.
class ZQDATA_EXPORT Backend
{
public:
    /// The backend of `engine` for `connection`: `kind` when given, else the reference
    /// backend under ZQ_DATA_BACKEND=reference and the engine's own otherwise.
    static std::unique_ptr<Backend> make(Engine engine,
                                         Connection &connection,
                                         std::optional<BackendKind> kind = {});
    /// The kind the environment asks for (ZQ_DATA_BACKEND), if any.
    static std::optional<BackendKind> requestedKind();
    /// The engine's own kind of backend.
    static BackendKind ownKind(Engine engine)
    {
        return engine == Engine::PostgreSQL ? BackendKind::PostgreSQL : BackendKind::SQLite;
    }
    virtual ~Backend();
    Backend(const Backend &) = delete;
    Backend &operator=(const Backend &) = delete;

    virtual BackendKind kind() const = 0;
    Engine engine() const { return m_dialect.engine(); }
    const Dialect &dialect() const { return m_dialect; }

    /// Runs `sql` (one statement that reads) and puts its fields and rows into `sink`.
    /// Throws `DbError` (the connection's error list filled) when the statement fails.
    void readRows(const QString &sql, const Parameters &parameters, RowSink &sink);
    /// A reader of `sql`'s rows as text, run; nullptr when it failed (`rows.error` says why).
    std::unique_ptr<TextCursor> readText(const QByteArray &sql, TextRowBuffer &rows);
    /// A prepared bulk writing target; nullptr with `error` when the engine refused.
    std::unique_ptr<BulkTarget> bulkTarget(const BulkSpec &spec, QString &error);

    /// How often a direct way handed a statement to the reference way, and why last.
    int fallbacks() const { return m_fallbacks; }
    QString lastFallback() const { return m_lastFallback; }

protected:
    Backend(Engine engine, Connection &connection);
    /// The engine's own ways; each declines (false / nullptr with `reason`) what it cannot
    /// serve, before anything is changed. The reference backend declines nothing: it has
    /// none of them.
    virtual bool readRowsDirect(const QString &sql,
                                const Parameters &parameters,
                                RowSink &sink,
                                QString &reason);
    virtual std::unique_ptr<TextCursor> textCursorDirect(TextRowBuffer &rows);
    virtual std::unique_ptr<BulkTarget> bulkTargetDirect(const BulkSpec &spec);
    /// False with `reason` for what no direct way reads: a statement with parameters, or a
    /// precision policy other than the two the direct readers follow.
    bool readsDirectly(const Parameters &parameters, QString &reason) const;
    /// The driver's native handle when its type is `typeName` (or `otherName`), else null.
    void *driverHandle(const char *typeName, const char *otherName = nullptr) const;
    Connection &connection() const { return m_connection; }
    void fellBack(const char *what, const QString &reason);

private:
    void readRowsPlain(const QString &sql, const Parameters &parameters, RowSink &sink);
    const Dialect &m_dialect;
    Connection &m_connection;
    int m_fallbacks = 0;
    QString m_lastFallback;
};

/// The engines' own backends, for the factory.
std::unique_ptr<Backend> makeSQLiteBackend(Connection &connection);
std::unique_ptr<Backend> makePostgresBackend(Connection &connection);
/// The reference ways, which every backend falls back to.
std::unique_ptr<TextCursor> makePlainTextCursor(Connection &connection, TextRowBuffer &rows);
std::unique_ptr<BulkTarget> makePlainBulkTarget(Connection &connection, const BulkSpec &spec);

} // namespace zq::data
