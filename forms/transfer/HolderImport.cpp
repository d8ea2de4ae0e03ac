#include "HolderImportRows.h"

#include "BulkWriter.h"
#include "Connection.h"
#include "Helpers.h"
#include "Recordset.h"
#include "Schema.h"
#include "Services.h"
#include "TextRows.h"
#include "TransferFormat.h"
#include "TransferLog.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVarLengthArray>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace zq::transfer {

Q_LOGGING_CATEGORY(lcTransfer, "zq.transfer")

using zq::data::Connection;
using zq::data::Recordset;

namespace {

constexpr qint64 kCommitEveryMs = 1000;
// How often (in commits) and how long an SQLite import leaves the write lock to others: a
// waiting writer tries again every 100 ms at most, and gives up after 5 s.
constexpr int kYieldEvery = 4;
constexpr unsigned long kYieldMs = 150;
// The page cache of an SQLite import, in KiB.
constexpr int kCacheKiB = 32768;

// The declared width of a text column (0 = none). Both engines are held to it, so that a
// value that PostgreSQL refuses is not stored by SQLite either.
int widthOf(const QString &table, const QString &column)
{
    if (const zq::data::TableDef *t = zq::data::findTable(table))
        for (const zq::data::ColumnDef &c : t->columns)
            if (column.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0)
                return c.type == zq::data::ColumnType::Text ? c.width : 0;
    return 0;
}

bool storable(const QString &table, const QString &column, const QString &text)
{
    return importing::fits(widthOf(table, column), text);
}

} // namespace

namespace importing {

const QStringList &writtenColumns()
{
    static const QStringList columns{"HolderName",
                                     "Email",
                                     "Definable1",
                                     "Definable2",
                                     "Description",
                                     "Birthday",
                                     "StartDate",
                                     "ExpiredDate",
                                     "PIN",
                                     "DepartmentNo",
                                     "TitleNo",
                                     "TypeNo"};
    return columns;
}

const QList<int> &allValues()
{
    static const QList<int> all = [] {
        QList<int> values;
        for (int v = 0; v < kValues; ++v)
            values << v;
        return values;
    }();
    return all;
}

// Without a round trip through the local time zone, which costs a look at the zone file
// per call.
QString stampOf(const QDate &day)
{
    return day.toString(Qt::ISODate) + QStringLiteral(" 00:00:00");
}

bool fits(int width, const QString &text)
{
    return !text.contains(QChar(0)) && (width == 0 || text.size() <= width);
}

const QList<int> &holderWidths()
{
    static const QList<int> widths = [] {
        QList<int> w;
        for (const QString &c : writtenColumns())
            w << widthOf(QStringLiteral("HolderData"), c);
        w << widthOf(QStringLiteral("HolderData"), QStringLiteral("HolderNo"));
        return w;
    }();
    return widths;
}

// As QString::toUtf8() makes it, without a QString.
void appendUtf8(QByteArray &out, QStringView text)
{
    const qsizetype at = out.size();
    out.resize(at + text.size() * 3);
    char *p = out.data() + at;
    const char16_t *s = text.utf16();
    const char16_t *end = s + text.size();
    while (s < end) {
        const char16_t c = *s++;
        if (c < 0x80) {
            *p++ = char(c);
        } else if (c < 0x800) {
            *p++ = char(0xC0 | (c >> 6));
            *p++ = char(0x80 | (c & 0x3F));
        } else if (QChar::isHighSurrogate(c) && s < end && QChar::isLowSurrogate(*s)) {
            const char32_t u = QChar::surrogateToUcs4(c, *s++);
            *p++ = char(0xF0 | (u >> 18));
            *p++ = char(0x80 | ((u >> 12) & 0x3F));
            *p++ = char(0x80 | ((u >> 6) & 0x3F));
            *p++ = char(0x80 | (u & 0x3F));
        } else {
            const char16_t v = QChar::isSurrogate(c) ? char16_t(0xFFFD) : c;
            *p++ = char(0xE0 | (v >> 12));
            *p++ = char(0x80 | ((v >> 6) & 0x3F));
            *p++ = char(0x80 | (v & 0x3F));
        }
    }
    out.resize(p - out.data());
}

QString lookupKey(QStringView text)
{
    return QString::fromRawData(reinterpret_cast<const QChar *>(text.utf16()), text.size());
}

} // namespace importing

