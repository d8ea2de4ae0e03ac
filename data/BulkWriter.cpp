#include "BulkWriter.h"

#include "Connection.h"

#include <QAtomicInt>
#include <QSqlDriver>
#include <QVariant>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <vector>

namespace zq::data {

namespace {

QAtomicInt g_tableCounter;

// The engine's own handle behind a Qt connection, or nullptr when the driver is another's.
// Qt names the PostgreSQL handle's type by its struct ("pg_conn*") or by the typedef.
template<typename Handle>
Handle *handleOf(Connection *connection, const char *typeName, const char *otherName = nullptr)
{
    if (!connection || !connection->isConnected())
        return nullptr;
    const QVariant handle = connection->database().driver()->handle();
    if (!handle.isValid()
        || (qstrcmp(handle.typeName(), typeName) != 0
            && (!otherName || qstrcmp(handle.typeName(), otherName) != 0)))
        return nullptr;
    return *static_cast<Handle *const *>(handle.constData());
}

// One value of COPY's text format: backslash, tab and line ends escaped; every other byte
// stands as it is (the connection's client encoding is UTF-8).
void appendCopyText(QByteArray &out, QByteArrayView utf8)
{
    const char *p = utf8.data();
    const char *end = p + utf8.size();
    const char *run = p;
    for (; p < end; ++p) {
        const char c = *p;
        if (c != '\\' && c != '\t' && c != '\n' && c != '\r')
            continue;
        out.append(run, p - run);
        out.append('\\');
        out.append(c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : '\\');
        run = p + 1;
    }
    out.append(run, end - run);
}

QString pgMessage(PGconn *pg, PGresult *result)
{
    const char *text = result ? PQresultErrorMessage(result) : nullptr;
    if (!text || !*text)
        text = PQerrorMessage(pg);
    return QString::fromUtf8(text).trimmed();
}

} // namespace

struct BulkWriter::Private
{
    Connection *connection = nullptr;
    QString table;
    QStringList columns;
    QString key;

    // The rows not yet written. SQLite: the values back to back in `bytes`, each found by
    // `values`; PostgreSQL: the rows in COPY's text format.
    struct Value
    {
        qsizetype begin = 0;
        qsizetype size = -1; // -1: NULL
        qint64 integer = 0;
        bool isInteger = false;
    };
    QByteArray bytes;
    std::vector<Value> values;
    qsizetype rows = 0;
    bool rowStarted = false;

    sqlite3 *db = nullptr;
    sqlite3_stmt *statement = nullptr;
    PGconn *pg = nullptr;
    QByteArray copySql;   // into the table, or into the temporary table of the updates
    QByteArray updateSql; // the update from the temporary table, which it then empties
    QByteArray tempTable;

    qsizetype written = 0;
    QString error;
    bool ended = false;
    QMetaObject::Connection closing;

    void release()
    {
        if (statement)
            sqlite3_finalize(statement);
        statement = nullptr;
        db = nullptr;
        if (pg && !tempTable.isEmpty() && PQstatus(pg) == CONNECTION_OK
            && PQtransactionStatus(pg) != PQTRANS_INERROR) {
            PGresult *r = PQexec(pg, "DROP TABLE IF EXISTS " + tempTable);
            PQclear(r);
        }
        pg = nullptr;
    }

