#include "HolderImport.h"

#include "Connection.h"
#include "Helpers.h"
#include "Recordset.h"
#include "Schema.h"
#include "Services.h"
#include "TransferFormat.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace zq::transfer {

using zq::data::Connection;
using zq::data::Recordset;

namespace {

constexpr qint64 kCommitEveryMs = 1000;
// Holders written by one statement on PostgreSQL: a round trip per line would cost more
// than the writing itself. SQLite runs in the process, where a statement per line is
// cheaper than binding a long one.
constexpr qsizetype kBatchRows = 1000;

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
    Recordset scratch;
    QSqlQuery batchInsert;
    QSqlQuery batchUpdate;
    bool batchPrepared[2] = {};
};

struct HolderImport::Pending
{
    qint64 line = 0;
    QString number;
    QVariantList values;
    bool exists = false;
    qsizetype sequence = 0;
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

} // namespace

HolderImport::HolderImport(Connection *connection, const ImportOptions &options)
    : m_connection(connection)
    , m_options(options)
{
    if (!m_options.today.isValid())
        m_options.today = QDate::currentDate();
    if (m_options.dateFormat.isEmpty())
        m_options.dateFormat = transferDateFormat();
}

HolderImport::~HolderImport()
{
    if (m_inBatch && isConnected() && !m_options.dryRun) {
        flushPending();
        m_connection->commit();
    }
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

bool HolderImport::start()
{
    // After a lost link an import connects again rather than failing for good.
    if (!m_connection || !m_connection->ensureOpen())
        return false;
    auto sql = std::make_unique<Statements>(m_connection->database());
    sql->scratch.setConnection(m_connection);
    // Only the numbers: the photos of the whole table are no business of an import.
    QSqlQuery numbers(m_connection->database());
    numbers.setForwardOnly(true);
    if (!numbers.exec(QStringLiteral(" SELECT HolderNo FROM HolderData  "))) {
        m_connection->setErrorsFrom(numbers.lastError());
        return false;
    }
    m_snapshot.clear();
    while (numbers.next())
        m_snapshot.insert(numbers.value(0).toString());
    numbers.finish();
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
    Recordset &q = m_sql->scratch;
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

QString HolderImport::numberOf(int table, const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("");
    const auto known = m_numbers[table].constFind(name);
    if (known != m_numbers[table].constEnd())
        return *known;
    const NameTable &t = kNameTables[table];
    const QString tableName = QLatin1String(t.table);
    QString number = name;
    Recordset &q = m_sql->scratch;
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

bool HolderImport::storeHolder(const QString &number, const QVariantList &values, bool exists)
{
    if (m_options.dryRun)
        return true;
    if (!m_inBatch || !m_savepoints) {
        // SQLite, or no transaction to undo a batch in: each line on its own.
        return writeHolder(Pending{m_line, number, values, exists, m_snapshot.size() + 1});
    }
    // The batch before is written first: a line is counted only after this returns, so
    // its own batch must not be written (and perhaps refused) within its judging.
    if (!m_pending.empty()
        && (m_pending.front().exists != exists || qsizetype(m_pending.size()) >= kBatchRows))
        flushPending();
    m_pending.push_back(Pending{m_line, number, values, exists, m_snapshot.size() + 1});
    m_pendingNumbers.insert(number);
    return true;
}

// One holder by its own statement, in its own savepoint with its audit entry.
bool HolderImport::writeHolder(const Pending &row)
{
    QSqlQuery &q = row.exists ? m_sql->update : m_sql->insert;
    int i = 0;
    if (!row.exists)
        q.bindValue(i++, row.number);
    for (const QVariant &v : row.values)
        q.bindValue(i++, v);
    q.bindValue(i, row.exists ? QVariant(row.number) : QVariant(row.sequence));
    if (!savepoint()) {
        m_lastError = m_sql->control.lastError().text();
        return false;
    }
    const bool ok = q.exec();
    if (ok)
        zq::services::AddProgramRunEdit(
            auditKey(), (row.exists ? QStringLiteral("E ") : QStringLiteral("A ")) + row.number);
    else
        m_lastError = q.lastError().text();
    return endSavepoint(ok);
}

// The pending holders by one statement, with their audit entries, in one savepoint.
bool HolderImport::writeBatch()
{
    const bool update = m_pending.front().exists;
    QSqlQuery &q = update ? m_sql->batchUpdate : m_sql->batchInsert;
    if (!m_sql->batchPrepared[update]) {
        q = QSqlQuery(m_connection->database());
        if (!q.prepare(batchStatement(update))) {
            m_lastError = q.lastError().text();
            return false;
        }
        m_sql->batchPrepared[update] = true;
    }
    QStringList columns(kWritten.size() + 2, QStringLiteral("{"));
    for (const Pending &row : m_pending) {
        appendElement(columns[0], row.number);
        for (qsizetype c = 0; c < row.values.size(); ++c)
            appendElement(columns[c + 1], row.values.at(c));
        if (!update)
            appendElement(columns.last(), row.sequence);
    }
    if (update)
        columns.removeLast();
    for (qsizetype c = 0; c < columns.size(); ++c)
        q.bindValue(int(c), columns.at(c) + QLatin1Char('}'));
    if (!savepoint()) {
        m_lastError = m_sql->control.lastError().text();
        return false;
    }
    const bool ok = q.exec();
    if (ok)
        for (const Pending &row : m_pending)
            zq::services::AddProgramRunEdit(
                auditKey(), (update ? QStringLiteral("E ") : QStringLiteral("A ")) + row.number);
    else
        m_lastError = q.lastError().text();
    return endSavepoint(ok);
}

// Writes the pending holders. When their batch is refused, each is written alone, and a
// line refused then is taken back from the stored ones into the refusals, at its place.
void HolderImport::flushPending()
{
    if (m_pending.empty())
        return;
    std::vector<Pending> rows;
    rows.swap(m_pending);
    m_pendingNumbers.clear();
    if (rows.size() > 1) {
        m_pending.swap(rows);
        const bool written = writeBatch();
        m_pending.swap(rows);
        if (written)
            return;
    }
    for (const Pending &row : rows) {
        if (writeHolder(row))
            continue;
        const Outcome was = row.exists ? Outcome::Updated : Outcome::Inserted;
        --m_counts[int(was)];
        ++m_counts[int(Outcome::Failed)];
        if (!row.exists)
            m_snapshot.remove(row.number);
        m_lineOf.remove(row.number);
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

HolderImport::Outcome HolderImport::importLine(const QString &line, qint64 lineNumber)
{
    m_line = lineNumber >= 0 ? lineNumber : m_line + 1;
    if (!m_sql || m_stopped)
        return Outcome::Failed;
    Outcome outcome = Outcome::Ignored;
    QString holderNo;
    try {
        const qsizetype codes = m_options.columnOrder.size();
        const qsizetype numberAt = m_options.columnOrder.indexOf(u'1');
        const auto blank = [](const QStringList &list) {
            return std::all_of(list.cbegin(), list.cend(), [](const QString &f) {
                return valueText(f).isEmpty();
            });
        };
        const std::optional<QStringList> fields = fieldsFor(line, m_options.separator, codes);
        if (!fields) {
            const QStringList all = splitFields(line, m_options.separator);
            if (numberAt >= 0 && numberAt < all.size())
                holderNo = valueText(all.at(numberAt));
            // A row of empty cells holds no holder, however wide its sheet.
            outcome = blank(all) ? Outcome::Ignored
                                 : refuse(holderNo,
                                          RefusalReason::TooManyFields,
                                          QString(),
                                          QString::number(codes));
        } else if (blank(*fields)) {
            outcome = Outcome::Ignored;
        } else {
            if (numberAt >= 0)
                holderNo = fields->at(numberAt);
            outcome = judgeAndStore(*fields, holderNo);
        }
    } catch (...) {
        outcome = refuse(holderNo, RefusalReason::Database, QString(), m_lastError);
    }
    ++m_counts[int(outcome)];
    commitIfDue();
    return outcome;
}

HolderImport::Outcome HolderImport::judgeAndStore(const QStringList &fields,
                                                  const QString &holderNo)
{
    enum { Name, Email, Def1, Def2, Description, Birthday, Start, Expired, Pin, Dept, Title, Type };
    if (holderNo.trimmed().isEmpty())
        return refuse(holderNo, RefusalReason::EmptyNumber, QString(), QString());
    const qsizetype codes = m_options.columnOrder.size();
    for (qsizetype k = 0; k < codes; ++k)
        if (fields.at(k).contains(QChar(0)))
            return refuse(holderNo, RefusalReason::Nul, columnName(m_columns.at(k)), QString());
    // A line end or another control character in a number or a code would break every
    // file and list that carries it.
    for (qsizetype k = 0; k < codes; ++k) {
        const TransferColumn *column = m_columns.at(k);
        if (column && (column->code == u'1' || column->kind == ColumnKind::Name)
            && hasControlCharacter(fields.at(k)))
            return refuse(holderNo, RefusalReason::Control, columnName(column), QString());
    }
    // Whether an earlier line's holder was stored is known once its batch is written.
    if (m_pendingNumbers.contains(holderNo))
        flushPending();
    const auto first = m_lineOf.constFind(holderNo);
    if (first != m_lineOf.constEnd())
        return refuse(holderNo, RefusalReason::Duplicate, QString(), QString::number(*first));

    // Empty text, not NULL: columns the file leaves empty are stored as ''.
    QVariantList values(kWritten.size(), QVariant(QStringLiteral("")));
    const QVariant today = stampOf(m_options.today);
    values[Birthday] = values[Start] = values[Expired] = today;
    QString names[3];
    const QList<int> &widths = holderWidths();
    if (!fits(widths.last(), holderNo))
        return refuse(holderNo,
                      RefusalReason::TooLong,
                      QStringLiteral("HolderNo"),
                      QString::number(widths.last()));
    for (qsizetype k = 0; k < codes; ++k) {
        const QString &field = fields.at(k);
        const TransferColumn *column = m_columns.at(k);
        if (field.isEmpty() || !column || column->code == u'1')
            continue;
        const qsizetype at = m_written.at(k);
        switch (column->kind) {
        case ColumnKind::Text:
            if (!fits(widths.at(at), field))
                return refuse(holderNo,
                              RefusalReason::TooLong,
                              column->caption,
                              QString::number(widths.at(at)));
            values[at] = field;
            break;
        case ColumnKind::Date: {
            const std::optional<QDate> day = readDate(field, m_options.dateFormat);
            if (!day)
                return refuse(holderNo, RefusalReason::BadDate, column->caption, field);
            // The zero date is what an empty date was written as.
            values[at] = *day == zeroDate() ? QVariant() : QVariant(stampOf(*day));
            break;
        }
        case ColumnKind::Name:
            names[column->code.unicode() - 'A'] = field;
            break;
        }
    }
    for (int n = 0; n < 3; ++n) {
        const QString number = numberOf(n, names[n]);
        if (!fits(widths.at(Dept + n), number))
            return refuse(holderNo,
                          RefusalReason::TooLong,
                          QLatin1String(kNameTables[n].number),
                          QString::number(widths.at(Dept + n)));
        values[Dept + n] = number;
    }

    const bool exists = m_snapshot.contains(holderNo);
    Outcome outcome = Outcome::Kept;
    if (!exists || m_options.cover) {
        if (!storeHolder(holderNo, values, exists))
            return refuse(holderNo, RefusalReason::Database, QString(), m_lastError);
        outcome = exists ? Outcome::Updated : Outcome::Inserted;
        if (!exists)
            m_snapshot.insert(holderNo);
    }
    m_lineOf.insert(holderNo, m_line);
    return outcome;
}

bool HolderImport::finish()
{
    if (!m_inBatch && m_options.dryRun)
        return true;
    return commitBatch();
}

} // namespace zq::transfer
