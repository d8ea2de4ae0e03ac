#include "BulkWriter.h"

#include "Connection.h"

#include <QAtomicInt>
#include <QDate>
#include <QSqlDriver>
#include <QVariant>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace zq::data {

namespace {

QAtomicInt g_statementCounter;

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

// Appends without QByteArray::append()'s general path, which costs more than the copy of a
// short value; the buffer keeps its capacity between batches.
inline void appendBytes(QByteArray &out, const char *data, qsizetype size)
{
    if (size <= 0)
        return;
    const qsizetype at = out.size();
    if (out.capacity() < at + size)
        out.reserve(qMax<qsizetype>(2 * out.capacity(), at + size));
    out.resize(at + size);
    memcpy(out.data() + at, data, size_t(size));
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
        appendBytes(out, run, p - run);
        out.append('\\');
        out.append(c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : '\\');
        run = p + 1;
    }
    appendBytes(out, run, end - run);
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

    // The rows not yet written. COPY's rows (PostgreSQL's inserts) in its text format in
    // `bytes`; otherwise the values back to back in `bytes`, each found by `values`.
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
    QByteArray copySql;    // the inserts
    QByteArray updateName; // the prepared update, its values one array per column
    // Where columns are timestamps, a second update takes them as binary timestamp arrays,
    // for batches whose every stamp has the plain form (the first is then the fallback).
    QByteArray stampUpdateName;
    std::vector<bool> stamps; // per value of a row: a timestamp column
    std::vector<QByteArray> arrays;

    qsizetype written = 0;
    QString error;
    bool ended = false;
    // The update sent and not yet answered, with the rows it carries; the outcome of one
    // answered while the connection closed.
    bool writing = false;
    qsizetype sentRows = 0;
    std::optional<bool> answered;
    QMetaObject::Connection closing;

    bool copies() const { return pg && key.isEmpty(); }

    void release()
    {
        // The connection may not close with an answer outstanding, nor take another command.
        if (writing)
            answered = takeAnswer();
        if (statement)
            sqlite3_finalize(statement);
        statement = nullptr;
        db = nullptr;
        if (pg && !updateName.isEmpty() && PQstatus(pg) == CONNECTION_OK
            && PQtransactionStatus(pg) != PQTRANS_INERROR
            && PQtransactionStatus(pg) != PQTRANS_ACTIVE) {
            PGresult *r = PQexec(pg, "DEALLOCATE " + updateName);
            PQclear(r);
            if (!stampUpdateName.isEmpty()) {
                r = PQexec(pg, "DEALLOCATE " + stampUpdateName);
                PQclear(r);
            }
        }
        updateName.clear();
        stampUpdateName.clear();
        pg = nullptr;
    }

    bool prepareUpdate(const QStringList &all);
    bool writeSQLite();
    bool writePostgres();
    bool runCopy(const QByteArray &sql);
    bool sendUpdate();
    bool takeAnswer();
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
                      .arg(d->table,
                           d->columns.join(QStringLiteral(", ")),
                           marks.join(QStringLiteral(", ")));
        } else {
            QStringList sets;
            for (qsizetype i = 0; i < d->columns.size(); ++i)
                sets << QStringLiteral("%1 = ?%2").arg(d->columns.at(i)).arg(i + 2);
            sql = QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?1")
                      .arg(d->table, sets.join(QStringLiteral(", ")), d->key);
        }
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v3(d->db,
                               text.constData(),
                               int(text.size()),
                               SQLITE_PREPARE_PERSISTENT,
                               &d->statement,
                               nullptr)
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
    if (!d->prepareUpdate(all)) {
        d->release();
        return false;
    }
    return true;
}

