// PostgreSQL's own bulk writes: COPY for inserts, one prepared update fed binary arrays.
#include "PostgresParts.h"

#include <QAtomicInt>
#include <QDate>

#include <algorithm>
#include <cstring>
#include <vector>

namespace zq::data {

namespace {

QAtomicInt g_statementCounter;

QString pgMessage(PGconn *pg, PGresult *result)
{
    const char *text = result ? PQresultErrorMessage(result) : nullptr;
    if (!text || !*text)
        text = PQerrorMessage(pg);
    return QString::fromUtf8(text).trimmed();
}

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

// Column `c` of the rows as one array in the binary form of arrays: texts, or with `micros`
// the column's timestamps as microseconds.
void fillArray(QByteArray &a, const BulkRows &batch, int c, const std::vector<qint64> *micros)
{
    constexpr qint32 kTextOid = 25;
    constexpr qint32 kTimestampOid = 1114;
    const int count = batch.columns();
    const qsizetype rows = batch.rows;
    const bool stamp = micros != nullptr;
    qsizetype size = 20;
    bool nulls = false;
    for (qsizetype row = 0; row < rows; ++row) {
        const BulkRows::Value &v = batch.values[size_t(row * count + c)];
        size += 4 + (v.size < 0 ? 0 : stamp ? 8 : v.size);
        nulls = nulls || v.size < 0;
    }
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
        const BulkRows::Value &v = batch.values[size_t(row * count + c)];
        if (stamp && v.size >= 0) {
            put(8);
            const quint64 u = quint64((*micros)[size_t(row * count + c)]);
            put(qint32(u >> 32));
            put(qint32(u & 0xFFFFFFFFu));
            continue;
        }
        put(qint32(v.size));
        if (v.size > 0) {
            memcpy(p, batch.bytes.constData() + v.begin, size_t(v.size));
            p += v.size;
        }
    }
}

class PostgresBulkTarget final : public BulkTarget
{
public:
    PostgresBulkTarget(PGconn *handle, const BulkSpec &spec)
        : pg(handle)
        , table(spec.table)
        , columns(spec.columns)
        , key(spec.key)
    {}
    ~PostgresBulkTarget() override { release(); }

    bool prepare(QString &error) override
    {
        if (key.isEmpty()) {
            copySql = QStringLiteral("COPY %1 (%2) FROM STDIN")
                          .arg(table, columns.join(QStringLiteral(", ")))
                          .toUtf8();
            prepared = true;
            return true;
        }
        prepared = prepareUpdate(QStringList{key} + columns, error);
        if (!prepared)
            release();
        return prepared;
    }
    bool isPrepared() const override { return prepared; }
    bool copyText() const override { return key.isEmpty(); }
    // The update's arrays carry text only.
    bool integersAsText() const override { return true; }
    bool send(const BulkRows &rows, qsizetype &written, QString &error, bool &ended) override
    {
        if (!key.isEmpty())
            return sendUpdate(rows, error);
        if (!runCopy(rows, error))
            return false;
        written = rows.rows;
        return true;
    }
    bool isWriting() const override { return writing; }
    bool takeAnswer(QString &error) override;
    void release() override
    {
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
        prepared = false;
    }

private:
    bool prepareUpdate(const QStringList &all, QString &error);
    bool prepareNamed(const QStringList &all,
                      const QStringList &assigned,
                      bool binaryStamps,
                      QByteArray &madeName,
                      QString &error);
    bool runCopy(const BulkRows &rows, QString &error);
    bool sendUpdate(const BulkRows &rows, QString &error);

    PGconn *pg;
    QString table;
    QStringList columns;
    QString key;
    bool prepared = false;
    bool writing = false;
    QByteArray copySql;    // the inserts
    QByteArray updateName; // the prepared update, its values one array per column
    // Where columns are timestamps, a second update takes them as binary timestamp arrays,
    // for batches whose every stamp has the plain form (the first is then the fallback).
    QByteArray stampUpdateName;
    std::vector<bool> stamps; // per value of a row: a timestamp column
    std::vector<QByteArray> arrays;
};

// The update takes each column's values as one text array, unnested into rows that join
// the table by key: no table of its own to fill, scan and empty per batch. A text value
// goes to a column of text by the column's own assignment (a value too long is refused, as
// COPY refuses it); a value of another type is read by that type's input function, as
// COPY reads it.
bool PostgresBulkTarget::prepareUpdate(const QStringList &all, QString &error)
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
    return prepareNamed(all, read, false, updateName, error)
           && (!anyStamp || prepareNamed(all, direct, true, stampUpdateName, error));
}

// One update of the arrays unnested side by side in the select list, which hands the rows
// on one by one; unnest() in FROM would first copy them all into a tuple store.
bool PostgresBulkTarget::prepareNamed(const QStringList &all,
                                      const QStringList &assigned,
                                      bool binaryStamps,
                                      QByteArray &madeName,
                                      QString &error)
{
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
}

bool PostgresBulkTarget::runCopy(const BulkRows &rows, QString &error)
{
    PGresult *r = PQexec(pg, copySql.constData());
    if (PQresultStatus(r) != PGRES_COPY_IN) {
        error = pgMessage(pg, r);
        PQclear(r);
        return false;
    }
    PQclear(r);
    bool sent = PQputCopyData(pg, rows.bytes.constData(), int(rows.bytes.size())) == 1;
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

bool PostgresBulkTarget::sendUpdate(const BulkRows &batch, QString &error)
{
    // One text array per column in the binary form of arrays: no value is escaped or lexed.
    const int count = batch.columns();
    const qsizetype rows = batch.rows;
    const std::vector<BulkRows::Value> &values = batch.values;
    const QByteArray &bytes = batch.bytes;
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
                const BulkRows::Value &v = values[i];
                if (v.size >= 0 && !plainStamp(bytes.constData() + v.begin, v.size, micros[i]))
                    return false;
            }
        }
        return true;
    }();
    for (int c = 0; c < count; ++c) {
        QByteArray &a = arrays[size_t(c)];
        fillArray(a, batch, c, binaryStamps && stamps[size_t(c)] ? &micros : nullptr);
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
    return true;
}

// The answer to the update sent: every result read, so that the connection takes commands
// again; the first refusal tells the message.
bool PostgresBulkTarget::takeAnswer(QString &error)
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

} // namespace

std::unique_ptr<BulkTarget> makePostgresBulkTarget(PGconn *handle, const BulkSpec &spec)
{
    return std::make_unique<PostgresBulkTarget>(handle, spec);
}

} // namespace zq::data