using namespace importing;

QString oneLine(const QString &text)
{
    return text.simplified();
}

QString refusalCode(RefusalReason reason)
{
    switch (reason) {
    case RefusalReason::TooLong:
        return QStringLiteral("too_long");
    case RefusalReason::EmptyNumber:
        return QStringLiteral("empty_number");
    case RefusalReason::Duplicate:
        return QStringLiteral("duplicate");
    case RefusalReason::Nul:
        return QStringLiteral("nul");
    case RefusalReason::Control:
        return QStringLiteral("control");
    case RefusalReason::BadDate:
        return QStringLiteral("bad_date");
    case RefusalReason::TooManyFields:
        return QStringLiteral("too_many_fields");
    case RefusalReason::Unreadable:
        return QStringLiteral("unreadable");
    case RefusalReason::Undecodable:
        return QStringLiteral("undecodable");
    case RefusalReason::LinkLost:
        return QStringLiteral("link_lost");
    case RefusalReason::NotCommitted:
        return QStringLiteral("not_committed");
    case RefusalReason::Database:
        break;
    }
    return QStringLiteral("database");
}

QString refusalText(const Refusal &refusal)
{
    namespace svc = zq::services;
    const QString column = refusal.column.isEmpty() ? QString()
                                                    : svc::GetFunctionString(refusal.column);
    switch (refusal.reason) {
    case RefusalReason::TooLong:
        return svc::GetFunctionString(QStringLiteral("RefusedTooLong")).arg(column, refusal.detail);
    case RefusalReason::EmptyNumber:
        return svc::GetFunctionString(QStringLiteral("RefusedEmptyNumber"));
    case RefusalReason::Duplicate:
        return svc::GetFunctionString(QStringLiteral("RefusedDuplicate")).arg(refusal.detail);
    case RefusalReason::Nul:
        return svc::GetFunctionString(QStringLiteral("RefusedNul")).arg(column);
    case RefusalReason::Control:
        return svc::GetFunctionString(QStringLiteral("RefusedControl")).arg(column);
    case RefusalReason::BadDate:
        return svc::GetFunctionString(QStringLiteral("RefusedBadDate")).arg(column, refusal.detail);
    case RefusalReason::TooManyFields:
        return svc::GetFunctionString(QStringLiteral("RefusedTooManyFields")).arg(refusal.detail);
    case RefusalReason::Unreadable:
        return svc::GetFunctionString(QStringLiteral("RefusedUnreadable"));
    case RefusalReason::Undecodable:
        return svc::GetFunctionString(QStringLiteral("RefusedUndecodable")).arg(column);
    case RefusalReason::LinkLost:
        return svc::GetFunctionString(QStringLiteral("NotStoredLinkLost"))
            .arg(oneLine(refusal.detail));
    case RefusalReason::NotCommitted:
        return svc::GetFunctionString(QStringLiteral("NotStoredNotCommitted"))
            .arg(oneLine(refusal.detail));
    case RefusalReason::Database:
        break;
    }
    return svc::GetFunctionString(QStringLiteral("RefusedByDatabase")).arg(oneLine(refusal.detail));
}

QString HolderImport::auditKey()
{
    return QStringLiteral("BasicDataHolderB");
}

HolderImport::HolderImport(Connection *connection, const ImportOptions &options)
    : m_connection(connection)
    , m_options(options)
{
    if (!m_options.today.isValid())
        m_options.today = QDate::currentDate();
    if (m_options.dateFormat.isEmpty())
        m_options.dateFormat = transferDateFormat();
    m_todayStamp = stampOf(m_options.today).toUtf8();
}

