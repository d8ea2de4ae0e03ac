// SQLite's own backend: listings, text rows and bulk writes stepped on the driver's handle.
#include "Backend.h"
#include "Connection.h"
#include "Schema.h"
#include "SqlText.h"
#include "TextRows.h"

#include <QCoreApplication>
#include <QSqlDriver>
#include <QSqlError>

#include <sqlite3.h>

namespace zq::data {

namespace {

// Text of a reader stepped on the handle. Values are read as the driver reads them (see
// value()), except that text is taken as the UTF-8 the file holds.
class SQLiteTextCursor final : public TextCursor
{
public:
    SQLiteTextCursor(Connection &connection, sqlite3 *handle, TextRowBuffer &rows)
        : m_connection(connection)
        , m_db(handle)
        , m_rows(rows)
    {}
    ~SQLiteTextCursor() override { finish(); }

    bool exec(const QByteArray &sql, bool &declined) override;
    int next() override;
    void finish() override
    {
        if (m_stmt)
            sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
    // As Qt's SQLite driver names columns: without double quotes.
    QString name(int i) const override
    {
        return m_stmt ? QString(static_cast<const QChar *>(sqlite3_column_name16(m_stmt, i)))
                            .remove(u'"')
                      : QString();
    }
    QVariant value(int i) const override;

private:
    void failWith(const char *driverText)
    {
        const int code = sqlite3_extended_errcode(m_db);
        m_connection.setErrorsFrom(QSqlError(QString::fromUtf8(driverText),
                                             QString::fromUtf8(sqlite3_errmsg(m_db)),
                                             QSqlError::StatementError,
                                             QString::number(code)));
        m_rows.fail(QString::fromUtf8(sqlite3_errmsg(m_db)));
    }
    bool utf8File();

    Connection &m_connection;
    sqlite3 *m_db;
    TextRowBuffer &m_rows;
    sqlite3_stmt *m_stmt = nullptr;
    int m_pending = 0; // the result of the first step, taken by the first next()
};

bool SQLiteTextCursor::utf8File()
{
    sqlite3_stmt *pragma = nullptr;
    if (sqlite3_prepare_v2(m_db, "PRAGMA encoding", -1, &pragma, nullptr) != SQLITE_OK)
        return false;
    const bool utf8 = sqlite3_step(pragma) == SQLITE_ROW
                      && qstrcmp(reinterpret_cast<const char *>(sqlite3_column_text(pragma, 0)),
                                 "UTF-8")
                             == 0;
    sqlite3_finalize(pragma);
    return utf8;
}

bool SQLiteTextCursor::exec(const QByteArray &sql, bool &declined)
{
    // A file in a UTF-16 encoding would hand its text over converted: Qt's way then.
    if (!utf8File()) {
        declined = true;
        m_rows.error = QStringLiteral("the file is not in UTF-8");
        return false;
    }
    const char *tail = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()) + 1, &m_stmt, &tail) != SQLITE_OK
        || !m_stmt) {
        failWith("Unable to execute statement");
        return false;
    }
    while (tail && *tail && uchar(*tail) <= ' ')
        ++tail;
    if (tail && *tail) {
        m_connection.setErrors(
            {DbErrorItem{-1, QString(), QStringLiteral("more than one statement")}});
        m_rows.fail(QStringLiteral("more than one statement"));
        return false;
    }
    m_rows.cells.resize(sqlite3_column_count(m_stmt));
    // The first step runs here, as with the driver, so that a statement that cannot run
    // fails before any row is asked for.
    m_pending = sqlite3_step(m_stmt);
    if (m_pending != SQLITE_ROW && m_pending != SQLITE_DONE) {
        failWith("Unable to fetch row");
        finish();
        return false;
    }
    return true;
}

int SQLiteTextCursor::next()
{
    if (!m_stmt)
        return 0;
    const int rc = m_pending ? m_pending : sqlite3_step(m_stmt);
    m_pending = 0;
    if (rc == SQLITE_DONE) {
        finish();
        return 0;
    }
    if (rc != SQLITE_ROW) {
        failWith("Unable to fetch row");
        finish();
        return -1;
    }
    m_rows.row.clear();
    for (int i = 0; i < m_rows.cells.size(); ++i) {
        TextCell &c = m_rows.cells[i];
        const int type = sqlite3_column_type(m_stmt, i);
        c.offset = qsizetype(m_rows.row.size());
        c.size = 0;
        c.null = type == SQLITE_NULL;
        c.text = type == SQLITE_NULL;
        if (type == SQLITE_TEXT) {
            const char *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, i));
            const int size = sqlite3_column_bytes(m_stmt, i);
            c.text = isPlainUtf8(QByteArrayView(text, size));
            if (c.text) {
                m_rows.row.append(text, size_t(size));
                c.size = size;
            }
        }
        m_rows.row.push_back('\0');
    }
    return 1;
}