// The update takes each column's values as one text array, unnested into rows that join
// the table by key: no table of its own to fill, scan and empty per batch. A text value
// goes to a column of text by the column's own assignment (a value too long is refused, as
// COPY refuses it); a value of another type is read by that type's input function, as
// COPY reads it.
bool BulkWriter::Private::prepareUpdate(const QStringList &all)
{
    const QByteArray tableName = table.toUtf8();
    const char *params[1] = {tableName.constData()};
    PGresult *r = PQexecParams(pg,
                               "SELECT a.attname, pg_catalog.format_type(a.atttypid, NULL), "
                               "t.typcategory, a.atttypid FROM pg_catalog.pg_attribute a JOIN "
                               "pg_catalog.pg_type t ON t.oid = a.atttypid WHERE a.attrelid = "
                               "pg_catalog.to_regclass($1) AND a.attnum > 0 AND NOT "
                               "a.attisdropped",
                               1,
                               nullptr,
                               params,
                               nullptr,
                               nullptr,
                               0);
    if (PQresultStatus(r) != PGRES_TUPLES_OK) {
        error = pgMessage(pg, r);
        PQclear(r);
        return false;
    }
    // Each column's value as it is assigned: the text itself, or the text read as the type
    // (`direct`: a timestamp taken as one, by the statement of binary stamps).
    QStringList read, direct;
    stamps.assign(size_t(all.size()), false);
    for (qsizetype i = 0; i < all.size(); ++i) {
        const QString alias = QStringLiteral("v.c%1").arg(i);
        int found = -1;
        for (int row = 0; row < PQntuples(r) && found < 0; ++row)
            if (all.at(i).compare(QString::fromUtf8(PQgetvalue(r, row, 0)), Qt::CaseInsensitive)
                == 0)
                found = row;
        if (found < 0) {
            error = QStringLiteral("The table %1 has no column %2.").arg(table, all.at(i));
            PQclear(r);
            return false;
        }
        read << (qstrcmp(PQgetvalue(r, found, 2), "S") == 0
                     ? alias
                     : QStringLiteral("CAST(%1 AS %2)")
                           .arg(alias, QString::fromUtf8(PQgetvalue(r, found, 1))));
        stamps[size_t(i)] = qstrcmp(PQgetvalue(r, found, 3), "1114") == 0;
        direct << (stamps[size_t(i)] ? alias : read.last());
    }
    PQclear(r);
    const bool anyStamp = std::find(stamps.cbegin(), stamps.cend(), true) != stamps.cend();
    // The arrays are unnested side by side in the select list, which hands the rows on one
    // by one; unnest() in FROM would first copy them all into a tuple store.
    const auto make = [&](const QStringList &assigned, bool binaryStamps, QByteArray &madeName) {
        QStringList sets, unnested;
        for (qsizetype i = 0; i < all.size(); ++i) {
            if (i > 0)
                sets << QStringLiteral("%1 = %2").arg(all.at(i), assigned.at(i));
            unnested << QStringLiteral("unnest($%1) AS c%2").arg(i + 1).arg(i);
        }
        const QByteArray sql = QStringLiteral("UPDATE %1 SET %2 FROM (SELECT %3) AS v WHERE "
                                              "%1.%4 = %5")
                                   .arg(table,
                                        sets.join(QStringLiteral(", ")),
                                        unnested.join(QStringLiteral(", ")),
                                        key,
                                        assigned.at(0))
                                   .toUtf8();
        const QByteArray name = "zq_bulk_"
                                + QByteArray::number(g_statementCounter.fetchAndAddRelaxed(1));
        constexpr Oid kTextArray = 1009;
        constexpr Oid kTimestampArray = 1115;
        std::vector<Oid> types(size_t(all.size()), kTextArray);
        if (binaryStamps)
            for (size_t i = 0; i < types.size(); ++i)
                if (stamps[i])
                    types[i] = kTimestampArray;
        PGresult *prepared = PQprepare(
            pg, name.constData(), sql.constData(), int(types.size()), types.data());
        const bool made = PQresultStatus(prepared) == PGRES_COMMAND_OK;
        if (!made)
            error = pgMessage(pg, prepared);
        PQclear(prepared);
        if (made)
            madeName = name;
        return made;
    };
    return make(read, false, updateName) && (!anyStamp || make(direct, true, stampUpdateName));
}