    bool writeSQLite();
    bool writePostgres();
    bool runCopy(const QByteArray &sql);
};

BulkWriter::BulkWriter(Connection *connection,
                       const QString &table,
                       const QStringList &columns,
                       const QString &key)
    : d(std::make_unique<Private>())
{
    d->connection = connection;
    d->table = table;
    d->columns = columns;
    d->key = key;
}

BulkWriter::~BulkWriter()
{
    QObject::disconnect(d->closing);
    d->release();
}

bool BulkWriter::prepare()
{
    QObject::disconnect(d->closing);
    d->release();
    d->error.clear();
    Connection *c = d->connection;
    if (!c || !c->isConnected()) {
        d->error = QStringLiteral("Not connected.");
        return false;
    }
    // A statement left open would keep SQLite's file from closing.
    d->closing = QObject::connect(c, &Connection::closing, c, [p = d.get()] { p->release(); });
    const QStringList all = d->key.isEmpty() ? d->columns : QStringList{d->key} + d->columns;
    if (c->engine() == Engine::SQLite) {
        d->db = handleOf<sqlite3>(c, "sqlite3*");
        if (!d->db) {
            d->error = QStringLiteral("The SQLite driver gives no handle.");
            return false;
        }
        QString sql;
        if (d->key.isEmpty()) {
            QStringList marks(d->columns.size(), QStringLiteral("?"));
            sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                      .arg(d->table, d->columns.join(QStringLiteral(", ")),
                           marks.join(QStringLiteral(", ")));
        } else {
            QStringList sets;
            for (qsizetype i = 0; i < d->columns.size(); ++i)
                sets << QStringLiteral("%1 = ?%2").arg(d->columns.at(i)).arg(i + 2);
            sql = QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?1")
                      .arg(d->table, sets.join(QStringLiteral(", ")), d->key);
        }
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v3(d->db, text.constData(), int(text.size()),
                               SQLITE_PREPARE_PERSISTENT, &d->statement, nullptr)
            != SQLITE_OK) {
            d->error = QString::fromUtf8(sqlite3_errmsg(d->db));
            d->release();
            return false;
        }
        return true;
    }
    d->pg = handleOf<PGconn>(c, "PGconn*", "pg_conn*");
    if (!d->pg) {
        d->error = QStringLiteral("The PostgreSQL driver gives no handle.");
        return false;
    }
    if (d->key.isEmpty()) {
        d->copySql = QStringLiteral("COPY %1 (%2) FROM STDIN")
                         .arg(d->table, d->columns.join(QStringLiteral(", ")))
                         .toUtf8();
        return true;
    }
    // The temporary table takes the types of the columns it stands for, so that the
    // values read as the table's own would.
    d->tempTable = "zq_bulk_" + QByteArray::number(g_tableCounter.fetchAndAddRelaxed(1));
    const QByteArray create = QStringLiteral("CREATE TEMPORARY TABLE %1 AS SELECT %2 FROM %3 "
                                             "WITH NO DATA")
                                  .arg(QString::fromLatin1(d->tempTable),
                                       all.join(QStringLiteral(", ")), d->table)
                                  .toUtf8();
    PGresult *r = PQexec(d->pg, create.constData());
    const bool made = PQresultStatus(r) == PGRES_COMMAND_OK;
    if (!made)
        d->error = pgMessage(d->pg, r);
    PQclear(r);
    if (!made) {
        d->tempTable.clear();
        d->release();
        return false;
    }
    QStringList sets;
    for (const QString &column : std::as_const(d->columns))
        sets << QStringLiteral("%1 = v.%1").arg(column);
    d->copySql = QStringLiteral("COPY %1 (%2) FROM STDIN")
                     .arg(QString::fromLatin1(d->tempTable), all.join(QStringLiteral(", ")))
                     .toUtf8();
    // The table is emptied for the next rows in the same round trip. The planner knows
    // nothing of its rows and may guess a hash join, which reads the whole table for each
    // batch: the join goes by the key's index, for this transaction's statements only.
    d->updateSql = QStringLiteral("SET LOCAL enable_hashjoin = off; SET LOCAL enable_mergejoin "
                                  "= off; UPDATE %1 SET %2 FROM %3 v WHERE %1.%4 = v.%4; "
                                  "TRUNCATE %3")
                       .arg(d->table, sets.join(QStringLiteral(", ")),
                            QString::fromLatin1(d->tempTable), d->key)
                       .toUtf8();
    return true;
}

bool BulkWriter::isPrepared() const
{
    return d->statement || d->pg;
}

void BulkWriter::addText(QByteArrayView utf8)
{
    if (d->pg) {
        if (d->rowStarted)
            d->bytes.append('\t');
        appendCopyText(d->bytes, utf8);
    } else {
        d->values.push_back(Private::Value{d->bytes.size(), utf8.size(), 0, false});
        d->bytes.append(utf8.data(), utf8.size());
    }
    d->rowStarted = true;
}

