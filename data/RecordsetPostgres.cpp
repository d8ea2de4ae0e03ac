#include "Recordset.h"

#include "Connection.h"
#include "RecordsetStore.h"
#include "SqlText.h"

#include <QCoreApplication>
#include <QSqlDriver>
#include <QSqlError>

#include <libpq-fe.h>

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

} // namespace

// PostgreSQL: as on SQLite, a statement that asks for rows is run on libpq's own connection
// and its values packed without a QVariant each (see RecordsetStore::fetchPostgres), with
// the fields the driver's record would have. The server runs it in a read-only transaction,
// so a statement that would write is refused unchanged. Anything unusual — parameters,
// another precision policy, an open transaction, a type the driver's conversion is not
// followed for here, or any failure — leaves the statement to Qt's driver as before, so that
// its errors read as they always did.
bool Recordset::openPostgres(RecordsetStore &store)
{
    Connection *c = m_connection.data();
    if (!c || c->engine() != Engine::PostgreSQL || !m_store->parameters.isEmpty()
        || !c->isConnected() || !sqltext::singleStatementRefusal(m_statement).isEmpty()
        || !sqltext::startsAsQuery(m_statement))
        return false;
    const QSqlDriver *driver = c->database().driver();
    const QVariant handle = driver ? driver->handle() : QVariant();
    const char *type = handle.typeName();
    if (!type || (qstrcmp(type, "PGconn*") != 0 && qstrcmp(type, "pg_conn*") != 0))
        return false;
    const QSql::NumericalPrecisionPolicy policy = driver->numericalPrecisionPolicy();
    if (policy != QSql::HighPrecision && policy != QSql::LowPrecisionDouble)
        return false;
    PGconn *pg = *static_cast<PGconn *const *>(handle.constData());
    // Inside the caller's transaction a failure would abort it, and the driver's error
    // would then be another one.
    if (!pg || PQstatus(pg) != CONNECTION_OK || PQtransactionStatus(pg) != PQTRANS_IDLE
        || PQpipelineStatus(pg) != PQ_PIPELINE_OFF
        || qstrcmp(pg_encoding_to_char(PQclientEncoding(pg)), "UTF8") != 0)
        return false;
    const bool numericAsText = policy == QSql::HighPrecision;
    bool described = false;
    const ReadOnlyRun run = readOnly(pg, m_statement.toUtf8(), [&](const PGresult *rows) {
        if (!described) {
            described = true;
            for (int i = 0; i < PQnfields(rows); ++i) {
                const QString name = QString::fromUtf8(PQfname(rows, i));
                FieldKind kind;
                if (PQfformat(rows, i) != 0
                    || !RecordsetStore::postgresKind(PQftype(rows, i), name, kind))
                    return false;
                store.addField(name, kind);
            }
        }
        store.fetchPostgres(rows, numericAsText);
        return true;
    });
    if (!run.read) {
        const QSqlError error = driverError(run.failure, run.message);
        PQclear(run.failure);
        // A link that went while the statement ran: the driver would have found it gone
        // running the statement, and so it is told.
        if (PQstatus(pg) != CONNECTION_OK) {
            c->setErrorsFrom(error);
            throw DbError(c->errors());
        }
        return false;
    }
    c->clearErrors();
    return true;
}

} // namespace zq::data
