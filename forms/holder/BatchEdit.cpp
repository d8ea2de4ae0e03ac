#include "BatchEdit.h"

#include "Connection.h"
#include "Helpers.h"
#include "HolderStatements.h"
#include "Recordset.h"
#include "Services.h"

#include <QDateTime>
#include <QLoggingCategory>
#include <QSqlError>
#include <QSqlQuery>

#include <map>

Q_LOGGING_CATEGORY(lcBatch, "zq.forms.holder.batch")

namespace zq::forms::holder {

using zq::data::Connection;
using zq::data::DbError;
using zq::data::Engine;
using zq::data::Recordset;

namespace {

struct FieldInfo
{
    const char *column;
    enum Kind { Code, Date, Flag } kind;
    bool clears;
};

// Declarative: the column, kind and whether a field may be cleared, in BatchField order.
constexpr FieldInfo kFields[kBatchFields] = {
    {"DepartmentNo", FieldInfo::Code, false},
    {"TitleNo", FieldInfo::Code, false},
    {"TypeNo", FieldInfo::Code, false},
    {"StartDate", FieldInfo::Date, false},
    {"ExpiredDate", FieldInfo::Date, true},
    {"PunchCard", FieldInfo::Flag, false},
    {"Deposit01", FieldInfo::Date, false},
    {"Deposit02", FieldInfo::Date, true},
    {"Deposit03", FieldInfo::Date, true},
};

const FieldInfo &info(int field)
{
    return kFields[field];
}

bool isDateTime(const QVariant &v)
{
    return v.isValid() && !v.isNull() && v.metaType().id() == QMetaType::QDateTime;
}

// The day a shown date value stands for; a null date for NULL or a value that is no date.
QDate shownDay(const QVariant &shown)
{
    if (!shown.isValid() || shown.isNull())
        return QDate();
    if (isDateTime(shown))
        return shown.toDateTime().date();
    return QDateTime::fromString(shown.toString().left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"))
        .date();
}

bool isNullValue(const QVariant &v)
{
    return !v.isValid() || v.isNull();
}

// The value a shown flag stands for: 1 is yes, anything else (NULL too) no.
int shownFlag(const QVariant &shown)
{
    bool ok = false;
    const double d = shown.toDouble(&ok);
    return ok && d == 1.0 ? 1 : 0;
}

// The form in which a value read is bound again to match the stored one.
QVariant guardValue(const FieldInfo &f, const QVariant &shown)
{
    if (isNullValue(shown))
        return QVariant(QMetaType(QMetaType::QString));
    if (isDateTime(shown))
        return Connection::dateTimeText(shown.toDateTime());
    if (f.kind == FieldInfo::Flag) {
        bool ok = false;
        const double d = shown.toDouble(&ok);
        if (ok && d == double(qint64(d)))
            return qint64(d);
    }
    return shown.toString();
}

// "column equals the bound value", NULL equal to NULL; a date to the second.
QString nullSafeEquals(bool sqlite, const QString &column, bool date)
{
    if (sqlite)
        return (date ? QStringLiteral("datetime(%1) IS ?") : QStringLiteral("%1 IS ?")).arg(column);
    return (date ? QStringLiteral(
                "date_trunc('second', %1) IS NOT DISTINCT FROM CAST(? AS timestamp)")
                 : QStringLiteral("%1 IS NOT DISTINCT FROM ?"))
        .arg(column);
}

} // namespace

QString batchColumn(BatchField field)
{
    return QLatin1String(info(int(field)).column);
}

bool batchFieldClears(BatchField field)
{
    return info(int(field)).clears;
}

void BatchChange::set(BatchField field, const QVariant &value)
{
    m_values[size_t(field)] = value;
}

void BatchChange::untick(BatchField field)
{
    m_values[size_t(field)].reset();
}

bool BatchChange::isTicked(BatchField field) const
{
    return m_values[size_t(field)].has_value();
}

QVariant BatchChange::value(BatchField field) const
{
    return m_values[size_t(field)].value_or(QVariant());
}

bool BatchChange::isEmpty() const
{
    for (const auto &v : m_values)
        if (v)
            return false;
    return true;
}

std::optional<BatchField> BatchChange::invalidField() const
{
    for (int i = 0; i < kBatchFields; ++i) {
        if (!m_values[size_t(i)])
            continue;
        const QVariant &v = *m_values[size_t(i)];
        const FieldInfo &f = info(i);
        bool bad = false;
        if (f.kind == FieldInfo::Code) {
            bad = v.toString().trimmed().isEmpty() || v.toString().contains(QChar(0));
        } else if (f.kind == FieldInfo::Flag) {
            bad = !v.canConvert<int>() || (v.toInt() != 0 && v.toInt() != 1);
        } else {
            const QDate d = v.toDate();
            bad = isNullValue(v) || !d.isValid() ? !f.clears
                                                 : d < firstBatchDate() || d > lastBatchDate();
        }
        if (bad)
            return BatchField(i);
    }
    return std::nullopt;
}

std::vector<BatchHolder> batchHolders(const Recordset &listing, const QList<int> &rows)
{
    const int keyColumn = listing.fieldIndex(QStringLiteral("HolderNo"));
    const int nameColumn = listing.fieldIndex(QStringLiteral("HolderName"));
    std::array<int, kBatchFields> columns{};
    for (int i = 0; i < kBatchFields; ++i)
        columns[size_t(i)] = listing.fieldIndex(QLatin1String(info(i).column));
    std::vector<BatchHolder> holders;
    holders.reserve(size_t(rows.size()));
    for (const int row : rows) {
        if (row < 0 || row >= listing.recordCount())
            continue;
        BatchHolder h;
        h.key = Recordset::textOf(listing.valueAt(row, keyColumn));
        h.name = Recordset::textOf(listing.valueAt(row, nameColumn)).trimmed();
        for (int i = 0; i < kBatchFields; ++i)
            if (columns[size_t(i)] >= 0)
                h.shown[size_t(i)] = listing.valueAt(row, columns[size_t(i)]);
        holders.push_back(std::move(h));
    }
    return holders;
}

bool wouldChange(const BatchHolder &holder, const BatchChange &change, BatchField field)
{
    if (!change.isTicked(field))
        return false;
    const QVariant &shown = holder.shown[size_t(field)];
    const QVariant wanted = change.value(field);
    switch (info(int(field)).kind) {
    case FieldInfo::Code:
        return shown.toString().trimmed() != wanted.toString().trimmed();
    case FieldInfo::Flag:
        return shownFlag(shown) != wanted.toInt();
    case FieldInfo::Date:
        break;
    }
    const QDate day = wanted.toDate();
    if (isNullValue(shown) || isNullValue(wanted) || !day.isValid())
        return isNullValue(shown) != (isNullValue(wanted) || !day.isValid());
    return shownDay(shown) != day;
}

BatchPreview previewBatch(const std::vector<BatchHolder> &holders, const BatchChange &change)
{
    BatchPreview p;
    p.holders = int(holders.size());
    std::array<bool, kBatchFields> ticked{};
    for (int i = 0; i < kBatchFields; ++i)
        ticked[size_t(i)] = change.isTicked(BatchField(i));
    for (const BatchHolder &h : holders) {
        bool any = false;
        for (int i = 0; i < kBatchFields; ++i) {
            if (ticked[size_t(i)] && wouldChange(h, change, BatchField(i))) {
                ++p.changing[size_t(i)];
                any = true;
            }
        }
        p.holdersChanging += any ? 1 : 0;
    }
    return p;
}

// The prepared updates of one run, one per set of columns written and form of their guard.
struct BatchWriter::Statements
{
    std::map<unsigned, std::unique_ptr<QSqlQuery>> updates;
    // The value each code field is written as: the number as its code table stores it.
    std::array<QVariant, kBatchFields> written;
};

BatchWriter::BatchWriter(Connection *connection)
    : m_connection(connection)
{}

BatchWriter::~BatchWriter() = default;

BatchOutcome BatchWriter::apply(const std::vector<BatchHolder> &holders,
                                const BatchChange &change,
                                const std::function<bool(int)> &progress)
{
    BatchOutcome outcome;
    if (const auto bad = change.invalidField()) {
        outcome.end = BatchOutcome::End::Invalid;
        outcome.goneField = bad;
        outcome.notReached = int(holders.size());
        return outcome;
    }
    m_statements = std::make_unique<Statements>();
    for (int i = 0; i < kBatchFields; ++i) {
        const QVariant v = change.value(BatchField(i));
        if (info(i).kind == FieldInfo::Date)
            m_statements->written[size_t(i)] = isNullValue(v) || !v.toDate().isValid()
                                                   ? QVariant(QMetaType(QMetaType::QString))
                                                   : QVariant(Connection::dateTimeText(
                                                       v.toDate().startOfDay()));
        else if (info(i).kind == FieldInfo::Flag)
            m_statements->written[size_t(i)] = v.toInt();
        else
            m_statements->written[size_t(i)] = v.toString().trimmed();
    }
    size_t from = 0;
    while (from < holders.size()) {
        size_t next = from;
        const Chunk result = writeChunk(holders, from, next, change, progress, outcome);
        if (result == Chunk::Committed) {
            from = next;
            continue;
        }
        if (result == Chunk::Cancelled)
            from = next;
        outcome.end = result == Chunk::Cancelled  ? BatchOutcome::End::Cancelled
                      : result == Chunk::CodeGone ? BatchOutcome::End::CodeGone
                                                  : BatchOutcome::End::Failed;
        break;
    }
    outcome.notReached = int(holders.size() - from);
    m_statements.reset();
    return outcome;
}

BatchWriter::Chunk BatchWriter::writeChunk(const std::vector<BatchHolder> &holders,
                                           size_t from,
                                           size_t &next,
                                           const BatchChange &change,
                                           const std::function<bool(int)> &progress,
                                           BatchOutcome &outcome)
{
    const size_t end = qMin(holders.size(), from + size_t(m_chunk));
    QStringList written, elsewhere;
    int unchanged = 0;
    bool cancelled = false;
    std::optional<BatchField> gone;
    if (!m_connection || !m_connection->ensureOpen()) {
        outcome.linkLost = true;
        return Chunk::Failed;
    }
    const bool committed = zq::data::WriteInTransaction(m_connection, [&] {
        // Checked in every transaction: a code deleted on another workstation since the last
        // one is not written into the holders that follow.
        gone = goneCode(change);
        if (gone)
            throw DbError(QStringLiteral("code gone"));
        size_t i = from;
        for (; i < end && !cancelled; ++i) {
            const BatchHolder &h = holders[i];
            unsigned mask = 0;
            for (int f = 0; f < kBatchFields; ++f)
                if (wouldChange(h, change, BatchField(f)))
                    mask |= 1u << f;
            if (mask == 0)
                ++unchanged;
            else if (writeHolder(h, mask) == 0)
                elsewhere << h.number() + QStringLiteral(" : ") + h.name;
            else
                written << h.key;
            if (progress && !progress(int(i + 1)))
                cancelled = true;
        }
        next = i;
        // Again at the end: a code deleted on another workstation while this transaction
        // wrote is not left in its holders.
        gone = goneCode(change);
        if (gone)
            throw DbError(QStringLiteral("code gone"));
        // The audit trail holds exactly the holders this transaction commits.
        for (const QString &key : std::as_const(written))
            zq::services::AddProgramRunEdit(m_rightKey, QStringLiteral("E ") + key.trimmed());
    });
    if (!committed) {
        m_statements->updates.clear();
        if (gone) {
            outcome.goneField = gone;
            return Chunk::CodeGone;
        }
        // The probe after the rollback may have connected again; the failure's own errors
        // tell a broken link.
        for (const zq::data::DbErrorItem &e : m_connection->errors())
            outcome.linkLost = outcome.linkLost || e.nativeCode == 0;
        outcome.linkLost = outcome.linkLost || m_connection->isLinkLost();
        return Chunk::Failed;
    }
    outcome.written += int(written.size());
    outcome.writtenKeys += written;
    outcome.unchanged += unchanged;
    outcome.changedElsewhere += elsewhere;
    return cancelled ? Chunk::Cancelled : Chunk::Committed;
}

// The first code to set that no longer stands in its table (or, for a user with department
// rights, a department that is not his); each found code is noted in the form it is stored.
std::optional<BatchField> BatchWriter::goneCode(const BatchChange &change)
{
    static const char *const tables[3][2] = {{"DepartmentData", "DepartmentNo"},
                                             {"OccupationTitle", "TitleNo"},
                                             {"OccupationType", "TypeNo"}};
    for (int f = 0; f < 3; ++f) {
        if (!change.isTicked(BatchField(f)))
            continue;
        const QString column = QLatin1String(tables[f][1]);
        QString sql = QStringLiteral(" SELECT %1 FROM %2 WHERE ").arg(column, tables[f][0])
                      + sameNumber(column, change.value(BatchField(f)).toString());
        if (f == 0 && m_rightsUser)
            sql += QStringLiteral(" AND DepartmentNo IN (SELECT DepartmentNo FROM UserRightDept "
                                  "WHERE UserID = ")
                   + Connection::quoted(*m_rightsUser) + QStringLiteral(")");
        Recordset rs;
        rs.setConnection(m_connection);
        rs.setStatement(sql + QStringLiteral(" ORDER BY ") + column);
        rs.open(); // a failure throws and ends the transaction as any other
        if (rs.isEmpty())
            return BatchField(f);
        m_statements->written[size_t(f)] = rs.text(column);
    }
    return std::nullopt;
}

// One guarded update; the rows it changed (0: changed or deleted elsewhere). Throws
// `DbError` when the statement fails.
int BatchWriter::writeHolder(const BatchHolder &holder, unsigned mask)
{
    unsigned dates = 0;
    for (int f = 0; f < kBatchFields; ++f)
        if ((mask >> f) & 1u && isDateTime(holder.shown[size_t(f)]))
            dates |= 1u << f;
    const unsigned key = mask | dates << kBatchFields;
    auto &slot = m_statements->updates[key];
    const bool sqlite = m_connection->engine() == Engine::SQLite;
    if (!slot) {
        QStringList sets, guards;
        for (int f = 0; f < kBatchFields; ++f) {
            if (!((mask >> f) & 1u))
                continue;
            const QString column = QLatin1String(info(f).column);
            sets << column + QStringLiteral(" = ?");
            // A date read as a date is matched to the second, whatever form another program
            // stored it in; anything else exactly. The value shown, or already the value
            // written: another workstation that set the same value lost nothing.
            const bool date = (dates >> f) & 1u;
            const QString shown = nullSafeEquals(sqlite, column, date);
            const QString written = nullSafeEquals(sqlite, column, info(f).kind == FieldInfo::Date);
            guards << QStringLiteral("(%1 OR %2)").arg(shown, written);
        }
        QString sql = QStringLiteral("UPDATE HolderData SET ") + sets.join(QStringLiteral(", "))
                      + QStringLiteral(" WHERE HolderNo = ? AND ")
                      + guards.join(QStringLiteral(" AND "));
        if (m_rightsUser)
            sql += QStringLiteral(" AND DepartmentNo IN (SELECT DepartmentNo FROM UserRightDept "
                                  "WHERE UserID = ?)");
        slot = std::make_unique<QSqlQuery>(m_connection->database());
        if (!slot->prepare(sql)) {
            m_connection->setErrorsFrom(slot->lastError());
            const QString text = slot->lastError().text();
            slot.reset();
            throw DbError(text);
        }
    }
    QSqlQuery &q = *slot;
    int at = 0;
    for (int f = 0; f < kBatchFields; ++f)
        if ((mask >> f) & 1u)
            q.bindValue(at++, m_statements->written[size_t(f)]);
    q.bindValue(at++, holder.key);
    for (int f = 0; f < kBatchFields; ++f) {
        if (!((mask >> f) & 1u))
            continue;
        q.bindValue(at++, guardValue(info(f), holder.shown[size_t(f)]));
        q.bindValue(at++, m_statements->written[size_t(f)]);
    }
    if (m_rightsUser)
        q.bindValue(at++, *m_rightsUser);
    if (!q.exec()) {
        m_connection->setErrorsFrom(q.lastError());
        qCWarning(lcBatch) << "batch update of" << holder.number()
                           << "failed:" << q.lastError().text();
        throw DbError(m_connection->errors());
    }
    return q.numRowsAffected();
}

} // namespace zq::forms::holder