namespace {

// Microseconds from 2000-01-01 00:00 to `text`, the plain form "YYYY-MM-DD HH:MM:SS" of a
// timestamp (years 1 to 9999), as PostgreSQL reads it into a timestamp without time zone;
// false for any other text, which then goes as text for the server to read or refuse.
bool plainStamp(const char *text, qsizetype size, qint64 &micros)
{
    if (size != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':'
        || text[16] != ':')
        return false;
    int part[6] = {};
    const int at[6] = {0, 5, 8, 11, 14, 17};
    const int width[6] = {4, 2, 2, 2, 2, 2};
    for (int p = 0; p < 6; ++p)
        for (int k = 0; k < width[p]; ++k) {
            const char c = text[at[p] + k];
            if (c < '0' || c > '9')
                return false;
            part[p] = part[p] * 10 + (c - '0');
        }
    // PostgreSQL counts days by the proleptic Gregorian calendar, as QDate does.
    const QDate day(part[0], part[1], part[2]);
    if (part[0] < 1 || !day.isValid() || part[3] > 23 || part[4] > 59 || part[5] > 59)
        return false;
    const qint64 days = day.toJulianDay() - QDate(2000, 1, 1).toJulianDay();
    micros = (days * 86400 + part[3] * 3600 + part[4] * 60 + part[5]) * qint64(1000000);
    return true;
}

} // namespace

bool BulkWriter::isPrepared() const
{
    return d->statement || d->pg;
}

void BulkWriter::addText(QByteArrayView utf8)
{
    if (d->copies()) {
        if (d->rowStarted)
            d->bytes.append('\t');
        appendCopyText(d->bytes, utf8);
    } else {
        d->values.push_back(Private::Value{d->bytes.size(), utf8.size(), 0, false});
        appendBytes(d->bytes, utf8.data(), utf8.size());
    }
    d->rowStarted = true;
}