// As Qt's SQLite driver hands values over.
QVariant SQLiteTextCursor::value(int i) const
{
    switch (sqlite3_column_type(m_stmt, i)) {
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(m_stmt, i)),
                          sqlite3_column_bytes(m_stmt, i));
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(m_stmt, i)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_stmt, i));
    case SQLITE_NULL:
        return QVariant(QMetaType::fromType<QString>());
    default:
        return QString(static_cast<const QChar *>(sqlite3_column_text16(m_stmt, i)),
                       sqlite3_column_bytes16(m_stmt, i) / qsizetype(sizeof(QChar)));
    }
}

// One statement prepared once and run per row.
class SQLiteBulkTarget final : public BulkTarget
{
public:
    SQLiteBulkTarget(sqlite3 *db, const BulkSpec &spec)
        : m_db(db)
        , m_spec(spec)
    {}
    ~SQLiteBulkTarget() override { release(); }

    bool prepare(QString &error) override
    {
        // An update binds the key first (?1), each column after it.
        QString sql = m_spec.rowStatement();
        if (!m_spec.key.isEmpty()) {
            QStringList sets;
            for (qsizetype i = 0; i < m_spec.columns.size(); ++i)
                sets << QStringLiteral("%1 = ?%2").arg(m_spec.columns.at(i)).arg(i + 2);
            sql = QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?1")
                      .arg(m_spec.table, sets.join(QStringLiteral(", ")), m_spec.key);
        }
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v3(m_db,
                               text.constData(),
                               int(text.size()),
                               SQLITE_PREPARE_PERSISTENT,
                               &m_statement,
                               nullptr)
            != SQLITE_OK) {
            error = QString::fromUtf8(sqlite3_errmsg(m_db));
            release();
            return false;
        }
        return true;
    }
    bool isPrepared() const override { return m_statement; }
    bool send(const BulkRows &rows, qsizetype &written, QString &error, bool &ended) override;
    void release() override
    {
        if (m_statement)
            sqlite3_finalize(m_statement);
        m_statement = nullptr;
    }

private:
    sqlite3 *m_db;
    BulkSpec m_spec;
    sqlite3_stmt *m_statement = nullptr;
};

bool SQLiteBulkTarget::send(const BulkRows &rows, qsizetype &written, QString &error, bool &ended)
{
    const bool inTransaction = sqlite3_get_autocommit(m_db) == 0;
    const int count = rows.columns();
    static const char empty[] = "";
    for (qsizetype row = 0; row < rows.rows; ++row) {
        for (int c = 0; c < count; ++c) {
            const BulkRows::Value &v = rows.values[size_t(row * count + c)];
            if (v.isInteger)
                sqlite3_bind_int64(m_statement, c + 1, v.integer);
            else if (v.size < 0)
                sqlite3_bind_null(m_statement, c + 1);
            else
                // A null pointer would bind NULL: an empty text needs a real one.
                sqlite3_bind_text(m_statement,
                                  c + 1,
                                  v.size ? rows.bytes.constData() + v.begin : empty,
                                  int(v.size),
                                  SQLITE_STATIC);
        }
        const int rc = sqlite3_step(m_statement);
        if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
            error = QString::fromUtf8(sqlite3_errmsg(m_db));
            sqlite3_reset(m_statement);
            ended = inTransaction && sqlite3_get_autocommit(m_db) != 0;
            return false;
        }
        sqlite3_reset(m_statement);
        ++written;
    }
    return true;
}

// The driver hands over integers as 64-bit numbers, reals as doubles (at the precision
// policies that keep them), blobs as bytes, NULL as a null text and text as UTF-16 from the
// engine. Text of ASCII characters only is the same in every encoding, so it is taken as the
// engine's UTF-8 bytes without a QString; other text takes the driver's way.
bool fetchRows(sqlite3_stmt *statement, int step, RowSink &sink)
{
    const int columns = sink.fieldCount();
    for (; step == SQLITE_ROW; step = sqlite3_step(statement)) {
        RowCodec &row = sink.beginRow();
        for (int i = 0; i < columns; ++i) {
            const bool dateTime = sink.fieldKind(i) == FieldKind::DateTime;
            QVariant value;
            switch (sqlite3_column_type(statement, i)) {
            case SQLITE_NULL:
                row.putNull();
                continue;
            case SQLITE_INTEGER:
                if (!dateTime) {
                    row.putInt64(sqlite3_column_int64(statement, i));
                    continue;
                }
                value = QVariant(qlonglong(sqlite3_column_int64(statement, i)));
                break;
            case SQLITE_FLOAT:
                value = QVariant(sqlite3_column_double(statement, i));
                break;
            case SQLITE_BLOB:
                value = QByteArray(static_cast<const char *>(sqlite3_column_blob(statement, i)),
                                   sqlite3_column_bytes(statement, i));
                break;
            default: {
                const auto *text = reinterpret_cast<const char *>(
                    sqlite3_column_text(statement, i));
                const int size = sqlite3_column_bytes(statement, i);
                if (text && RowCodec::isAscii(text, size_t(size))) {
                    row.putAscii(text, size_t(size), dateTime);
                    continue;
                }
                value = QString(static_cast<const QChar *>(sqlite3_column_text16(statement, i)),
                                sqlite3_column_bytes16(statement, i) / qsizetype(sizeof(QChar)));
                break;
            }
            }
            row.putColumn(value, sink.fieldKind(i));
        }
        sink.endRow();
    }
    return step == SQLITE_DONE;
}

