#include "HolderImport.h"

#include "BulkWriter.h"
#include "Connection.h"
#include "Helpers.h"
#include "Recordset.h"
#include "Schema.h"
#include "Services.h"
#include "TextRows.h"
#include "TransferFormat.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QVarLengthArray>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace zq::transfer {

using zq::data::Connection;
using zq::data::Recordset;

namespace {

constexpr qint64 kCommitEveryMs = 1000;
// Holders written by one statement on PostgreSQL: a round trip per line would cost more
// than the writing itself. SQLite runs in the process, where a statement per line is
// cheaper than binding a long one.
constexpr qsizetype kBatchRows = 1000;
// The page cache of an SQLite import, in KiB.
constexpr int kCacheKiB = 32768;

// The three name look-ups: table, number column, name column.
struct NameTable
{
    const char *table;
    const char *number;
    const char *name;
};
constexpr NameTable kNameTables[3] = {{"DepartmentData", "DepartmentNo", "DepartmentName"},
                                      {"OccupationTitle", "TitleNo", "TitleName"},
                                      {"OccupationType", "TypeNo", "TypeName"}};

// The holder columns an import writes, in the order of the update.
const QStringList kWritten{"HolderName",
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

// The start of the day in the zone-free form of the data layer, without a round trip
// through the local time zone, which costs a look at the zone file per call.
QString stampOf(const QDate &day)
{
    return day.toString(Qt::ISODate) + QStringLiteral(" 00:00:00");
}

bool fits(int width, const QString &text)
{
    return !text.contains(QChar(0)) && (width == 0 || text.size() <= width);
}

bool storable(const QString &table, const QString &column, const QString &text)
{
    return fits(widthOf(table, column), text);
}

// The holder widths in the order of kWritten, then HolderNo's.
const QList<int> &holderWidths()
{
    static const QList<int> widths = [] {
        QList<int> w;
        for (const QString &c : kWritten)
            w << widthOf(QStringLiteral("HolderData"), c);
        w << widthOf(QStringLiteral("HolderData"), QStringLiteral("HolderNo"));
        return w;
    }();
    return widths;
}

// The holder column of a position of the column order, for the report.
QString columnName(const TransferColumn *column)
{
    return column ? column->caption : QString();
}

} // namespace

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
    case RefusalReason::Database:
        break;
    }
    return svc::GetFunctionString(QStringLiteral("RefusedByDatabase")).arg(refusal.detail);
}

QString HolderImport::auditKey()
{
    return QStringLiteral("BasicDataHolderB");
}

struct HolderImport::Statements
{
    explicit Statements(const QSqlDatabase &db)
        : insert(db)
        , update(db)
        , control(db)
    {}
    QSqlQuery insert;
    QSqlQuery update;
    QSqlQuery control;
    // The look-ups of each name table and the grants, each in a recordset of its own: a
    // recordset reads its table's columns and key again whenever its table changes.
    Recordset names[3];
    Recordset grants;
    QSqlQuery batchInsert;
    QSqlQuery batchUpdate;
    bool batchPrepared[2] = {};
    // The direct writers of new and of existing holders, prepared when first needed.
    std::unique_ptr<zq::data::BulkWriter> writers[2];
    QByteArray numberUtf8; // the number of the row being added, reused
    bool writerTried[2] = {};
};

namespace {
constexpr int kValues = 12; // kWritten.size()
}

// A judged holder: its values as UTF-8 one after another, each as Qt's driver would have
// bound the text it stands for (a null text is NULL, an empty one '').
struct HolderImport::Pending
{
    qint64 line = 0;
    QString number;
    // The number as the row stores it, where that differs (blanks after it); "" otherwise.
    QString storedAs;
    bool exists = false;
    qsizetype sequence = 0;
    QByteArray text;
    std::array<int, kValues> ends{};
    quint32 nulls = 0; // bit i: value i is NULL

    QByteArrayView value(int i) const
    {
        const int begin = i > 0 ? ends[size_t(i - 1)] : 0;
        return QByteArrayView(text.constData() + begin, ends[size_t(i)] - begin);
    }
    bool isNull(int i) const { return nulls & (1u << i); }
    /// The key the row is written by.
    const QString &key() const { return storedAs.isEmpty() ? number : storedAs; }
    QVariant variant(int i) const
    {
        if (isNull(i))
            return QVariant();
        const QByteArrayView v = value(i);
        return v.isEmpty() ? QVariant(QStringLiteral("")) : QVariant(QString::fromUtf8(v));
    }
};