void BulkWriter::addNull()
{
    if (d->pg) {
        if (d->rowStarted)
            d->bytes.append('\t');
        d->bytes.append("\\N", 2);
    } else {
        d->values.push_back(Private::Value{});
    }
    d->rowStarted = true;
}

void BulkWriter::addInteger(qint64 value)
{
    if (d->pg) {
        if (d->rowStarted)
            d->bytes.append('\t');
        d->bytes.append(QByteArray::number(value));
    } else {
        d->values.push_back(Private::Value{0, 0, value, true});
    }
    d->rowStarted = true;
}

void BulkWriter::endRow()
{
    if (d->pg)
        d->bytes.append('\n');
    d->rowStarted = false;
    ++d->rows;
}

qsizetype BulkWriter::pendingRows() const
{
    return d->rows;
}

void BulkWriter::clear()
{
    d->bytes.truncate(0); // keeps its memory for the next rows
    d->values.clear();
    d->rows = 0;
    d->rowStarted = false;
}

bool BulkWriter::write()
{
    d->written = 0;
    d->error.clear();
    d->ended = false;
    bool ok = true;
    if (d->rows > 0) {
        if (d->statement)
            ok = d->writeSQLite();
        else if (d->pg)
            ok = d->writePostgres();
        else {
            d->error = QStringLiteral("Not connected.");
            ok = false;
        }
    }
    clear();
    return ok;
}

bool BulkWriter::Private::writeSQLite()
{
    const bool inTransaction = sqlite3_get_autocommit(db) == 0;
    const int count = int(values.size() / qMax<qsizetype>(1, rows));
    static const char empty[] = "";
    for (qsizetype row = 0; row < rows; ++row) {
        for (int c = 0; c < count; ++c) {
            const Value &v = values[size_t(row * count + c)];
            if (v.isInteger)
                sqlite3_bind_int64(statement, c + 1, v.integer);
            else if (v.size < 0)
                sqlite3_bind_null(statement, c + 1);
            else
                // A null pointer would bind NULL: an empty text needs a real one.
                sqlite3_bind_text(statement, c + 1, v.size ? bytes.constData() + v.begin : empty,
                                  int(v.size), SQLITE_STATIC);
        }
        const int rc = sqlite3_step(statement);
        if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
            error = QString::fromUtf8(sqlite3_errmsg(db));
            sqlite3_reset(statement);
            ended = inTransaction && sqlite3_get_autocommit(db) != 0;
            return false;
        }
        sqlite3_reset(statement);
        ++written;
    }
    return true;
}

bool BulkWriter::Private::runCopy(const QByteArray &sql)
{
    PGresult *r = PQexec(pg, sql.constData());
    if (PQresultStatus(r) != PGRES_COPY_IN) {
        error = pgMessage(pg, r);
        PQclear(r);
        return false;
    }
    PQclear(r);
    bool sent = PQputCopyData(pg, bytes.constData(), int(bytes.size())) == 1;
    if (!sent)
        error = pgMessage(pg, nullptr);
    if (PQputCopyEnd(pg, sent ? nullptr : "the client stopped the copy") != 1 && sent) {
        error = pgMessage(pg, nullptr);
        sent = false;
    }
    bool ok = sent;
    while ((r = PQgetResult(pg))) {
        if (PQresultStatus(r) != PGRES_COMMAND_OK) {
            if (ok || error.isEmpty())
                error = pgMessage(pg, r);
            ok = false;
        }
        PQclear(r);
    }
    return ok;
}

bool BulkWriter::Private::writePostgres()
{
    if (!runCopy(copySql))
        return false;
    if (!updateSql.isEmpty()) {
        PGresult *r = PQexec(pg, updateSql.constData());
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        if (!ok)
            error = pgMessage(pg, r);
        PQclear(r);
        if (!ok)
            return false;
    }
    written = rows;
    return true;
}

qsizetype BulkWriter::writtenRows() const
{
    return d->written;
}

QString BulkWriter::errorText() const
{
    return d->error;
}

bool BulkWriter::transactionEnded() const
{
    return d->ended;
}

} // namespace zq::data
