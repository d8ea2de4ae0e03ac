#include "HolderImportRows.h"

#include "Connection.h"
#include "Services.h"

#include <QCoreApplication>
#include <QSqlError>

#include <algorithm>
#include <limits>

namespace zq::transfer {

using namespace importing;

namespace {

const QStringList &kWritten = writtenColumns();

bool isDateColumn(const QString &column)
{
    return column == QLatin1String("Birthday") || column == QLatin1String("StartDate")
           || column == QLatin1String("ExpiredDate");
}

// One statement for any number of holders: each column's values as one array, so that
// the statement and its plan stay the same however many rows it carries. The update joins
// the arrays' rows by number.
QString batchStatement(bool update, const QList<int> &updated)
{
    QStringList arrays{QStringLiteral("CAST(? AS text[])")};
    QStringList names{QStringLiteral("k")};
    QStringList sets;
    QList<int> values;
    for (int i = 0; i < kValues; ++i)
        if (!update || updated.contains(i))
            values << i;
    for (const int i : std::as_const(values)) {
        arrays << (isDateColumn(kWritten.at(i)) ? QStringLiteral("CAST(? AS timestamp[])")
                                                : QStringLiteral("CAST(? AS text[])"));
        names << QStringLiteral("c%1").arg(i);
        sets << kWritten.at(i) + QStringLiteral(" = v.c%1").arg(i);
    }
    if (!update) {
        arrays << QStringLiteral("CAST(? AS integer[])");
        return QStringLiteral("INSERT INTO HolderData (HolderNo, %1, SequenceNo) SELECT * FROM "
                              "unnest(%2)")
            .arg(kWritten.join(QStringLiteral(", ")), arrays.join(QStringLiteral(", ")));
    }
    return QStringLiteral("UPDATE HolderData SET %1 FROM unnest(%2) AS v (%3) "
                          "WHERE HolderData.HolderNo = v.k")
        .arg(sets.join(QStringLiteral(", ")),
             arrays.join(QStringLiteral(", ")),
             names.join(QStringLiteral(", ")));
}

// An array literal element: NULL (for a null text too, as the driver binds one), or the
// text in double quotes with its quotes and backslashes escaped.
void appendElement(QString &array, const QVariant &value)
{
    if (array.size() > 1)
        array += QLatin1Char(',');
    const QString text = value.toString();
    if (value.isNull() || text.isNull()) {
        array += QStringLiteral("NULL");
        return;
    }
    array += QLatin1Char('"');
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\')
            array += QLatin1Char('\\');
        array += c;
    }
    array += QLatin1Char('"');
}

} // namespace

HolderImport::Outcome HolderImport::storeHolder(Pending &&row)
{
    const Outcome stored = row.exists ? Outcome::Updated : Outcome::Inserted;
    if (m_options.dryRun)
        return stored;
    row.sequence = m_tableSize + 1;
    if (!m_inBatch || !m_savepoints) {
        settle();
        // SQLite, or no transaction to undo a batch in: each line on its own.
        return m_savepoints ? writeHolder(row) : writeDirect(row);
    }
    // The batch before is written first: a line is counted only after this returns, so
    // its own batch must not be written (and perhaps refused) within its judging.
    if (!m_pending.empty()
        && (m_pending.front().exists != row.exists || qsizetype(m_pending.size()) >= kBatchRows))
        flushPending();
    m_pending.push_back(std::move(row));
    return stored;
}

qint64 HolderImport::firstUnwritten() const
{
    if (!m_sent.empty())
        return m_sent.front().line;
    return m_pending.empty() ? std::numeric_limits<qint64>::max() : m_pending.front().line;
}

void HolderImport::audit(bool update, const QString &number)
{
    zq::services::AddProgramRunEdit(
        auditKey(), (update ? QStringLiteral("E ") : QStringLiteral("A ")) + number);
}

namespace {
// UNIQUE on SQLite (a primary key or another unique index), 23505 on PostgreSQL.
bool isDuplicateKey(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("1555") || code == QLatin1String("2067")
           || code == QLatin1String("23505");
}
} // namespace

// One holder by its own statement. A new holder that another writer stored since the
// snapshot was taken is judged again as it stands now: overwritten with overwrite, kept
// without it, never refused for its key. A write that failed because the link is gone is
// Lost, not refused.
HolderImport::Outcome HolderImport::writeHolder(const Pending &row)
{
    Outcome outcome = writeStatement(row);
    if (outcome == Outcome::Failed && !row.exists && m_duplicateKey) {
        if (!m_options.cover || m_updated.isEmpty())
            return Outcome::Kept;
        Pending existing = row;
        existing.exists = true;
        outcome = writeStatement(existing);
    }
    if (outcome == Outcome::Failed && !isConnected())
        return Outcome::Lost;
    return outcome;
}

