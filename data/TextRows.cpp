#include "TextRows.h"

#include "Connection.h"

#include <QDateTime>
#include <QSqlDriver>
#include <QSqlError>
#include <QStringList>

#include <cctype>
#include <cstring>
#include <libpq-fe.h>
#include <sqlite3.h>

namespace zq::data {

bool isPlainUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const uchar *end = p + bytes.size();
    while (p < end) {
        // Most values are ASCII: take them eight bytes at a time.
        while (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ULL)
                break;
            p += 8;
        }
        if (p >= end)
            break;
        const uchar c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int length = 0;
        char32_t code = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (end - p < length)
            return false;
        for (int k = 1; k < length; ++k) {
            if ((p[k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[k] & 0x3F);
        }
        // Over-long forms, surrogates, beyond U+10FFFF; and the byte-order mark and U+FFFE,
        // U+FFFF, which SQLite's UTF-16 conversion or Qt's decoder would not keep.
        if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF))
            || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFEFF || code == 0xFFFE
            || code == 0xFFFF)
            return false;
        p += length;
    }
    return true;
}

struct TextRows::Engine
{
    virtual ~Engine() = default;
    // False when the statement failed (the reason given to `rows.fail`) or, with
    // `rows.m_unavailable` set, when this connection cannot be read this way.
    virtual bool exec(TextRows &rows, const QByteArray &sql) = 0;
    // 1 for a row, 0 at the end, -1 on a failure.
    virtual int next(TextRows &rows) = 0;
    virtual void finish() = 0;
    virtual QVariant value(const TextRows &rows, int column) const = 0;
    virtual QString name(int column) const = 0;
};

namespace {

QList<DbErrorItem> errorItems(int nativeCode, const QString &state, const QString &text)
{
    return {DbErrorItem{nativeCode, state, text}};
}

} // namespace

// SQLite: the statement stepped on the driver's handle. Values are read as the driver reads
// them (see value()), except that text is taken as the UTF-8 the file holds.
struct TextRows::SQLite : TextRows::Engine
{
    explicit SQLite(sqlite3 *handle)
        : db(handle)
    {}
    ~SQLite() override { finish(); }

    sqlite3 *db;
    sqlite3_stmt *stmt = nullptr;
    int pending = 0; // the result of the first step, taken by the first next()

    void failWith(TextRows &rows, const char *driverText)
    {
        const int code = sqlite3_extended_errcode(db);
        rows.m_connection->setErrorsFrom(QSqlError(QString::fromUtf8(driverText),
                                                   QString::fromUtf8(sqlite3_errmsg(db)),
                                                   QSqlError::StatementError,
                                                   QString::number(code)));
        rows.fail(QString::fromUtf8(sqlite3_errmsg(db)));
    }

    bool utf8File()
    {
        sqlite3_stmt *pragma = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA encoding", -1, &pragma, nullptr) != SQLITE_OK)
            return false;
        const bool utf8 = sqlite3_step(pragma) == SQLITE_ROW
                          && qstrcmp(reinterpret_cast<const char *>(sqlite3_column_text(pragma, 0)),
                                     "UTF-8")
                                 == 0;
        sqlite3_finalize(pragma);
        return utf8;
    }