HolderImport::~HolderImport()
{
    if (m_inBatch && isConnected() && !m_options.dryRun) {
        flushPending();
        settle();
        m_connection->commit();
    }
    m_sql.reset();
    if (m_cacheSize != 0 && isConnected())
        QSqlQuery(m_connection->database())
            .exec(QStringLiteral("PRAGMA cache_size = %1").arg(m_cacheSize));
}

bool HolderImport::isConnected() const
{
    return m_connection && m_connection->isConnected();
}

QString HolderImport::databaseError() const
{
    if (m_connection && !m_connection->errors().isEmpty())
        return m_connection->errors().constFirst().text;
    return m_lastError;
}

// A number of the snapshot. Blanks after a number do not make it another one, as the holder
// window sees it: it is found by its bare form and written by its stored one. Where the bare
// form is stored too, that row is the one the number finds.
void HolderImport::takeStored(const QString &number)
{
    ++m_tableSize;
    qsizetype bare = number.size();
    while (bare > 0 && number.at(bare - 1) == u' ')
        --bare;
    if (bare == number.size()) {
        m_holders.insert(number, -1);
        if (!m_storedAs.isEmpty())
            m_storedAs.remove(number);
        return;
    }
    const QString key = number.left(bare);
    if (m_holders.find(key))
        return;
    m_holders.insert(key, -1);
    m_storedAs.insert(key, number);
}

// The holder numbers of the table. Only the numbers: the photos of the whole table are no
// business of an import. They are read straight from the engine where it can be, through
// Qt's driver otherwise.
bool HolderImport::readSnapshot()
{
    m_holders.clear();
    m_storedAs.clear();
    m_tableSize = 0;
    const QString snapshot = QStringLiteral(" SELECT HolderNo FROM HolderData  ");
    zq::data::TextRows direct(m_connection);
    if (direct.exec(snapshot)) {
        while (direct.next()) {
            const QByteArrayView bytes = direct.text(0);
            takeStored(direct.isText(0) && zq::data::isPlainUtf8(bytes)
                           ? QString::fromUtf8(bytes)
                           : direct.value(0).toString());
        }
        if (direct.failed())
            return false;
        direct.finish();
        return true;
    }
    if (!direct.unavailable())
        return false;
    QSqlQuery numbers(m_connection->database());
    numbers.setForwardOnly(true);
    if (!numbers.exec(snapshot)) {
        m_connection->setErrorsFrom(numbers.lastError());
        return false;
    }
    while (numbers.next())
        takeStored(numbers.value(0).toString());
    numbers.finish();
    return true;
}

// The holder column of each position of the column order, and what an overwrite sets.
void HolderImport::mapColumns()
{
    m_columns.clear();
    m_written.clear();
    m_updated.clear();
    for (const QChar code : std::as_const(m_options.columnOrder)) {
        const TransferColumn *column = columnOf(code);
        m_columns << column;
        m_written << (column ? writtenColumns().indexOf(column->holderColumn) : -1);
        if (m_written.last() >= 0 && !m_updated.contains(m_written.last()))
            m_updated << m_written.last();
    }
    // An overwrite writes what the file carries and nothing else: a sync from a system that
    // knows only names and numbers must not empty the rest of each holder every night.
    std::sort(m_updated.begin(), m_updated.end());
}

