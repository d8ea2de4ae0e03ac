#pragma once

#include "HolderNumbers.h"

#include <QChar>
#include <QDate>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QVariantList>

#include <memory>
#include <optional>
#include <vector>

class QSqlError;

namespace zq::data {
class Connection;
}

namespace zq::transfer {

struct ImportOptions
{
    QString columnOrder;
    QChar separator = u',';
    bool cover = false; ///< overwrite holders that exist already
    QDate today;        ///< the default of date columns
    QString dateFormat;
    /// Reads and judges every line as the import would, and writes nothing: no holder, no
    /// code, no audit entry, and no transaction is opened.
    bool dryRun = false;
    /// The importing user: a department the import creates is granted to him and to every
    /// supervisor, as the department window grants a new department.
    QString userId;
    /// How long a batch of lines may grow before it is committed (0: after every line).
    qint64 commitEveryMs = 1000;
};

/// Why a line of an import file was not stored.
enum class RefusalReason {
    TooLong,       ///< a value longer than its column (`column`; `detail`: the width)
    EmptyNumber,   ///< a line with values but no holder number
    Duplicate,     ///< the number stood on an earlier stored line (`detail`: that line)
    Nul,           ///< a NUL character in a value (`column`)
    Control,       ///< a line end or other control character in a number or code (`column`)
    BadDate,       ///< a date that does not read in the file's format (`column`, `detail`)
    TooManyFields, ///< more fields than the column order has codes (`detail`: the count)
    Unreadable,    ///< a line too long for any holder, or not valid text (from the reader)
    Database,      ///< the database refused the row (`detail`: the engine's message)
    Undecodable,   ///< a value holding characters that did not decode (`column`)
    /// Not refused: judged and written, but the link to the database broke before its batch
    /// was committed (`detail`: the engine's message).
    LinkLost,
    /// Not refused: judged and written, but its batch's commit failed (`detail`: why).
    NotCommitted,
};

/// One refused line: where it stood, the holder number as read, and why.
struct Refusal
{
    qint64 line = 0; ///< 1-based line of a text file, row of a workbook
    QString holderNo;
    RefusalReason reason = RefusalReason::Database;
    QString column; ///< the column concerned, when one is
    QString detail;
};

/// The reason of `refusal` in words, in the user's language (through the language
/// service's function texts "Refused...").
QString refusalText(const Refusal &refusal);
/// A short fixed name of the reason for scripts ("too_long", "duplicate", ...).
QString refusalCode(RefusalReason reason);
/// Whether the line was refused for what it holds (false: it was judged storable, but its
/// batch never committed).
inline bool isRefused(RefusalReason reason)
{
    return reason != RefusalReason::LinkLost && reason != RefusalReason::NotCommitted;
}
/// An engine's message on one line: its lines joined, blanks between them collapsed (a
/// server's text comes in several lines with a detail and a hint).
QString oneLine(const QString &text);

/// A department, title or type code that an import created (or, dry, would create).
struct CreatedCode
{
    int table = 0; ///< 0 department, 1 occupation title, 2 occupation type
    QString name;  ///< also its number
};

/// Writes imported lines into HolderData.
///
/// The holder numbers are taken once at the start (the snapshot); a number is looked up
/// there, and a new holder joins it, so a number repeated in a file is found by its second
/// occurrence. A number stored with blanks after it is found by its bare form, as the holder
/// window finds it, and its row is written by the number as stored. Department, title and type
/// names are looked up by name and created when missing; a created row stays even when its line's
/// holder is not stored. The work goes in batches committed about once a second; a line whose
/// writes fail is undone alone, and the lines before it stay stored. Every stored holder and
/// created code gets its audit entry under the import/export window's right key.
///
/// A line is judged before anything of it is written: a refused line (see RefusalReason)
/// writes nothing, and each refusal is kept with its line number for the report.
///
/// A new holder gets the values the file gives; a column the column order does not carry is
/// empty, except StartDate (the day of the import) and Birthday and ExpiredDate (none). An
/// overwrite writes the columns the column order carries, and nothing else: the others keep
/// their stored values. A number another writer stored after the snapshot is judged again
/// when its insert meets the key: overwritten with `cover`, kept without.
///
/// A batch whose commit fails, or whose link breaks, is rolled back and stops the import:
/// its lines then count as Lost (each with a reason of its own in `refusals()`), so that
/// `stored()` is exactly what the committed batches hold. A transaction that cannot begin
/// (another writer holds the database past the busy timeout) stops it too. Holder numbers
/// and the names that become codes may hold no control character.
///
/// Judged holders are written a batch of lines at a time, in one statement. A batch that
/// the database refuses is undone and written again line by line, so that exactly its
/// refused lines are refused. Until its batch is written (at the latest by the next commit
/// or by `finish()`), a line counts as stored; the counts and refusals are final after
/// `finish()`.
class HolderImport
{
public:
    /// Failed is a refused line (one entry in `refusals()`); Lost a line that was not stored
    /// because its batch never committed (an entry too, with its own reason).
    enum class Outcome { Ignored, Inserted, Updated, Kept, Failed, Lost };

