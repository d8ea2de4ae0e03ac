// PostgreSQL's own reader of text rows: COPY on the driver's connection.
#include "Connection.h"
#include "PostgresParts.h"
#include "TextRows.h"

#include <QDateTime>
#include <QSqlError>
#include <QStringList>

#include <cctype>
#include <cstring>

namespace zq::data {

namespace {

// PostgreSQL: `COPY (statement) TO STDOUT` in text format on the driver's connection; the
// column types come from describing the statement first.
class PostgresTextCursor final : public TextCursor
{
public:
    // The types whose text Qt's driver hands over as it is (as QString), and the date-time
    // type of the site's date columns.
    static constexpr Oid kText = 25, kVarchar = 1043, kBpchar = 1042, kTimestamp = 1114;

    PostgresTextCursor(Connection &connection, PGconn *handle, TextRowBuffer &rows)
        : connection(connection)
        , conn(handle)
        , rows(rows)
    {}
    ~PostgresTextCursor() override { finish(); }

    Connection &connection;

    PGconn *conn;
    TextRowBuffer &rows;
    QList<Oid> types;
    QStringList names;
    bool copying = false;
    bool inTransaction = false;

    void failWith(const PGresult *result)
    {
        const QString text = QString::fromUtf8(result ? PQresultErrorMessage(result)
                                                      : PQerrorMessage(conn))
                                 .trimmed();
        const QString state = result ? QString::fromLatin1(
                                  PQresultErrorField(result, PG_DIAG_SQLSTATE))
                                     : QString();
        // A link gone under the statement is closed, so that the next command connects again.
        if (PQstatus(conn) == CONNECTION_BAD)
            connection.closeLostLink();
        connection.setErrorsFrom(QSqlError(
            QStringLiteral("Unable to fetch row"), text, QSqlError::StatementError, state));
        rows.fail(text.isEmpty() ? QStringLiteral("the link to the database was lost") : text);
    }

    bool exec(const QByteArray &sql, bool &declined) override
    {
        const PGTransactionStatusType status = PQtransactionStatus(conn);
        if (PQstatus(conn) != CONNECTION_OK || status == PQTRANS_ACTIVE
            || qstrcmp(pg_encoding_to_char(PQclientEncoding(conn)), "UTF8") != 0) {
            declined = true;
            rows.error = QStringLiteral("the connection is busy or not in UTF-8");
            return false;
        }
        inTransaction = status != PQTRANS_IDLE;
        PGresult *result = PQprepare(conn, "", sql.constData(), 0, nullptr);
        const bool prepared = PQresultStatus(result) == PGRES_COMMAND_OK;
        if (!prepared) {
            failWith(result);
            PQclear(result);
            return false;
        }
        PQclear(result);
        result = PQdescribePrepared(conn, "");
        if (PQresultStatus(result) != PGRES_COMMAND_OK) {
            failWith(result);
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
                declined = true;
                rows.error = QStringLiteral("a column is of a type read as other than text");
                return false;
            }
        }
        const QByteArray copy = "COPY (" + sql + ") TO STDOUT";
        if (!PQsendQuery(conn, copy.constData())) {
            failWith(nullptr);
            return false;
        }
        result = PQgetResult(conn);
        if (PQresultStatus(result) != PGRES_COPY_OUT) {
            while (PGresult *more = PQgetResult(conn))
                PQclear(more);
            failWith(result);
            PQclear(result);
            return false;
        }
        PQclear(result);
        copying = true;
        rows.cells.resize(types.size());
        return true;
    }

    int next() override
    {
        if (!copying)
            return 0;
        char *line = nullptr;
        const int size = PQgetCopyData(conn, &line, 0);
        if (size > 0) {
            const bool ok = split(line, size);
            PQfreemem(line);
            if (ok)
                return 1;
            connection.setErrors(
                {DbErrorItem{1, QString(), QStringLiteral("a row of the wrong shape")}});
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
        failWith(failure);
        PQclear(failure);
        return -1;
    }

    // One row of COPY's text format: fields split by tabs, \N for NULL, backslash escapes.
    bool split(const char *line, int size)
    {
        if (size > 0 && line[size - 1] == '\n')
            --size;
        rows.row.clear();
        const char *p = line;
        const char *end = line + size;
        for (int i = 0; i < rows.cells.size(); ++i) {
            TextCell &c = rows.cells[i];
            const char *stop = static_cast<const char *>(std::memchr(p, '\t', size_t(end - p)));
            if (!stop)
                stop = end;
            if ((stop == end) != (i + 1 == rows.cells.size()))
                return false;
            c.offset = qsizetype(rows.row.size());
            c.null = stop - p == 2 && p[0] == '\\' && p[1] == 'N';
            c.text = types.at(i) != kTimestamp;
            if (!c.null)
                unescape(rows.row, p, stop);
            c.size = qsizetype(rows.row.size()) - c.offset;
            rows.row.push_back('\0');
            p = stop + 1;
        }
        for (int i = 0; i < rows.cells.size(); ++i) {
            TextCell &c = rows.cells[i];
            if (c.text && !c.null)
                c.text = isPlainUtf8(QByteArrayView(rows.row.data() + c.offset, c.size));
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
    QVariant value(int i) const override
    {
        const bool timestamp = types.at(i) == kTimestamp;
        const TextCell &cell = rows.cells.at(i);
        if (cell.null)
            return QVariant(timestamp ? QMetaType::fromType<QDateTime>()
                                      : QMetaType::fromType<QString>(),
                            nullptr);
        const QByteArrayView text(rows.row.data() + cell.offset, cell.size);
        if (timestamp)
            return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
        return QString::fromUtf8(text);
    }
};

} // namespace

std::unique_ptr<TextCursor> makePostgresTextCursor(Connection &connection,
                                                   PGconn *handle,
                                                   TextRowBuffer &rows)
{
    return std::make_unique<PostgresTextCursor>(connection, handle, rows);
}

} // namespace zq::data
