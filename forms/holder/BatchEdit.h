#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace zq::data {
class Connection;
class Recordset;
} // namespace zq::data

namespace zq::forms::holder {

/// The holder fields that one change can set for many holders at once.
enum class BatchField {
    Department,
    Title,
    Type,
    StartDate,
    ExpiredDate,
    PunchCard,
    Deposit01,
    Deposit02,
    Deposit03,
};
inline constexpr int kBatchFields = 9;

/// The `HolderData` column behind `field`.
QString batchColumn(BatchField field);
/// Whether `field` may be cleared (stored as NULL) rather than set.
bool batchFieldClears(BatchField field);
/// The dates a batch stores: the same range the date pickers offer.
inline QDate firstBatchDate()
{
    return QDate(1900, 1, 1);
}
inline QDate lastBatchDate()
{
    return QDate(2100, 12, 31);
}

/// What one batch sets: each ticked field with its new value. Codes are numbers as picked
/// (trimmed); dates are a `QDate`, a null `QDate` clearing a field that may be empty;
/// the punch card is 0 or 1. Unticked fields stay as each holder has them.
class BatchChange
{
public:
    void set(BatchField field, const QVariant &value);
    void untick(BatchField field);
    bool isTicked(BatchField field) const;
    QVariant value(BatchField field) const;
    bool isEmpty() const;
    /// The first ticked field whose value cannot be stored (an empty code, a date outside
    /// 1900-2100, a clear of a field that must hold a date); none when all can.
    std::optional<BatchField> invalidField() const;

private:
    std::array<std::optional<QVariant>, kBatchFields> m_values;
};

/// One selected holder as the listing showed him: the values read guard his write.
struct BatchHolder
{
    QString key; ///< HolderNo as stored, blanks after it and all
    QString name;
    std::array<QVariant, kBatchFields> shown;
    QString number() const { return key.trimmed(); }
};

/// The holders on `rows` of `listing`, which must carry HolderNo, HolderName and every
/// field's column.
std::vector<BatchHolder> batchHolders(const zq::data::Recordset &listing, const QList<int> &rows);

/// Whether storing `change`'s value of `field` changes what `holder` holds as a user sees
/// it: codes without the blanks around them, dates by their day, NULL punch card as 0.
bool wouldChange(const BatchHolder &holder, const BatchChange &change, BatchField field);

/// What a batch would do, for the dialog to show before anything is written.
struct BatchPreview
{
    int holders = 0;
    int holdersChanging = 0; ///< holders with at least one field that would change
    std::array<int, kBatchFields> changing{};
};
BatchPreview previewBatch(const std::vector<BatchHolder> &holders, const BatchChange &change);

/// What a batch wrote. Every count is of committed rows.
struct BatchOutcome
{
    enum class End {
        Done,      ///< every holder was reached
        Cancelled, ///< the user stopped it: the holders before the stop are committed
        CodeGone,  ///< a department, title or type to set was deleted (or may not be used)
        Invalid,   ///< the change holds a value that cannot be stored: nothing written
        Failed,    ///< the database refused or the link was lost: see the connection's errors
    };
    End end = End::Done;
    int written = 0;    ///< holders changed, each with its audit entry
    int unchanged = 0;  ///< already held what was asked: not written
    int notReached = 0; ///< left as stored because the batch ended before them
    /// Holders changed or deleted on another workstation since they were listed (or moved
    /// out of the user's departments): "number : name", not written.
    QStringList changedElsewhere;
    QStringList writtenKeys;             ///< HolderNo as stored of the holders written
    std::optional<BatchField> goneField; ///< with CodeGone (or Invalid): the field
    bool linkLost = false;               ///< with Failed: the link to the database broke
};

/// Writes one change to many holders. Each holder is written with one statement that
/// changes only the fields whose value really changes and only while they still hold what
/// the listing showed (or already the new value); a holder another workstation changed
/// meanwhile is skipped and named. Holders go in transactions of `chunkSize`, each with
/// the audit entries of its holders, so that a failure or a lost link loses at most the
/// transaction in flight and a cancel keeps a whole prefix.
class BatchWriter
{
public:
    explicit BatchWriter(zq::data::Connection *connection);
    ~BatchWriter();
    BatchWriter(const BatchWriter &) = delete;
    BatchWriter &operator=(const BatchWriter &) = delete;

    /// A user with department rights: holders outside his departments are never written
    /// (they count as changed elsewhere), and only his departments can be set.
    void setRightsUser(const std::optional<QString> &user) { m_rightsUser = user; }
    void setChunkSize(int holders) { m_chunk = qMax(1, holders); }
    /// The right key under which the audit entries are written.
    void setRightKey(const QString &key) { m_rightKey = key; }

    /// `progress(done)` runs after each holder; false stops after that holder, whose
    /// transaction is committed with it.
    BatchOutcome apply(const std::vector<BatchHolder> &holders,
                       const BatchChange &change,
                       const std::function<bool(int)> &progress = {});

private:
    struct Statements;
    enum class Chunk { Committed, Cancelled, CodeGone, Failed };
    Chunk writeChunk(const std::vector<BatchHolder> &holders,
                     size_t from,
                     size_t &next,
                     const BatchChange &change,
                     const std::function<bool(int)> &progress,
                     BatchOutcome &outcome);
    std::optional<BatchField> goneCode(const BatchChange &change);
    int writeHolder(const BatchHolder &holder, unsigned mask);

    zq::data::Connection *m_connection;
    std::optional<QString> m_rightsUser;
    int m_chunk = 250;
    QString m_rightKey = QStringLiteral("BasicDataHolderI");
    std::unique_ptr<Statements> m_statements;
};

} // namespace zq::forms::holder