    bool exec(TextRows &rows, const QByteArray &sql) override
    {
        // A file in a UTF-16 encoding would hand its text over converted: Qt's way then.
        if (!utf8File()) {
            rows.m_unavailable = true;
            return false;
        }
        const char *tail = nullptr;
        if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()) + 1, &stmt, &tail) != SQLITE_OK
            || !stmt) {
            failWith(rows, "Unable to execute statement");
            return false;
        }
        while (tail && *tail && uchar(*tail) <= ' ')
            ++tail;
        if (tail && *tail) {
            rows.m_connection->setErrors(
                errorItems(-1, QString(), QStringLiteral("more than one statement")));
            rows.fail(QStringLiteral("more than one statement"));
            return false;
        }
        rows.m_cells.resize(sqlite3_column_count(stmt));
        // The first step runs here, as with the driver, so that a statement that cannot
        // run fails before any row is asked for.
        pending = sqlite3_step(stmt);
        if (pending != SQLITE_ROW && pending != SQLITE_DONE) {
            failWith(rows, "Unable to fetch row");
            finish();
            return false;
        }
        return true;
    }

    int next(TextRows &rows) override
    {
        if (!stmt)
            return 0;
        const int rc = pending ? pending : sqlite3_step(stmt);
        pending = 0;
        if (rc == SQLITE_DONE) {
            finish();
            return 0;
        }
        if (rc != SQLITE_ROW) {
            failWith(rows, "Unable to fetch row");
            finish();
            return -1;
        }
        rows.m_row.clear();
        for (int i = 0; i < rows.m_cells.size(); ++i) {
            Cell &c = rows.m_cells[i];
            const int type = sqlite3_column_type(stmt, i);
            c.offset = rows.m_row.size();
            c.size = 0;
            c.null = type == SQLITE_NULL;
            c.text = type == SQLITE_NULL;
            if (type == SQLITE_TEXT) {
                const char *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, i));
                const int size = sqlite3_column_bytes(stmt, i);
                c.text = isPlainUtf8(QByteArrayView(text, size));
                if (c.text) {
                    rows.m_row.append(text, size);
                    c.size = size;
                }
            }
            rows.m_row.push_back('\0');
        }
        return 1;
    }

    void finish() override
    {
        if (stmt)
            sqlite3_finalize(stmt);
        stmt = nullptr;
    }

    // As Qt's SQLite driver names columns: without double quotes.
    QString name(int i) const override
    {
        return stmt ? QString(static_cast<const QChar *>(sqlite3_column_name16(stmt, i)))
                          .remove(u'"')
                    : QString();
    }
    // As Qt's SQLite driver hands values over.
    QVariant value(const TextRows &, int i) const override
    {
        switch (sqlite3_column_type(stmt, i)) {
        case SQLITE_BLOB:
            return QByteArray(static_cast<const char *>(sqlite3_column_blob(stmt, i)),
                              sqlite3_column_bytes(stmt, i));
        case SQLITE_INTEGER:
            return QVariant(qlonglong(sqlite3_column_int64(stmt, i)));
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(stmt, i));
        case SQLITE_NULL:
            return QVariant(QMetaType::fromType<QString>());
        default:
            return QString(static_cast<const QChar *>(sqlite3_column_text16(stmt, i)),
                           sqlite3_column_bytes16(stmt, i) / qsizetype(sizeof(QChar)));
        }
    }
};

// PostgreSQL: `COPY (statement) TO STDOUT` in text format on the driver's connection; the
// column types come from describing the statement first.
struct TextRows::Postgres : TextRows::Engine
{
    // The types whose text Qt's driver hands over as it is (as QString), and the date-time
    // type of the site's date columns.
    static constexpr Oid kText = 25, kVarchar = 1043, kBpchar = 1042, kTimestamp = 1114;

    explicit Postgres(PGconn *handle)
        : conn(handle)
    {}
    ~Postgres() override { finish(); }

    PGconn *conn;
    QList<Oid> types;
    QStringList names;
    bool copying = false;
    bool inTransaction = false;

    void failWith(TextRows &rows, const PGresult *result)
    {
        const QString text = QString::fromUtf8(result ? PQresultErrorMessage(result)
                                                      : PQerrorMessage(conn))
                                 .trimmed();
        const QString state = result ? QString::fromLatin1(
                                  PQresultErrorField(result, PG_DIAG_SQLSTATE))
                                     : QString();
        // A link gone under the statement is closed, so that the next command connects again.
        if (PQstatus(conn) == CONNECTION_BAD)
            rows.m_connection->closeLostLink();
        rows.m_connection->setErrorsFrom(QSqlError(
            QStringLiteral("Unable to fetch row"), text, QSqlError::StatementError, state));
        rows.fail(text.isEmpty() ? QStringLiteral("the link to the database was lost") : text);
    }