class SQLiteBackend final : public Backend
{
public:
    explicit SQLiteBackend(Connection &connection)
        : Backend(Engine::SQLite, connection)
    {}
    BackendKind kind() const override { return BackendKind::SQLite; }

protected:
    bool readRowsDirect(const QString &sql,
                        const Parameters &parameters,
                        RowSink &sink,
                        QString &reason) override;
    std::unique_ptr<TextCursor> textCursorDirect(TextRowBuffer &rows) override
    {
        sqlite3 *db = handle();
        return db ? std::make_unique<SQLiteTextCursor>(connection(), db, rows) : nullptr;
    }
    std::unique_ptr<BulkTarget> bulkTargetDirect(const BulkSpec &spec) override
    {
        sqlite3 *db = handle();
        return db ? std::make_unique<SQLiteBulkTarget>(db, spec) : nullptr;
    }

private:
    sqlite3 *handle() const { return static_cast<sqlite3 *>(driverHandle("sqlite3*")); }
};

// A statement that only reads is stepped on the driver's own handle, its values packed
// without a QVariant each, which halves the cost of a listing next to reading it through
// Qt's driver. The fields are those the driver's record would have: its names, a blob by
// the declared type or else by the first row's value. Where anything is not as simple —
// parameters, another precision policy, a statement that writes or fails — nothing has
// been changed, and Qt's driver runs the statement, so that its errors read as they always
// did; only a lock that outlasted the busy timeout is told here, as the driver tells it.
bool SQLiteBackend::readRowsDirect(const QString &sql,
                                   const Parameters &parameters,
                                   RowSink &sink,
                                   QString &reason)
{
    if (!readsDirectly(parameters, reason))
        return false;
    sqlite3 *db = handle();
    if (!db) {
        reason = QStringLiteral("the driver gives no handle");
        return false;
    }
    sqlite3_stmt *stmt = nullptr;
    const void *tail = nullptr;
    const auto *text = reinterpret_cast<const char16_t *>(sql.utf16());
    const int bytes = int(sql.size() * qsizetype(sizeof(char16_t)));
    if (sqlite3_prepare16_v2(db, text, bytes, &stmt, &tail) != SQLITE_OK || !stmt) {
        sqlite3_finalize(stmt);
        reason = QStringLiteral("the statement does not prepare");
        return false;
    }
    const auto *rest = static_cast<const char16_t *>(tail);
    const bool single = !rest || QStringView(rest, text + sql.size() - rest).trimmed().isEmpty();
    const int columns = sqlite3_column_count(stmt);
    if (!single || columns == 0 || !sqlite3_stmt_readonly(stmt)) {
        sqlite3_finalize(stmt);
        reason = QStringLiteral("the statement is not one that only reads rows");
        return false;
    }
    const int step = sqlite3_step(stmt);
    if (step != SQLITE_ROW && step != SQLITE_DONE) {
        // Locked by another workstation for the whole busy timeout: the driver would have
        // waited as long and failed so; running it again would only wait twice.
        const int primary = step & 0xff;
        const QSqlError busy(QCoreApplication::translate("QSQLiteResult", "Unable to fetch row"),
                             QString(static_cast<const QChar *>(sqlite3_errmsg16(db))),
                             QSqlError::ConnectionError,
                             QString::number(step));
        sqlite3_finalize(stmt);
        if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
            connection().setErrorsFrom(busy);
            throw DbError(connection().errors());
        }
        reason = QStringLiteral("the statement failed");
        return false;
    }
    for (int i = 0; i < columns; ++i) {
        const QString name = QString(static_cast<const QChar *>(sqlite3_column_name16(stmt, i)))
                                 .remove(u'"');
        const QString declared(static_cast<const QChar *>(sqlite3_column_decltype16(stmt, i)));
        const bool blob = declared.isEmpty()
                              ? step == SQLITE_ROW && sqlite3_column_type(stmt, i) == SQLITE_BLOB
                              : declared.compare(QLatin1String("blob"), Qt::CaseInsensitive) == 0;
        sink.addField(name,
                      blob                     ? FieldKind::Blob
                      : isDateTimeColumn(name) ? FieldKind::DateTime
                                               : FieldKind::Plain);
    }
    const bool read = fetchRows(stmt, step, sink);
    sqlite3_finalize(stmt);
    if (!read) {
        reason = QStringLiteral("a row failed");
        return false;
    }
    connection().clearErrors();
    return true;
}

} // namespace

std::unique_ptr<Backend> makeSQLiteBackend(Connection &connection)
{
    return std::make_unique<SQLiteBackend>(connection);
}

} // namespace zq::data