    /// The right key the audit entries of an import are written under.
    static QString auditKey();

    HolderImport(zq::data::Connection *connection, const ImportOptions &options);
    ~HolderImport();

    /// Takes the snapshot and opens the first batch; false when the database cannot be read.
    bool start();
    /// Imports one line of the file (a workbook row joined with commas), found at
    /// `lineNumber` of the file (-1: the line after the one before). Never throws.
    Outcome importLine(const QString &line, qint64 lineNumber = -1);
    /// Imports one workbook row given as its cells (at most one past the column order), as
    /// importLine() imports them joined with commas, each quoted where it must be: the same
    /// fields, verdicts and refusals, without the joining and splitting.
    Outcome importCells(const QStringList &cells, qint64 lineNumber = -1);
    /// Counts a line that the file reader could not hand over as refused.
    void refuseLine(qint64 lineNumber,
                    RefusalReason reason,
                    const QString &detail = {},
                    const QString &column = {});
    /// Commits the last batch; false when that failed (the lines of that batch are lost).
    bool finish();
    /// Takes the answer to the holders still being written, so that the connection is free
    /// for other statements. Updates of holders are written while the next lines are
    /// judged: until then nothing else may use the connection (the import itself waits
    /// before any statement of its own).
    void settle();
    /// Writes the judged holders still held back for a batch and takes the answers: the
    /// refusals of every line imported so far are then final, and the rows of the stored ones
    /// stand in the table (uncommitted), so that a caller may write more of them.
    void writePending();