// The fields of a line as views of it; a quoted field with doubled quotes is copied once,
// undoubled, into `owned`.
struct HolderImport::Fields
{
    static constexpr qsizetype Most = 15;
    QVarLengthArray<QStringView, Most + 1> at;
    QString owned[Most + 1];
};

namespace {

bool isDateColumn(const QString &column)
{
    return column == QLatin1String("Birthday") || column == QLatin1String("StartDate")
           || column == QLatin1String("ExpiredDate");
}

// One statement for any number of holders: each column's values as one array, so that
// the statement and its plan stay the same however many rows it carries. The update joins
// the arrays' rows by number.
QString batchStatement(bool update)
{
    QStringList arrays{QStringLiteral("CAST(? AS text[])")};
    QStringList names{QStringLiteral("k")};
    QStringList sets;
    for (qsizetype i = 0; i < kWritten.size(); ++i) {
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

bool hasControl(QStringView text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u < 0x7F)
            continue;
        if (u < 0x20 || QChar::category(char32_t(u)) == QChar::Other_Control)
            return true;
    }
    return false;
}

// The UTF-8 of `text` after `out`; a surrogate without its other half becomes U+FFFD, as
// QString::toUtf8() makes it.
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

// stampOf() into `out` (19 bytes) without a QString; false for a year of other than four
// digits, which stampOf() writes in its own way.
bool writeStamp(const QDate &day, char *out)
{
    int y = 0, m = 0, d = 0;
    day.getDate(&y, &m, &d);
    if (y < 0 || y > 9999)
        return false;
    const auto two = [](char *at, int v) {
        at[0] = char('0' + v / 10);
        at[1] = char('0' + v % 10);
    };
    two(out, y / 100);
    two(out + 2, y % 100);
    out[4] = '-';
    two(out + 5, m);
    out[7] = '-';
    two(out + 8, d);
    memcpy(out + 10, " 00:00:00", 9);
    return true;
}

// A QString over `text` without a copy, for hash look-ups only.
QString lookupKey(QStringView text)
{
    return QString::fromRawData(reinterpret_cast<const QChar *>(text.utf16()), text.size());
}

} // namespace

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