bool HolderImport::prepare(Statements &sql)
{
    QStringList updatedNames;
    for (const int v : std::as_const(m_updated))
        updatedNames << writtenColumns().at(v);
    const QString columns = writtenColumns().join(QStringLiteral(", "));
    if (!sql.insert.prepare(QStringLiteral("INSERT INTO HolderData (HolderNo, %1, SequenceNo) "
                                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                                .arg(columns))) {
        m_connection->setErrorsFrom(sql.insert.lastError());
        return false;
    }
    if (!updatedNames.isEmpty()
        && !sql.update.prepare(QStringLiteral("UPDATE HolderData SET %1 = ? WHERE HolderNo = ?")
                                   .arg(updatedNames.join(QStringLiteral(" = ?, "))))) {
        m_connection->setErrorsFrom(sql.update.lastError());
        return false;
    }
    return true;
}

// Who is granted a department the import creates: the importing user and every supervisor.
void HolderImport::readGrantees()
{
    m_grantees.clear();
    if (!m_connection->hasTable(QStringLiteral("UserData"))
        || !m_connection->hasTable(QStringLiteral("UserRightDept")))
        return;
    QSqlQuery users(m_connection->database());
    users.setForwardOnly(true);
    if (users.exec(QStringLiteral(" SELECT UserID FROM UserData  WHERE UserID = ")
                   + Connection::quoted(m_options.userId) + QStringLiteral(" OR Supervisor = 1 ")))
        while (users.next())
            m_grantees << users.value(0).toString();
}

// SQLite: the batch's pages stay in memory until its commit rather than being written twice
// (SQLite's default cache holds 2 MB).
void HolderImport::widenCache()
{
    QSqlQuery cache(m_connection->database());
    if (cache.exec(QStringLiteral("PRAGMA cache_size")) && cache.next())
        m_cacheSize = cache.value(0).toInt();
    cache.finish();
    if (m_cacheSize < 0 && m_cacheSize > -kCacheKiB)
        cache.exec(QStringLiteral("PRAGMA cache_size = -%1").arg(kCacheKiB));
    else
        m_cacheSize = 0;
}

bool HolderImport::start()
{
    // After a lost link an import connects again rather than failing for good.
    if (!m_connection || !m_connection->ensureOpen())
        return false;
    auto sql = std::make_unique<Statements>(m_connection->database());
    for (Recordset &names : sql->names)
        names.setConnection(m_connection);
    sql->grants.setConnection(m_connection);
    if (!readSnapshot())
        return false;
    mapColumns();
    if (!prepare(*sql))
        return false;
    readGrantees();
    m_sql = std::move(sql);
    m_savepoints = m_connection->engine() == zq::data::Engine::PostgreSQL;
    if (!m_savepoints && !m_options.dryRun)
        widenCache();
    m_sinceCommit.start();
    // A dry run holds no transaction: each of its reads takes its shared lock only while it
    // runs, so other workstations go on writing while the file is judged.
    if (m_options.dryRun)
        return true;
    // Without its transaction nothing may be written: each line would wait out the lock
    // on its own and be stored outside any batch.
    m_inBatch = m_connection->begin();
    if (!m_inBatch)
        stopOnFailure();
    return m_inBatch;
}

// A failed statement makes a PostgreSQL transaction unusable until it is rolled back, so
// each line's writes sit in a savepoint there. SQLite undoes a failed statement by itself
// and keeps the transaction; a savepoint would only cost a journal file per line.
bool HolderImport::savepoint()
{
    if (!m_inBatch || !m_savepoints)
        return true;
    return m_sql->control.exec(QStringLiteral("SAVEPOINT zq_line"));
}

// A statement after the kept ones (the audit entry) that failed leaves the transaction
// unusable too: the release then fails, and the line is undone after all.
bool HolderImport::endSavepoint(bool keep)
{
    if (!m_inBatch || !m_savepoints)
        return keep;
    if (keep && !m_sql->control.exec(QStringLiteral("RELEASE SAVEPOINT zq_line"))) {
        m_lastError = m_sql->control.lastError().text();
        keep = false;
    }
    if (!keep) {
        m_sql->control.exec(QStringLiteral("ROLLBACK TO SAVEPOINT zq_line"));
        m_sql->control.exec(QStringLiteral("RELEASE SAVEPOINT zq_line"));
    }
    return keep;
}

void HolderImport::commitIfDue()
{
    if (m_options.dryRun || m_sinceCommit.elapsed() < m_options.commitEveryMs || !isConnected()
        || m_stopped)
        return;
    if (!commitBatch())
        return;
    // SQLite has one writer at a time, and a transaction begun right after a commit would
    // keep the file from any other writer for the whole import: another import, or a
    // window's save, would wait out its busy timeout and fail. Every few batches the lock is
    // left free for longer than a waiting writer sleeps between its tries, sooner than its
    // timeout ends.
    if (m_connection->engine() == zq::data::Engine::SQLite && ++m_commits % kYieldEvery == 0)
        QThread::msleep(kYieldMs);
    m_inBatch = m_connection->begin();
    if (!m_inBatch)
        stopOnFailure();
    m_sinceCommit.restart();
}

bool HolderImport::commitBatch()
{
    if (!m_inBatch)
        return !m_stopped && isConnected();
    flushPending();
    settle();
    if (!m_inBatch)
        return false; // the batch went with a write that failed for good
    m_inBatch = false;
    const int done = m_counts[int(Outcome::Inserted)] + m_counts[int(Outcome::Updated)];
    if (m_connection->commit()) {
        m_stored = done;
        m_uncommitted.clear();
        m_createdCommitted = m_created.size();
        return true;
    }
    stopOnFailure();
    return false;
}

// The batch is gone, and with it every line and code it held: the lines are told as not
// stored, the codes may not be used again, and the import stops with what was committed.
void HolderImport::stopOnFailure()
{
    const QList<zq::data::DbErrorItem> errors = m_connection->errors();
    if (m_error.isEmpty() && !errors.isEmpty())
        m_error = errors.constFirst().text;
    // A commit that failed for the link tells so by its error, before the driver may.
    if (!errors.isEmpty() && errors.constFirst().nativeCode == 0 && isConnected())
        m_connection->closeLostLink();
    // SQLITE_BUSY: another writer held the file longer than the busy timeout.
    m_busy = !errors.isEmpty() && m_connection->engine() == zq::data::Engine::SQLite
             && (errors.constFirst().nativeCode & 0xff) == 5;
    if (m_inBatch || m_connection->inTransaction())
        m_connection->rollback();
    m_inBatch = false;
    m_pending.clear();
    m_sent.clear();
    for (QHash<QString, QString> &numbers : m_numbers)
        numbers.clear();
    m_stopped = true;
    loseUncommitted(isConnected() ? RefusalReason::NotCommitted : RefusalReason::LinkLost, m_error);
}

// A statement that failed because the link is gone closes it, as a recordset's does: the
// driver may still call it open, and the lines after it are lost, not refused.
void HolderImport::noteFailure(const QSqlError &error)
{
    for (const zq::data::DbErrorItem &e : m_connection->translate(error)) {
        if (e.nativeCode == 0) {
            m_connection->setErrorsFrom(error);
            m_connection->closeLostLink();
            return;
        }
    }
}

void HolderImport::loseUncommitted(RefusalReason reason, const QString &detail)
{
    m_lostReason = reason;
    for (const Uncommitted &line : std::as_const(m_uncommitted)) {
        --m_counts[int(line.outcome)];
        ++m_counts[int(Outcome::Lost)];
        keepSorted(Refusal{line.line, line.number, reason, QString(), detail});
    }
    m_uncommitted.clear();
    if (!m_options.dryRun && m_created.size() > m_createdCommitted)
        m_created.resize(m_createdCommitted);
}

// A line whose write was lost with its batch (counted by the caller).
HolderImport::Outcome HolderImport::notStored(const QString &holderNo)
{
    keepSorted(Refusal{
        m_line, holderNo, m_lostReason, QString(), m_error.isEmpty() ? databaseError() : m_error});
    return Outcome::Lost;
}

void HolderImport::keepSorted(const Refusal &refusal)
{
    const auto at = std::upper_bound(m_refusals.begin(),
                                     m_refusals.end(),
                                     refusal.line,
                                     [](qint64 line, const Refusal &r) { return line < r.line; });
    m_refusals.insert(at, refusal);
}

void HolderImport::grantDepartment(const QString &number)
{
    Recordset &q = m_sql->grants;
    for (const QString &user : std::as_const(m_grantees)) {
        if (!savepoint())
            return;
        bool keep = false;
        try {
            const QString where = QStringLiteral(" WHERE UserID = ") + Connection::quoted(user)
                                  + QStringLiteral(" AND DepartmentNo = ")
                                  + Connection::quoted(number) + QStringLiteral(" ");
            if (zq::data::RunQuery(&q, QStringLiteral(" SELECT * FROM UserRightDept") + where, 0)
                == 1) {
                keep = true;
                if (q.isEmpty()) {
                    q.append();
                    q.setField(QStringLiteral("UserID"), user);
                    q.setField(QStringLiteral("DepartmentNo"), number);
                    try {
                        q.post();
                    } catch (const std::exception &e) {
                        qCWarning(lcTransfer) << "cannot grant department" << number << "to" << user
                                              << ":" << e.what();
                        q.cancel();
                        keep = false;
                    }
                }
            }
        } catch (const std::exception &e) {
            qCWarning(lcTransfer) << "cannot read the rights of" << user << ":" << e.what();
            keep = false;
        }
        q.close();
        endSavepoint(keep);
    }
}

QString HolderImport::numberOf(int table, QStringView nameView)
{
    if (nameView.isEmpty())
        return QStringLiteral("");
    const auto known = m_numbers[table].constFind(lookupKey(nameView));
    if (known != m_numbers[table].constEnd())
        return *known;
    const QString name = nameView.toString();
    const NameTable &t = kNameTables[table];
    const QString tableName = QLatin1String(t.table);
    QString number = name;
    Recordset &q = m_sql->names[table];
    settle();
    if (name.contains(QChar(0)) || !savepoint())
        return name;
    bool keep = false;
    bool created = false;
    try {
        const QString sql = QStringLiteral(" SELECT * FROM %1 WHERE %2 = ").arg(tableName, t.name)
                            + Connection::quoted(name) + QStringLiteral(" ");
        if (zq::data::RunQuery(&q, sql, 0) == 1) {
            keep = true;
            if (!q.isEmpty()) {
                number = q.text(QLatin1String(t.number)).trimmed();
            } else if (storable(tableName, QLatin1String(t.number), name)
                       && storable(tableName, QLatin1String(t.name), name)) {
                if (m_options.dryRun) {
                    m_created << CreatedCode{table, name};
                } else {
                    q.append();
                    q.setField(QLatin1String(t.number), name);
                    q.setField(QLatin1String(t.name), name);
                    q.setField(QStringLiteral("Description"), name);
                    try {
                        q.post();
                        created = true;
                        zq::services::AddProgramRunEdit(auditKey(), QStringLiteral("A ") + name);
                        m_created << CreatedCode{table, name};
                    } catch (const std::exception &e) {
                        qCWarning(lcTransfer)
                            << "cannot create" << tableName << name << ":" << e.what();
                        q.cancel();
                        keep = false;
                    }
                }
            }
        }
    } catch (const std::exception &e) {
        qCWarning(lcTransfer) << "cannot look up" << tableName << name << ":" << e.what();
        keep = false;
        created = false;
    }
    q.close();
    const bool kept = endSavepoint(keep);
    if (!kept && !m_created.isEmpty() && m_created.constLast().name == name
        && m_created.constLast().table == table && !m_options.dryRun)
        m_created.removeLast();
    // Only a number that stands in the table is remembered; a failed look-up is tried
    // again by the next line that names it.
    if (kept)
        m_numbers[table].insert(name, number);
    if (created && kept && table == 0)
        grantDepartment(number);
    return number;
}

HolderImport::Outcome HolderImport::refuse(const QString &holderNo,
                                           RefusalReason reason,
                                           const QString &column,
                                           const QString &detail)
{
    m_refusals << Refusal{m_line, holderNo, reason, column, detail};
    return Outcome::Failed;
}

void HolderImport::refuseLine(qint64 lineNumber,
                              RefusalReason reason,
                              const QString &detail,
                              const QString &column)
{
    m_line = lineNumber >= 0 ? lineNumber : m_line + 1;
    refuse(QString(), reason, column, detail);
    ++m_counts[int(Outcome::Failed)];
}

bool HolderImport::finish()
{
    if (!m_inBatch && m_options.dryRun)
        return true;
    return commitBatch();
}

} // namespace zq::transfer