    bool exec(TextRows &rows, const QByteArray &sql) override
    {
        const PGTransactionStatusType status = PQtransactionStatus(conn);
        if (PQstatus(conn) != CONNECTION_OK || status == PQTRANS_ACTIVE
            || qstrcmp(pg_encoding_to_char(PQclientEncoding(conn)), "UTF8") != 0) {
            rows.m_unavailable = true;
            return false;
        }
        inTransaction = status != PQTRANS_IDLE;
        PGresult *result = PQprepare(conn, "", sql.constData(), 0, nullptr);
        const bool prepared = PQresultStatus(result) == PGRES_COMMAND_OK;
        if (!prepared) {
            failWith(rows, result);
            PQclear(result);
            return false;
        }
        PQclear(result);
        result = PQdescribePrepared(conn, "");
        if (PQresultStatus(result) != PGRES_COMMAND_OK) {
            failWith(rows, result);
            PQclear(result);
            return false;
        }
        types.clear();
        names.clear();
        for (int i = 0; i < PQnfields(result); ++i) {
            types << PQftype(result, i);
            names << QString::fromUtf8(PQfname(result, i));
        }
        PQclear(result);
        for (const Oid type : std::as_const(types)) {
            if (type != kText && type != kVarchar && type != kBpchar && type != kTimestamp) {
                rows.m_unavailable = true;
                return false;
            }
        }
        const QByteArray copy = "COPY (" + sql + ") TO STDOUT";
        if (!PQsendQuery(conn, copy.constData())) {
            failWith(rows, nullptr);
            return false;
        }
        result = PQgetResult(conn);
        if (PQresultStatus(result) != PGRES_COPY_OUT) {
            while (PGresult *more = PQgetResult(conn))
                PQclear(more);
            failWith(rows, result);
            PQclear(result);
            return false;
        }
        PQclear(result);
        copying = true;
        rows.m_cells.resize(types.size());
        return true;
    }

    int next(TextRows &rows) override
    {
        if (!copying)
            return 0;
        char *line = nullptr;
        const int size = PQgetCopyData(conn, &line, 0);
        if (size > 0) {
            const bool ok = split(rows, line, size);
            PQfreemem(line);
            if (ok)
                return 1;
            rows.m_connection->setErrors(
                errorItems(1, QString(), QStringLiteral("a row of the wrong shape")));
            rows.fail(QStringLiteral("a row of the wrong shape"));
            finish();
            return -1;
        }
        copying = false;
        // Every result is taken before a failure is told: telling a lost link closes the
        // connection.
        PGresult *failure = nullptr;
        while (PGresult *result = PQgetResult(conn)) {
            if (PQresultStatus(result) != PGRES_COMMAND_OK && !failure)
                failure = result;
            else
                PQclear(result);
        }
        if (size == -1 && !failure)
            return 0;
        failWith(rows, failure);
        PQclear(failure);
        return -1;
    }

    // One row of COPY's text format: fields split by tabs, \N for NULL, backslash escapes.
    bool split(TextRows &rows, const char *line, int size)
    {
        if (size > 0 && line[size - 1] == '\n')
            --size;
        rows.m_row.clear();
        const char *p = line;
        const char *end = line + size;
        for (int i = 0; i < rows.m_cells.size(); ++i) {
            Cell &c = rows.m_cells[i];
            const char *stop = static_cast<const char *>(std::memchr(p, '\t', size_t(end - p)));
            if (!stop)
                stop = end;
            if ((stop == end) != (i + 1 == rows.m_cells.size()))
                return false;
            c.offset = rows.m_row.size();
            c.null = stop - p == 2 && p[0] == '\\' && p[1] == 'N';
            c.text = types.at(i) != kTimestamp;
            if (!c.null)
                unescape(rows.m_row, p, stop);
            c.size = rows.m_row.size() - c.offset;
            rows.m_row.push_back('\0');
            p = stop + 1;
        }
        for (int i = 0; i < rows.m_cells.size(); ++i) {
            Cell &c = rows.m_cells[i];
            if (c.text && !c.null)
                c.text = isPlainUtf8(QByteArrayView(rows.m_row.data() + c.offset, c.size));
        }
        return true;
    }