    /// False once the link to the database is gone; the remaining lines cannot be stored.
    bool isConnected() const;
    /// The database's last message: of the connection, else of the last refused statement.
    QString databaseError() const;
    int count(Outcome outcome) const { return m_counts[int(outcome)]; }
    /// New and overwritten holders. Once the run has stopped or finished, exactly those that
    /// committed batches hold: the lines of a batch that never committed count as Lost.
    int stored() const { return count(Outcome::Inserted) + count(Outcome::Updated); }
    const QList<Refusal> &refusals() const { return m_refusals; }
    /// The codes created (dry: that would be created), in the order of their first line.
    const QList<CreatedCode> &createdCodes() const { return m_created; }
    const ImportOptions &options() const { return m_options; }
    /// False once a commit failed or the link is gone: no further line can be stored.
    bool canContinue() const { return !m_stopped && isConnected(); }
    /// The inserted and updated lines that committed batches hold.
    int storedLines() const { return m_stored; }
    /// Why the import stopped ("" while it can go on).
    QString errorText() const { return m_error; }
    /// True when it stopped because another writer held the database longer than the busy
    /// timeout allows (at the start, or between two batches).
    bool isBusy() const { return m_busy; }

private:
    struct Statements;
    struct Pending;
    struct Fields;
    struct Values;
    // A line counted as stored whose batch has not committed yet.
    struct Uncommitted
    {
        qint64 line;
        QString number;
        Outcome outcome;
    };
    bool readSnapshot();
    void mapColumns();
    bool prepare(Statements &sql);
    void readGrantees();
    void widenCache();
    std::optional<Refusal> fieldRefusal(const Fields &fields, QStringView holderNo) const;
    std::optional<Refusal> readValues(const Fields &fields, Values &values);
    Pending rowOf(const Values &values, const QString &number, bool exists) const;
    Outcome storeHolder(Pending &&row);
    Outcome writeHolder(const Pending &row);
    Outcome writeStatement(const Pending &row);
    Outcome writeDirect(const Pending &row);
    void recount(const Pending &row, Outcome now);
    void loseUncommitted(RefusalReason reason, const QString &detail);
    Outcome notStored(const QString &holderNo);
    void stopOnFailure();
    void noteFailure(const QSqlError &error);
    void keepSorted(const Refusal &refusal);
    void addRow(const Pending &row);
    enum class Batch { Written, Sent, Refused };
    Batch writeBatch(const std::vector<Pending> &rows);
    void flushPending();
    void writeAlone(const std::vector<Pending> &rows);
    qint64 firstUnwritten() const;
    QString numberOf(int table, QStringView name);
    void takeStored(const QString &number);
    Outcome refuse(const QString &holderNo,
                   RefusalReason reason,
                   const QString &column,
                   const QString &detail);
    Outcome judgeAndStore(const Fields &fields, QStringView holderNo);
    // A line's verdict once `split` has made its fields (false: more than the order has,
    // then `all` gives every field).
    template<typename Split, typename All>
    Outcome importFields(qint64 lineNumber, Split split, All all);
    void audit(bool update, const QString &number);
    bool savepoint();
    bool endSavepoint(bool keep);
    void commitIfDue();
    bool commitBatch();
    void grantDepartment(const QString &number);

    zq::data::Connection *m_connection;
    ImportOptions m_options;
    std::unique_ptr<Statements> m_sql;
    // Every holder number of the table, the snapshot's and the stored ones, with the line
    // of the file it was first taken on (-1: none yet).
    HolderNumbers m_holders;
    // The numbers whose row stores them with blanks after them, by their bare form.
    QHash<QString, QString> m_storedAs;
    qsizetype m_tableSize = 0;
    QList<const struct TransferColumn *> m_columns; // per position of the column order
    QList<qsizetype> m_written;                     // its place among the written columns
    QList<int> m_updated; // the written columns an overwrite sets: those the order carries
    QHash<QString, QString> m_numbers[3];
    QList<Refusal> m_refusals;
    QList<CreatedCode> m_created;
    QString m_lastError;
    qint64 m_line = 0;
    QStringList m_grantees; // who is granted a department the import creates
    QElapsedTimer m_sinceCommit;
    bool m_inBatch = false;
    bool m_savepoints = true;
    bool m_stopped = false;
    int m_stored = 0;
    QString m_error;
    int m_counts[6] = {};
    std::vector<Uncommitted> m_uncommitted; // in line order
    qsizetype m_createdCommitted = 0;       // the created codes that committed batches hold
    bool m_busy = false;
    int m_commits = 0;
    RefusalReason m_lostReason = RefusalReason::LinkLost;
    bool m_duplicateKey = false;    // the last write failed on a key another writer stored
    std::vector<Pending> m_pending; // judged holders not yet written, in line order
    std::vector<Pending> m_sent;    // the updates sent and not yet answered, in line order
    QByteArray m_todayStamp;
    int m_cacheSize = 0; // SQLite's page cache before the import, when it was widened
};

} // namespace zq::transfer