// One holder by its own statement, in its own savepoint with its audit entry.
HolderImport::Outcome HolderImport::writeStatement(const Pending &row)
{
    m_duplicateKey = false;
    QSqlQuery &q = row.exists ? m_sql->update : m_sql->insert;
    int i = 0;
    if (!row.exists)
        q.bindValue(i++, row.key());
    for (const int v : row.exists ? m_updated : allValues())
        q.bindValue(i++, row.variant(v));
    q.bindValue(i, row.exists ? QVariant(row.key()) : QVariant(row.sequence));
    if (!savepoint()) {
        m_lastError = m_sql->control.lastError().text();
        noteFailure(m_sql->control.lastError());
        return Outcome::Failed;
    }
    const bool ok = q.exec();
    if (ok) {
        audit(row.exists, row.number);
    } else {
        m_lastError = q.lastError().text();
        m_duplicateKey = isDuplicateKey(q.lastError());
        noteFailure(q.lastError());
    }
    if (!endSavepoint(ok))
        return Outcome::Failed;
    return row.exists ? Outcome::Updated : Outcome::Inserted;
}

// The writer of new (false) or existing holders through the engine's own library; nullptr
// when the import goes through Qt's driver alone or the writer could not be prepared.
static zq::data::BulkWriter *writerOf(zq::data::Connection *connection,
                                      std::unique_ptr<zq::data::BulkWriter> (&writers)[2],
                                      bool (&tried)[2],
                                      bool update,
                                      const QList<int> &updated)
{
    if (!tried[update]) {
        tried[update] = true;
        QStringList columns = kWritten;
        if (update) {
            columns.clear();
            for (const int v : updated)
                columns << kWritten.at(v);
        }
        auto writer = update ? std::make_unique<zq::data::BulkWriter>(connection,
                                                                      QStringLiteral("HolderData"),
                                                                      columns,
                                                                      QStringLiteral("HolderNo"))
                             : std::make_unique<zq::data::BulkWriter>(
                                 connection,
                                 QStringLiteral("HolderData"),
                                 QStringList{QStringLiteral("HolderNo")} + columns
                                     + QStringList{QStringLiteral("SequenceNo")});
        if (writer->prepare())
            writers[update] = std::move(writer);
    }
    return writers[update] && writers[update]->isPrepared() ? writers[update].get() : nullptr;
}

void HolderImport::addRow(const Pending &row)
{
    zq::data::BulkWriter *w = m_sql->writers[row.exists].get();
    QByteArray &number = m_sql->numberUtf8;
    number.truncate(0);
    appendUtf8(number, row.key());
    w->addText(number);
    for (const int v : row.exists ? m_updated : allValues()) {
        if (row.isNull(v))
            w->addNull();
        else
            w->addText(row.value(v));
    }
    if (!row.exists)
        w->addInteger(row.sequence);
    w->endRow();
}

// One holder through the engine's own library (SQLite, where a failed statement undoes
// itself and keeps the transaction). A refused one is written again through Qt's driver,
// whose message then tells the refusal as it always has.
HolderImport::Outcome HolderImport::writeDirect(const Pending &row)
{
    zq::data::BulkWriter *w = writerOf(
        m_connection, m_sql->writers, m_sql->writerTried, row.exists, m_updated);
    if (!w)
        return writeHolder(row);
    addRow(row);
    if (w->write()) {
        audit(row.exists, row.number);
        return row.exists ? Outcome::Updated : Outcome::Inserted;
    }
    if (w->transactionEnded()) {
        // The engine rolled the batch back itself (a full disk, a file gone): every line
        // of it is lost, and no write may run outside it now.
        m_lastError = w->errorText() + QLatin1Char(' ')
                      + QCoreApplication::translate("QSQLiteResult", "Unable to fetch row");
        m_error = m_lastError;
        stopOnFailure();
        return Outcome::Lost;
    }
    return writeHolder(row);
}