bool HolderImport::start()
{
    // After a lost link an import connects again rather than failing for good.
    if (!m_connection || !m_connection->ensureOpen())
        return false;
    auto sql = std::make_unique<Statements>(m_connection->database());
    for (Recordset &names : sql->names)
        names.setConnection(m_connection);
    sql->grants.setConnection(m_connection);
    // Only the numbers: the photos of the whole table are no business of an import. They
    // are read straight from the engine where it can be, through Qt's driver otherwise.
    m_holders.clear();
    m_storedAs.clear();
    m_tableSize = 0;
    const QString snapshot = QStringLiteral(" SELECT HolderNo FROM HolderData  ");
    zq::data::TextRows direct(m_connection);
    if (m_options.directWrites && direct.exec(snapshot)) {
        while (direct.next()) {
            const QByteArrayView bytes = direct.text(0);
            takeStored(direct.isText(0) && zq::data::isPlainUtf8(bytes)
                           ? QString::fromUtf8(bytes)
                           : direct.value(0).toString());
        }
        if (direct.failed())
            return false;
        direct.finish();
    } else if (m_options.directWrites && !direct.unavailable()) {
        return false;
    } else {
        QSqlQuery numbers(m_connection->database());
        numbers.setForwardOnly(true);
        if (!numbers.exec(snapshot)) {
            m_connection->setErrorsFrom(numbers.lastError());
            return false;
        }
        while (numbers.next())
            takeStored(numbers.value(0).toString());
        numbers.finish();
    }
    const QString columns = kWritten.join(QStringLiteral(", "));
    if (!sql->insert.prepare(QStringLiteral("INSERT INTO HolderData (HolderNo, %1, SequenceNo) "
                                            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                                 .arg(columns))
        || !sql->update.prepare(QStringLiteral("UPDATE HolderData SET %1 = ? WHERE HolderNo = ?")
                                    .arg(kWritten.join(QStringLiteral(" = ?, "))))) {
        m_connection->setErrorsFrom(sql->insert.lastError());
        return false;
    }
    m_columns.clear();
    m_written.clear();
    for (const QChar code : std::as_const(m_options.columnOrder)) {
        const TransferColumn *column = columnOf(code);
        m_columns << column;
        m_written << (column ? kWritten.indexOf(column->holderColumn) : -1);
    }
    m_grantees.clear();
    if (m_connection->hasTable(QStringLiteral("UserData"))
        && m_connection->hasTable(QStringLiteral("UserRightDept"))) {
        QSqlQuery users(m_connection->database());
        users.setForwardOnly(true);
        if (users.exec(QStringLiteral(" SELECT UserID FROM UserData  WHERE UserID = ")
                       + Connection::quoted(m_options.userId)
                       + QStringLiteral(" OR Supervisor = 1 ")))
            while (users.next())
                m_grantees << users.value(0).toString();
    }
    m_sql = std::move(sql);
    m_savepoints = m_connection->engine() == zq::data::Engine::PostgreSQL;
    if (!m_savepoints && !m_options.dryRun) {
        QSqlQuery cache(m_connection->database());
        if (cache.exec(QStringLiteral("PRAGMA cache_size")) && cache.next())
            m_cacheSize = cache.value(0).toInt();
        cache.finish();
        // The batch's pages stay in memory until its commit rather than being written twice
        // (SQLite's default cache holds 2 MB).
        if (m_cacheSize < 0 && m_cacheSize > -kCacheKiB)
            cache.exec(QStringLiteral("PRAGMA cache_size = -%1").arg(kCacheKiB));
        else
            m_cacheSize = 0;
    }
    // A dry run holds no transaction: each of its reads takes its shared lock only while it
    // runs, so other workstations go on writing while the file is judged.
    m_inBatch = !m_options.dryRun && m_connection->begin();
    m_sinceCommit.start();
    return true;
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
    m_inBatch = m_connection->begin();
    m_sinceCommit.restart();
}

bool HolderImport::commitBatch()
{
    if (!m_inBatch)
        return !m_stopped && isConnected();
    flushPending();
    settle();
    m_inBatch = false;
    const int done = m_counts[int(Outcome::Inserted)] + m_counts[int(Outcome::Updated)];
    if (m_connection->commit()) {
        m_stored = done;
        return true;
    }
    // The batch is gone, and with it every code it created: none may be used again.
    m_error = m_connection->errors().isEmpty() ? QString()
                                               : m_connection->errors().constFirst().text;
    for (QHash<QString, QString> &numbers : m_numbers)
        numbers.clear();
    m_stopped = true;
    return false;
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
                    } catch (...) {
                        q.cancel();
                        keep = false;
                    }
                }
            }
        } catch (...) {
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
                    } catch (...) {
                        q.cancel();
                        keep = false;
                    }
                }
            }
        }
    } catch (...) {
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

bool HolderImport::storeHolder(Pending &&row)
{
    if (m_options.dryRun)
        return true;
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
    return true;
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

// One holder by its own statement, in its own savepoint with its audit entry.
bool HolderImport::writeHolder(const Pending &row)
{
    QSqlQuery &q = row.exists ? m_sql->update : m_sql->insert;
    int i = 0;
    if (!row.exists)
        q.bindValue(i++, row.key());
    for (int v = 0; v < kValues; ++v)
        q.bindValue(i++, row.variant(v));
    q.bindValue(i, row.exists ? QVariant(row.key()) : QVariant(row.sequence));
    if (!savepoint()) {
        m_lastError = m_sql->control.lastError().text();
        return false;
    }
    const bool ok = q.exec();
    if (ok)
        audit(row.exists, row.number);
    else
        m_lastError = q.lastError().text();
    return endSavepoint(ok);
}

// The writer of new (false) or existing holders through the engine's own library; nullptr
// when the import goes through Qt's driver alone or the writer could not be prepared.
static zq::data::BulkWriter *writerOf(zq::data::Connection *connection,
                                      std::unique_ptr<zq::data::BulkWriter> (&writers)[2],
                                      bool (&tried)[2],
                                      bool update)
{
    if (!tried[update]) {
        tried[update] = true;
        QStringList columns = kWritten;
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
    for (int v = 0; v < kValues; ++v) {
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
bool HolderImport::writeDirect(const Pending &row)
{
    zq::data::BulkWriter *w = m_options.directWrites ? writerOf(
                                  m_connection, m_sql->writers, m_sql->writerTried, row.exists)
                                                     : nullptr;
    if (!w)
        return writeHolder(row);
    addRow(row);
    if (w->write()) {
        audit(row.exists, row.number);
        return true;
    }
    if (w->transactionEnded()) {
        // The engine rolled the batch back itself: no write may run outside it now.
        m_lastError = w->errorText() + QLatin1Char(' ')
                      + QCoreApplication::translate("QSQLiteResult", "Unable to fetch row");
        return false;
    }
    return writeHolder(row);
}

// `rows` by one statement, with their audit entries, in one savepoint. An update through
// the engine's own library is only sent: the server writes it while the next lines are
// judged, and settle() takes its answer.
HolderImport::Batch HolderImport::writeBatch(const std::vector<Pending> &rows)
{
    const bool update = rows.front().exists;
    if (zq::data::BulkWriter *w = m_options.directWrites ? writerOf(
                                      m_connection, m_sql->writers, m_sql->writerTried, update)
                                                         : nullptr) {
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
        if (!q.prepare(batchStatement(update))) {
            m_lastError = q.lastError().text();
            return Batch::Refused;
        }
        m_sql->batchPrepared[update] = true;
    }
    QStringList columns(kWritten.size() + 2, QStringLiteral("{"));
    for (const Pending &row : rows) {
        appendElement(columns[0], row.key());
        for (int c = 0; c < kValues; ++c)
            appendElement(columns[c + 1], row.variant(c));
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
// ones into the refusals, at its place.
void HolderImport::writeAlone(const std::vector<Pending> &rows)
{
    for (const Pending &row : rows) {
        if (writeHolder(row))
            continue;
        const Outcome was = row.exists ? Outcome::Updated : Outcome::Inserted;
        --m_counts[int(was)];
        ++m_counts[int(Outcome::Failed)];
        if (!row.exists) {
            m_holders.remove(row.number);
            --m_tableSize;
        } else {
            m_holders.insert(row.number, -1);
        }
        const Refusal refusal{
            row.line, row.number, RefusalReason::Database, QString(), m_lastError};
        const auto at = std::upper_bound(
            m_refusals.begin(), m_refusals.end(), row.line, [](qint64 line, const Refusal &r) {
                return line < r.line;
            });
        m_refusals.insert(at, refusal);
    }
}

HolderImport::Outcome HolderImport::refuse(const QString &holderNo,
                                           RefusalReason reason,
                                           const QString &column,
                                           const QString &detail)
{
    m_refusals << Refusal{m_line, holderNo, reason, column, detail};
    return Outcome::Failed;
}

void HolderImport::refuseLine(qint64 lineNumber, RefusalReason reason, const QString &detail)
{
    m_line = lineNumber >= 0 ? lineNumber : m_line + 1;
    refuse(QString(), reason, QString(), detail);
    ++m_counts[int(Outcome::Failed)];
}

namespace {

// The fields of `line` by the rule of splitFields(), each trimmed as fieldsFor() trims
// them and padded with empty ones to `codes`; false when the line has more fields than
// that (or than a column order can have).
bool splitLine(QStringView line,
               QChar separator,
               qsizetype codes,
               QVarLengthArray<QStringView, 16> &at,
               QString *owned,
               qsizetype most)
{
    at.clear();
    if (codes > most)
        return false;
    const qsizetype n = line.size();
    qsizetype from = 0;
    const auto add = [&](QStringView field) {
        at.append(trimmedValue(field));
        return at.size() <= codes;
    };
    while (from < n) {
        if (line[from] == u'"') {
            qsizetype i = from + 1;
            qsizetype next = -1;
            bool doubled = false;
            for (; i < n; ++i) {
                if (line[i] != u'"')
                    continue;
                if (i + 1 < n && line[i + 1] == u'"') {
                    doubled = true;
                    ++i;
                    continue;
                }
                if (i + 1 == n)
                    next = n;
                else if (line[i + 1] == separator)
                    next = i + 2;
                break;
            }
            if (next >= 0) {
                QStringView inner = line.sliced(from + 1, i - from - 1);
                if (doubled) {
                    QString &copy = owned[at.size()];
                    copy = inner.toString();
                    copy.replace(QStringLiteral("\"\""), QStringLiteral("\""));
                    inner = copy;
                }
                if (!add(inner))
                    return false;
                from = next;
                continue;
            }
        }
        const qsizetype sep = line.indexOf(separator, from);
        if (sep < 0) {
            if (!add(line.sliced(from)))
                return false;
            break;
        }
        if (!add(line.sliced(from, sep - from)))
            return false;
        from = sep + 1;
    }
    while (at.size() < codes)
        at.append(QStringView());
    return true;
}

} // namespace

HolderImport::Outcome HolderImport::importLine(const QString &line, qint64 lineNumber)
{
    return importFields(
        lineNumber,
        [&](Fields &fields, qsizetype codes) {
            return splitLine(
                line, m_options.separator, codes, fields.at, fields.owned, Fields::Most);
        },
        [&] { return splitFields(line, m_options.separator); });
}

HolderImport::Outcome HolderImport::importCells(const QStringList &cells, qint64 lineNumber)
{
    return importFields(
        lineNumber,
        [&](Fields &fields, qsizetype codes) {
            fields.at.clear();
            if (codes > Fields::Most || cells.size() > codes)
                return false;
            for (const QString &cell : cells)
                fields.at.append(trimmedValue(cell));
            while (fields.at.size() < codes)
                fields.at.append(QStringView());
            return true;
        },
        [&] { return cells; });
}

template<typename Split, typename All>
HolderImport::Outcome HolderImport::importFields(qint64 lineNumber, Split split, All all)
{
    m_line = lineNumber >= 0 ? lineNumber : m_line + 1;
    if (!m_sql || m_stopped)
        return Outcome::Failed;
    Outcome outcome = Outcome::Ignored;
    QString holderNo;
    Fields fields;
    QStringView number;
    try {
        const qsizetype codes = m_options.columnOrder.size();
        const qsizetype numberAt = m_options.columnOrder.indexOf(u'1');
        const auto blank = [](const QStringList &list) {
            return std::all_of(list.cbegin(), list.cend(), [](const QString &f) {
                return valueText(f).isEmpty();
            });
        };
        if (!split(fields, codes)) {
            const QStringList every = all();
            if (numberAt >= 0 && numberAt < every.size())
                holderNo = valueText(every.at(numberAt));
            // A row of empty cells holds no holder, however wide its sheet.
            outcome = blank(every) ? Outcome::Ignored
                                   : refuse(holderNo,
                                            RefusalReason::TooManyFields,
                                            QString(),
                                            QString::number(codes));
        } else if (std::all_of(fields.at.cbegin(), fields.at.cend(), [](QStringView f) {
                       return f.isEmpty();
                   })) {
            outcome = Outcome::Ignored;
        } else {
            if (numberAt >= 0)
                number = fields.at[numberAt];
            outcome = judgeAndStore(fields, number);
        }
    } catch (...) {
        if (holderNo.isEmpty())
            holderNo = number.toString();
        outcome = refuse(holderNo, RefusalReason::Database, QString(), m_lastError);
    }
    ++m_counts[int(outcome)];
    commitIfDue();
    return outcome;
}

HolderImport::Outcome HolderImport::judgeAndStore(const Fields &fields, QStringView holderNo)
{
    enum { Name, Email, Def1, Def2, Description, Birthday, Start, Expired, Pin, Dept, Title, Type };
    const auto refused = [&](RefusalReason reason, const QString &column, const QString &detail) {
        return refuse(holderNo.toString(), reason, column, detail);
    };
    if (holderNo.trimmed().isEmpty())
        return refused(RefusalReason::EmptyNumber, QString(), QString());
    const qsizetype codes = m_options.columnOrder.size();
    for (qsizetype k = 0; k < codes; ++k)
        if (fields.at[k].contains(QChar(0)))
            return refused(RefusalReason::Nul, columnName(m_columns.at(k)), QString());
    // A line end or another control character in a number or a code would break every
    // file and list that carries it.
    for (qsizetype k = 0; k < codes; ++k) {
        const TransferColumn *column = m_columns.at(k);
        if (column && (column->code == u'1' || column->kind == ColumnKind::Name)
            && hasControl(fields.at[k]))
            return refused(RefusalReason::Control, columnName(column), QString());
    }
    const qint64 *known = m_holders.find(holderNo);
    // Whether an earlier line's holder was stored is known once its batch is written.
    if (known && *known >= 0 && *known >= firstUnwritten()) {
        flushPending();
        settle();
        known = m_holders.find(holderNo);
    }
    if (known && *known >= 0)
        return refused(RefusalReason::Duplicate, QString(), QString::number(*known));
    const bool exists = known != nullptr;

    // Empty text, not NULL: columns the file leaves empty are stored as ''. Dates are the
    // day of the import unless the file gives one.
    enum class Kind : quint8 { Empty, Today, Null, Text, Stamp, Number };
    Kind kinds[kValues];
    QStringView texts[kValues];
    char stamps[kValues][19];
    for (int v = 0; v < kValues; ++v)
        kinds[v] = v == Birthday || v == Start || v == Expired ? Kind::Today : Kind::Empty;
    QString otherStamps[kValues];
    QStringView names[3];
    const QList<int> &widths = holderWidths();
    if (!fits(widths.last(), lookupKey(holderNo)))
        return refused(
            RefusalReason::TooLong, QStringLiteral("HolderNo"), QString::number(widths.last()));
    for (qsizetype k = 0; k < codes; ++k) {
        const QStringView field = fields.at[k];
        const TransferColumn *column = m_columns.at(k);
        if (field.isEmpty() || !column || column->code == u'1')
            continue;
        const qsizetype at = m_written.at(k);
        switch (column->kind) {
        case ColumnKind::Text:
            if (widths.at(at) != 0 && field.size() > widths.at(at))
                return refused(
                    RefusalReason::TooLong, column->caption, QString::number(widths.at(at)));
            kinds[at] = Kind::Text;
            texts[at] = field;
            break;
        case ColumnKind::Date: {
            const std::optional<QDate> day = readDate(field, m_options.dateFormat);
            if (!day)
                return refused(RefusalReason::BadDate, column->caption, field.toString());
            // The zero date is what an empty date was written as.
            if (*day == zeroDate()) {
                kinds[at] = Kind::Null;
            } else if (writeStamp(*day, stamps[at])) {
                kinds[at] = Kind::Stamp;
            } else {
                otherStamps[at] = stampOf(*day);
                kinds[at] = Kind::Text;
                texts[at] = otherStamps[at];
            }
            break;
        }
        case ColumnKind::Name:
            names[column->code.unicode() - 'A'] = field;
            break;
        }
    }
    QString numbers[3];
    for (int n = 0; n < 3; ++n) {
        numbers[n] = numberOf(n, names[n]);
        if (!fits(widths.at(Dept + n), numbers[n]))
            return refused(RefusalReason::TooLong,
                           QLatin1String(kNameTables[n].number),
                           QString::number(widths.at(Dept + n)));
        kinds[Dept + n] = Kind::Number;
    }

    Outcome outcome = Outcome::Kept;
    const QString stored = holderNo.toString();
    if (!exists || m_options.cover) {
        Pending row;
        row.line = m_line;
        row.number = stored;
        row.exists = exists;
        if (exists && !m_storedAs.isEmpty())
            row.storedAs = m_storedAs.value(lookupKey(holderNo));
        row.text.reserve(256);
        for (int v = 0; v < kValues; ++v) {
            switch (kinds[v]) {
            case Kind::Empty:
                break;
            case Kind::Today:
                row.text.append(m_todayStamp);
                break;
            case Kind::Null:
                row.nulls |= 1u << v;
                break;
            case Kind::Text:
                appendUtf8(row.text, texts[v]);
                break;
            case Kind::Stamp:
                row.text.append(stamps[v], 19);
                break;
            case Kind::Number:
                if (numbers[v - Dept].isNull())
                    row.nulls |= 1u << v;
                else
                    appendUtf8(row.text, numbers[v - Dept]);
                break;
            }
            row.ends[size_t(v)] = int(row.text.size());
        }
        if (!storeHolder(std::move(row)))
            return refused(RefusalReason::Database, QString(), m_lastError);
        outcome = exists ? Outcome::Updated : Outcome::Inserted;
        if (!exists)
            ++m_tableSize;
    }
    m_holders.insert(stored, m_line);
    return outcome;
}

bool HolderImport::finish()
{
    if (!m_inBatch && m_options.dryRun)
        return true;
    return commitBatch();
}

} // namespace zq::transfer