void BulkWriter::addNull()
{
    if (d->copies()) {
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
    if (d->copies()) {
        if (d->rowStarted)
            d->bytes.append('\t');
        d->bytes.append(QByteArray::number(value));
    } else if (d->pg) {
        // The update's arrays carry text only.
        const QByteArray text = QByteArray::number(value);
        d->values.push_back(Private::Value{d->bytes.size(), text.size(), 0, false});
        d->bytes.append(text);
    } else {
        d->values.push_back(Private::Value{0, 0, value, true});
    }
    d->rowStarted = true;
}

void BulkWriter::endRow()
{
    if (d->copies())
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
    return send() && finishWrite();
}

bool BulkWriter::send()
{
    finishWrite();
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

bool BulkWriter::isWriting() const
{
    return d->writing || d->answered.has_value();
}

bool BulkWriter::finishWrite()
{
    bool ok = true;
    if (d->answered) {
        ok = *d->answered;
        d->answered.reset();
    } else if (d->writing) {
        ok = d->takeAnswer();
    } else {
        return true;
    }
    if (ok)
        d->written = d->sentRows;
    d->sentRows = 0;
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
                sqlite3_bind_text(statement,
                                  c + 1,
                                  v.size ? bytes.constData() + v.begin : empty,
                                  int(v.size),
                                  SQLITE_STATIC);
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

bool BulkWriter::Private::sendUpdate()
{
    // One text array per column in the binary form of arrays: no value is escaped or lexed.
    const int count = int(values.size() / qMax<qsizetype>(1, rows));
    constexpr qint32 kTextOid = 25;
    constexpr qint32 kTimestampOid = 1114;
    arrays.resize(size_t(count));
    std::vector<const char *> data(static_cast<size_t>(count));
    std::vector<int> lengths(static_cast<size_t>(count));
    const std::vector<int> formats(size_t(count), 1);
    // The binary stamps go where every stamp of the batch has the plain form.
    std::vector<qint64> micros;
    const bool binaryStamps = !stampUpdateName.isEmpty() && [&] {
        micros.resize(values.size());
        for (int c = 0; c < count; ++c) {
            if (!stamps[size_t(c)])
                continue;
            for (qsizetype row = 0; row < rows; ++row) {
                const size_t i = size_t(row * count + c);
                const Value &v = values[i];
                if (v.size >= 0 && !plainStamp(bytes.constData() + v.begin, v.size, micros[i]))
                    return false;
            }
        }
        return true;
    }();
    for (int c = 0; c < count; ++c) {
        const bool stamp = binaryStamps && stamps[size_t(c)];
        qsizetype size = 20;
        bool nulls = false;
        for (qsizetype row = 0; row < rows; ++row) {
            const Value &v = values[size_t(row * count + c)];
            size += 4 + (v.size < 0 ? 0 : stamp ? 8 : v.size);
            nulls = nulls || v.size < 0;
        }
        QByteArray &a = arrays[size_t(c)];
        a.resize(size);
        char *p = a.data();
        const auto put = [&p](qint32 value) {
            const quint32 u = quint32(value);
            p[0] = char(u >> 24);
            p[1] = char(u >> 16);
            p[2] = char(u >> 8);
            p[3] = char(u);
            p += 4;
        };
        put(1); // dimensions
        put(nulls ? 1 : 0);
        put(stamp ? kTimestampOid : kTextOid);
        put(qint32(rows));
        put(1); // lower bound
        for (qsizetype row = 0; row < rows; ++row) {
            const Value &v = values[size_t(row * count + c)];
            if (stamp && v.size >= 0) {
                put(8);
                const quint64 u = quint64(micros[size_t(row * count + c)]);
                put(qint32(u >> 32));
                put(qint32(u & 0xFFFFFFFFu));
                continue;
            }
            put(qint32(v.size));
            if (v.size > 0) {
                memcpy(p, bytes.constData() + v.begin, size_t(v.size));
                p += v.size;
            }
        }
        data[size_t(c)] = a.constData();
        lengths[size_t(c)] = int(a.size());
    }
    // The planner, told how many rows the arrays hold, may judge a hash join cheaper, which
    // reads the whole table for every batch: the join goes by the key's index, for this
    // transaction's statements only.
    PGresult *r = PQexec(pg, "SET LOCAL enable_hashjoin = off; SET LOCAL enable_mergejoin = off");
    bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    if (!ok)
        error = pgMessage(pg, r);
    PQclear(r);
    if (!ok)
        return false;
    // The parameters are copied into the connection's buffer as they are sent: the arrays
    // may take the next batch at once, while the server updates.
    const QByteArray &statementName = binaryStamps ? stampUpdateName : updateName;
    if (PQsendQueryPrepared(
            pg, statementName.constData(), count, data.data(), lengths.data(), formats.data(), 0)
        != 1) {
        error = pgMessage(pg, nullptr);
        // A send cut short may still leave results to read before the next command.
        while ((r = PQgetResult(pg)))
            PQclear(r);
        return false;
    }
    writing = true;
    sentRows = rows;
    return true;
}

// The answer to the update sent: every result read, so that the connection takes commands
// again; the first refusal tells the message.
bool BulkWriter::Private::takeAnswer()
{
    writing = false;
    bool ok = true;
    PGresult *r = nullptr;
    while ((r = PQgetResult(pg))) {
        if (PQresultStatus(r) != PGRES_COMMAND_OK) {
            if (ok)
                error = pgMessage(pg, r);
            ok = false;
        }
        PQclear(r);
    }
    return ok;
}

bool BulkWriter::Private::writePostgres()
{
    if (copies()) {
        if (!runCopy(copySql))
            return false;
        written = rows;
        return true;
    }
    return sendUpdate();
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