// `rows` by one statement, with their audit entries, in one savepoint. An update through
// the engine's own library is only sent: the server writes it while the next lines are
// judged, and settle() takes its answer.
HolderImport::Batch HolderImport::writeBatch(const std::vector<Pending> &rows)
{
    const bool update = rows.front().exists;
    if (zq::data::BulkWriter *w = writerOf(
            m_connection, m_sql->writers, m_sql->writerTried, update, m_updated)) {
        for (const Pending &row : rows)
            addRow(row);
        if (!savepoint()) {
            w->clear();
            m_lastError = m_sql->control.lastError().text();
            return Batch::Refused;
        }
        const bool ok = w->send();
        if (ok && w->isWriting())
            return Batch::Sent;
        if (ok)
            for (const Pending &row : rows)
                audit(update, row.number);
        else
            m_lastError = w->errorText();
        return endSavepoint(ok) ? Batch::Written : Batch::Refused;
    }
    QSqlQuery &q = update ? m_sql->batchUpdate : m_sql->batchInsert;
    if (!m_sql->batchPrepared[update]) {
        q = QSqlQuery(m_connection->database());
        if (!q.prepare(batchStatement(update, m_updated))) {
            m_lastError = q.lastError().text();
            return Batch::Refused;
        }
        m_sql->batchPrepared[update] = true;
    }
    const QList<int> values = update ? m_updated : allValues();
    QStringList columns(values.size() + 2, QStringLiteral("{"));
    for (const Pending &row : rows) {
        appendElement(columns[0], row.key());
        for (qsizetype c = 0; c < values.size(); ++c)
            appendElement(columns[c + 1], row.variant(values.at(c)));
        if (!update)
            appendElement(columns.last(), row.sequence);
    }
    if (update)
        columns.removeLast();
    for (qsizetype c = 0; c < columns.size(); ++c)
        q.bindValue(int(c), columns.at(c) + QLatin1Char('}'));
    if (!savepoint()) {
        m_lastError = m_sql->control.lastError().text();
        return Batch::Refused;
    }
    const bool ok = q.exec();
    if (ok)
        for (const Pending &row : rows)
            audit(update, row.number);
    else
        m_lastError = q.lastError().text();
    return endSavepoint(ok) ? Batch::Written : Batch::Refused;
}

// Writes the pending holders (after taking the answer to the batch sent before). When
// their batch is refused, each is written alone.
void HolderImport::flushPending()
{
    settle();
    if (m_pending.empty())
        return;
    std::vector<Pending> rows;
    rows.swap(m_pending);
    if (rows.size() > 1) {
        switch (writeBatch(rows)) {
        case Batch::Written:
            return;
        case Batch::Sent:
            m_sent = std::move(rows);
            return;
        case Batch::Refused:
            break;
        }
    }
    writeAlone(rows);
}

void HolderImport::settle()
{
    if (m_sent.empty())
        return;
    std::vector<Pending> rows;
    rows.swap(m_sent);
    zq::data::BulkWriter *w = m_sql->writers[true].get();
    const bool ok = w->finishWrite();
    if (ok)
        for (const Pending &row : rows)
            audit(true, row.number);
    else
        m_lastError = w->errorText();
    if (!endSavepoint(ok))
        writeAlone(rows);
}

void HolderImport::writePending()
{
    if (!m_sql || m_options.dryRun)
        return;
    flushPending();
    settle();
}

// Each of `rows` by its own statement; a line refused then is taken back from the stored
// ones into the refusals, at its place. Once the link is gone the rest stay as they are:
// their batch cannot commit, and they are told as lost when its commit fails.
void HolderImport::writeAlone(const std::vector<Pending> &rows)
{
    for (const Pending &row : rows) {
        const Outcome now = writeHolder(row);
        if (now == Outcome::Lost)
            return;
        recount(row, now);
    }
}

// A line counted as written with its batch, that its own statement told otherwise.
void HolderImport::recount(const Pending &row, Outcome now)
{
    const Outcome was = row.exists ? Outcome::Updated : Outcome::Inserted;
    if (now == was)
        return;
    --m_counts[int(was)];
    ++m_counts[int(now)];
    const auto at = std::find_if(m_uncommitted.rbegin(),
                                 m_uncommitted.rend(),
                                 [&row](const Uncommitted &u) { return u.line == row.line; });
    if (at != m_uncommitted.rend()) {
        if (now == Outcome::Updated)
            at->outcome = now;
        else
            m_uncommitted.erase(std::next(at).base());
    }
    if (!row.exists)
        --m_tableSize;
    if (now != Outcome::Failed)
        return;
    if (!row.exists)
        m_holders.remove(row.number);
    else
        m_holders.insert(row.number, -1);
    keepSorted(Refusal{row.line, row.number, RefusalReason::Database, QString(), m_lastError});
}

} // namespace zq::transfer
