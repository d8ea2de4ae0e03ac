// PostgreSQL's own backend: listings read on libpq's connection, in a read-only
// transaction of their own; text rows (PostgresText.cpp) and bulk writes (PostgresBulk.cpp).
#include "Connection.h"
#include "PostgresParts.h"
#include "Schema.h"
#include "SqlText.h"

#include <QCoreApplication>
#include <QSqlDriver>
#include <QSqlError>

#include <exception>

namespace zq::data {

namespace {

bool send(PGconn *pg, const char *sql)
{
    return PQsendQueryParams(pg, sql, 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
}

struct ReadOnlyRun
{
    // The statement ran to its end and every result of rows was taken.
    bool read = false;
    // The first failure, with the connection's message when it came, as the driver reads it.
    PGresult *failure = nullptr;
    QByteArray message;
};

// Runs `sql` alone in a read-only transaction of its own, the three statements in one round
// trip, and hands each result of rows to `take` as it comes: one row at a time, so that a
// listing of every holder is never held twice, then the empty result that ends them. When
// anything failed the transaction is rolled back, so that nothing the statement did remains;
// a statement that would write is refused by the server before it changes anything. `take`
// returns false to take no more.
template<typename Take>
ReadOnlyRun readOnly(PGconn *pg, const QByteArray &sql, Take take)
{
    ReadOnlyRun run;
    if (PQenterPipelineMode(pg) != 1)
        return run;
    int queued = 0;
    for (const char *statement : {"BEGIN READ ONLY", sql.constData(), "COMMIT"}) {
        if (!send(pg, statement))
            break;
        ++queued;
    }
    bool ok = queued == 3;
    bool taking = true, ended = false;
    std::exception_ptr thrown;
    if (PQpipelineSync(pg) == 1) {
        // Each statement's results end with a null one; the pipeline's end comes last.
        for (int statement = 0; statement < queued; ++statement) {
            if (statement == 1)
                PQsetSingleRowMode(pg);
            while (PGresult *result = PQgetResult(pg)) {
                const ExecStatusType status = PQresultStatus(result);
                if (statement == 1 && (status == PGRES_SINGLE_TUPLE || status == PGRES_TUPLES_OK)) {
                    if (taking) {
                        // The pipeline is ended whatever happens while the rows are taken.
                        try {
                            taking = take(result);
                        } catch (...) {
                            taking = false;
                            thrown = std::current_exception();
                        }
                    }
                    ended = ended || status == PGRES_TUPLES_OK;
                } else if (status != PGRES_COMMAND_OK) {
                    ok = false;
                    if (!run.failure && status != PGRES_PIPELINE_ABORTED) {
                        run.failure = result;
                        run.message = PQerrorMessage(pg);
                        continue;
                    }
                }
                PQclear(result);
            }
        }
        PGresult *end = PQgetResult(pg);
        if (PQresultStatus(end) != PGRES_PIPELINE_SYNC)
            ok = false;
        PQclear(end);
    } else {
        ok = false;
    }
    if (PQexitPipelineMode(pg) != 1)
        ok = false;
    run.read = ok && ended && taking;
    if (!ok && PQstatus(pg) == CONNECTION_OK && PQpipelineStatus(pg) == PQ_PIPELINE_OFF
        && PQtransactionStatus(pg) != PQTRANS_IDLE)
        PQclear(PQexec(pg, "ROLLBACK"));
    if (thrown) {
        PQclear(run.failure);
        std::rethrow_exception(thrown);
    }
    return run;
}

// The error Qt's driver makes of a statement that failed on `result`.
QSqlError driverError(const PGresult *result, const QByteArray &message)
{
    QString text = QString::fromUtf8(message);
    QString state;
    if (result) {
        state = QString::fromLatin1(PQresultErrorField(result, PG_DIAG_SQLSTATE));
        text += QStringLiteral("(%1)").arg(state);
    }
    return QSqlError(QStringLiteral("QPSQL: ")
                         + QCoreApplication::translate("QPSQLResult", "Unable to create query"),
                     text,
                     QSqlError::StatementError,
                     state);
}

// How Qt's PostgreSQL driver turns the text of a value of each type into a QVariant.
enum class PgValue { Text, Bool, Int, Int8, Float, Numeric, Date, Time, DateTime, Bytea };

bool pgValueOf(unsigned int oid, PgValue &how)
{
    switch (oid) {
    case 16: // bool
        how = PgValue::Bool;
        return true;
    case 17: // bytea
        how = PgValue::Bytea;
        return true;
    case 18:   // "char"
    case 19:   // name
    case 25:   // text
    case 26:   // oid: the driver mistakes `void`'s number for it, and reads it as text
    case 1042: // bpchar
    case 1043: // varchar
        how = PgValue::Text;
        return true;
    case 20: // int8
        how = PgValue::Int8;
        return true;
    case 21:   // int2
    case 23:   // int4
    case 24:   // regproc
    case 28:   // xid
    case 29:   // cid
    case 2278: // void
        how = PgValue::Int;
        return true;
    case 700: // float4
    case 701: // float8
        how = PgValue::Float;
        return true;
    case 1700:
        how = PgValue::Numeric;
        return true;
    case 702:  // abstime
    case 703:  // reltime
    case 1082: // date
        how = PgValue::Date;
        return true;
    case 1083: // time
    case 1266: // timetz
        how = PgValue::Time;
        return true;
    case 1114: // timestamp
    case 1184: // timestamptz
        how = PgValue::DateTime;
        return true;
    default:
        return false;
    }
}

// A floating-point text as the driver reads it: what does not parse is NaN or an infinity
// by name, or else no value at all.
QVariant pgDouble(const char *text, int size)
{
    bool ok = false;
    double d = QByteArray::fromRawData(text, size).toDouble(&ok);
    if (!ok) {
        if (qstricmp(text, "NaN") == 0)
            d = qQNaN();
        else if (qstricmp(text, "Infinity") == 0)
            d = qInf();
        else if (qstricmp(text, "-Infinity") == 0)
            d = -qInf();
        else
            return QVariant();
    }
    return d;
}

} // namespace

namespace {

bool postgresKind(unsigned int oid, const QString &name, FieldKind &kind)
{
    PgValue how;
    if (!pgValueOf(oid, how))
        return false;
    kind = how == PgValue::Bytea ? FieldKind::Blob
           : how == PgValue::Date || how == PgValue::DateTime || isDateTimeColumn(name)
               ? FieldKind::DateTime
               : FieldKind::Plain;
    return true;
}

// Texts, integers and zone-free timestamps of the usual shape, most of a listing, are packed
// straight from the result's bytes; false for a value to be made as the driver makes it.
bool packPlain(RowCodec &row, PgValue how, const char *text, int size, bool dateTime)
{
    switch (how) {
    case PgValue::Text:
        if (!RowCodec::isAscii(text, size_t(size)))
            return false;
        row.putAscii(text, size_t(size), dateTime);
        return true;
    case PgValue::Int:
        if (dateTime)
            return false;
        row.putInt32(qint32(atoi(text)));
        return true;
    case PgValue::DateTime: {
        // The driver's QDateTime of "yyyy-MM-dd HH:mm:ss" (a zone-free timestamp without
        // fractions: one with a zone has its offset after) holds those very fields, which
        // is all the store keeps of it.
        QDate date;
        QTime time;
        if (size != 19 || text[10] != ' '
            || !RowCodec::splitDateTime(text, size_t(size), date, time))
            return false;
        row.putWallClock(date, time);
        return true;
    }
    default:
        return false;
    }
}

// The value Qt's PostgreSQL driver makes of the text of a value of that type; numeric
// values as their text when `numericAsText`, else as doubles.
QVariant driverValue(PgValue how, const char *text, int size, bool numericAsText)
{
    switch (how) {
    case PgValue::Text:
        return QString::fromUtf8(text, size);
    case PgValue::Bool:
        return QVariant(text[0] == 't');
    case PgValue::Int:
        return QVariant(atoi(text));
    case PgValue::Int8: {
        const QByteArray digits = QByteArray::fromRawData(text, size);
        return text[0] == '-' ? QVariant(digits.toLongLong()) : QVariant(digits.toULongLong());
    }
    case PgValue::Float:
        return pgDouble(text, size);
    case PgValue::Numeric:
        return numericAsText ? QVariant(QString::fromLatin1(text, size)) : pgDouble(text, size);
    case PgValue::Date:
        return QDate::fromString(QString::fromLatin1(text, size), Qt::ISODate);
    case PgValue::Time:
        return QTime::fromString(QString::fromLatin1(text, size), Qt::ISODate);
    case PgValue::DateTime:
        return QDateTime::fromString(QString::fromLatin1(text, size), Qt::ISODate).toLocalTime();
    case PgValue::Bytea: {
        size_t length = 0;
        unsigned char *bytes = PQunescapeBytea(reinterpret_cast<const unsigned char *>(text),
                                               &length);
        const QByteArray value(reinterpret_cast<const char *>(bytes), qsizetype(length));
        PQfreemem(bytes);
        return value;
    }
    }
    return QVariant();
}

// The rows of a result in text form whose columns `postgresKind` knows, each value as Qt's
// PostgreSQL driver would have handed it over.
void fetchRows(const PGresult *result,
               bool numericAsText,
               std::vector<unsigned char> &ways,
               RowSink &sink)
{
    auto *res = const_cast<PGresult *>(result);
    const int columns = sink.fieldCount();
    const int rows = PQntuples(res);
    // A statement's rows come in results of one row each; each column's way is found once.
    if (ways.size() != size_t(columns)) {
        ways.assign(size_t(columns), 0);
        for (int i = 0; i < columns; ++i) {
            PgValue how = PgValue::Text;
            pgValueOf(PQftype(res, i), how);
            ways[size_t(i)] = static_cast<unsigned char>(how);
        }
    }
    for (int r = 0; r < rows; ++r) {
        RowCodec &row = sink.beginRow();
        for (int i = 0; i < columns; ++i) {
            if (PQgetisnull(res, r, i)) {
                row.putNull();
                continue;
            }
            const char *text = PQgetvalue(res, r, i);
            const int size = PQgetlength(res, r, i);
            const FieldKind kind = sink.fieldKind(i);
            const auto how = static_cast<PgValue>(ways[size_t(i)]);
            if (!packPlain(row, how, text, size, kind == FieldKind::DateTime))
                row.putColumn(driverValue(how, text, size, numericAsText), kind);
        }
        sink.endRow();
    }
}

class PostgresBackend final : public Backend
{
public:
    explicit PostgresBackend(Connection &connection)
        : Backend(Engine::PostgreSQL, connection)
    {}
    BackendKind kind() const override { return BackendKind::PostgreSQL; }

protected:
    bool readRowsDirect(const QString &sql,
                        const Parameters &parameters,
                        RowSink &sink,
                        QString &reason) override;
    std::unique_ptr<TextCursor> textCursorDirect(TextRowBuffer &rows) override
    {
        PGconn *pg = handle();
        return pg ? makePostgresTextCursor(connection(), pg, rows) : nullptr;
    }
    std::unique_ptr<BulkTarget> bulkTargetDirect(const BulkSpec &spec) override
    {
        PGconn *pg = handle();
        return pg ? makePostgresBulkTarget(pg, spec) : nullptr;
    }

private:
    // Qt names the handle's type by its struct or by the typedef.
    PGconn *handle() const { return static_cast<PGconn *>(driverHandle("PGconn*", "pg_conn*")); }
};

// A statement that asks for rows is run on libpq's own connection and its values packed
// without a QVariant each, with the fields the driver's record would have. The server runs
// it in a read-only transaction, so a statement that would write is refused unchanged.
// Anything unusual — parameters, another precision policy, an open transaction, a type the
// driver's conversion is not followed for here, or any failure — leaves the statement to
// Qt's driver, so that its errors read as they always did.
bool PostgresBackend::readRowsDirect(const QString &sql,
                                     const Parameters &parameters,
                                     RowSink &sink,
                                     QString &reason)
{
    Connection &c = connection();
    if (!readsDirectly(parameters, reason))
        return false;
    PGconn *pg = handle();
    if (!sqltext::startsAsQuery(sql) || !pg) {
        reason = pg ? QStringLiteral("the statement does not start as a query")
                    : QStringLiteral("the driver gives no handle");
        return false;
    }
    // Inside the caller's transaction a failure would abort it, and the driver's error
    // would then be another one.
    if (PQstatus(pg) != CONNECTION_OK || PQtransactionStatus(pg) != PQTRANS_IDLE
        || PQpipelineStatus(pg) != PQ_PIPELINE_OFF
        || qstrcmp(pg_encoding_to_char(PQclientEncoding(pg)), "UTF8") != 0) {
        reason = QStringLiteral("a transaction is open or the connection is not in UTF-8");
        return false;
    }
    const bool numericAsText = c.database().driver()->numericalPrecisionPolicy()
                               == QSql::HighPrecision;
    bool described = false;
    std::vector<unsigned char> ways;
    const ReadOnlyRun run = readOnly(pg, sql.toUtf8(), [&](const PGresult *rows) {
        if (!described) {
            described = true;
            for (int i = 0; i < PQnfields(rows); ++i) {
                const QString name = QString::fromUtf8(PQfname(rows, i));
                FieldKind kind;
                if (PQfformat(rows, i) != 0 || !postgresKind(PQftype(rows, i), name, kind))
                    return false;
                sink.addField(name, kind);
            }
        }
        fetchRows(rows, numericAsText, ways, sink);
        return true;
    });
    if (!run.read) {
        const bool failed = run.failure || !run.message.isEmpty();
        const QSqlError error = driverError(run.failure, run.message);
        PQclear(run.failure);
        // A link that went while the statement ran: the driver would have found it gone
        // running the statement, and so it is told.
        if (PQstatus(pg) != CONNECTION_OK) {
            c.setErrorsFrom(error);
            throw DbError(c.errors());
        }
        reason = failed ? QStringLiteral("the statement failed")
                        : QStringLiteral("a column is of a type not read here");
        return false;
    }
    c.clearErrors();
    return true;
}

} // namespace

std::unique_ptr<Backend> makePostgresBackend(Connection &connection)
{
    return std::make_unique<PostgresBackend>(connection);
}

} // namespace zq::data