    static void unescape(std::string &out, const char *p, const char *end)
    {
        const char *slash = static_cast<const char *>(std::memchr(p, '\\', size_t(end - p)));
        if (!slash) {
            out.append(p, end - p);
            return;
        }
        out.append(p, slash - p);
        p = slash;
        while (p < end) {
            if (*p != '\\' || p + 1 == end) {
                out.push_back(*p++);
                continue;
            }
            const char c = p[1];
            p += 2;
            switch (c) {
            case 'b':
                out.push_back('\b');
                break;
            case 'f':
                out.push_back('\f');
                break;
            case 'n':
                out.push_back('\n');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'v':
                out.push_back('\v');
                break;
            default:
                if (c >= '0' && c <= '7') {
                    int value = c - '0';
                    for (int k = 0; k < 2 && p < end && *p >= '0' && *p <= '7'; ++k)
                        value = value * 8 + (*p++ - '0');
                    out.push_back(char(value));
                } else if (c == 'x' && p < end && std::isxdigit(uchar(*p))) {
                    int value = 0;
                    for (int k = 0; k < 2 && p < end && std::isxdigit(uchar(*p)); ++k, ++p)
                        value = value * 16
                                + (std::isdigit(uchar(*p)) ? *p - '0'
                                                           : (std::tolower(uchar(*p)) - 'a' + 10));
                    out.push_back(char(value));
                } else {
                    out.push_back(c);
                }
            }
        }
    }

    void finish() override
    {
        if (!copying)
            return;
        copying = false;
        // Outside a transaction block the server is told to stop; inside one a cancel would
        // abort the caller's transaction, so the rest is read and dropped.
        if (!inTransaction) {
            if (PGcancel *cancel = PQgetCancel(conn)) {
                char reason[256];
                PQcancel(cancel, reason, int(sizeof reason));
                PQfreeCancel(cancel);
            }
        }
        char *line = nullptr;
        while (PQgetCopyData(conn, &line, 0) > 0)
            PQfreemem(line);
        while (PGresult *result = PQgetResult(conn))
            PQclear(result);
    }

    QString name(int i) const override { return names.value(i); }
    // As Qt's PostgreSQL driver hands values over: text as it is, date-times read as ISO
    // date-times.
    QVariant value(const TextRows &rows, int i) const override
    {
        const bool timestamp = types.at(i) == kTimestamp;
        if (rows.isNull(i))
            return QVariant(timestamp ? QMetaType::fromType<QDateTime>()
                                      : QMetaType::fromType<QString>(),
                            nullptr);
        const QByteArrayView text = rows.text(i);
        if (timestamp)
            return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
        return QString::fromUtf8(text);
    }
};

TextRows::TextRows(Connection *connection)
    : m_connection(connection)
{}

TextRows::~TextRows() = default;

void TextRows::fail(const QString &driverText)
{
    m_error = driverText.isEmpty() ? QStringLiteral("the statement failed") : driverText;
}

bool TextRows::exec(const QString &sql)
{
    m_engine.reset();
    m_cells.clear();
    m_error.clear();
    m_unavailable = false;
    if (!m_connection || !m_connection->isConnected()) {
        m_unavailable = true;
        return false;
    }
    const QSqlDatabase db = m_connection->database();
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    const char *type = handle.typeName();
    if (m_connection->engine() == zq::data::Engine::SQLite && type
        && qstrcmp(type, "sqlite3*") == 0) {
        if (sqlite3 *h = *static_cast<sqlite3 *const *>(handle.constData()))
            m_engine = std::make_unique<SQLite>(h);
    } else if (m_connection->engine() == zq::data::Engine::PostgreSQL && type
               && (qstrcmp(type, "PGconn*") == 0 || qstrcmp(type, "pg_conn*") == 0)) {
        if (PGconn *h = *static_cast<PGconn *const *>(handle.constData()))
            m_engine = std::make_unique<Postgres>(h);
    }
    if (!m_engine) {
        m_unavailable = true;
        return false;
    }
    if (!m_engine->exec(*this, sql.toUtf8())) {
        m_engine.reset();
        m_cells.clear();
        return false;
    }
    return true;
}

bool TextRows::next()
{
    if (!m_engine)
        return false;
    const int got = m_engine->next(*this);
    if (got < 0 && m_error.isEmpty())
        fail(QString());
    return got > 0;
}

void TextRows::finish()
{
    if (m_engine)
        m_engine->finish();
}

QVariant TextRows::value(int column) const
{
    return m_engine ? m_engine->value(*this, column) : QVariant();
}

QString TextRows::columnName(int column) const
{
    return m_engine && column >= 0 && column < columnCount() ? m_engine->name(column) : QString();
}

} // namespace zq::data
