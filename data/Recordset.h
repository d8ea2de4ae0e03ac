#pragma once

#include "zqdata_export.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QVariant>
#include <QVector>

#include <memory>

namespace zq::data {

class Connection;
class DbError;
class RecordsetStore;
struct WriteTarget;

/// A query object of a window (`adoDB`, `adoChk`, `adqTmp`, ...): a static cursor.
///
/// `open()` runs the statement and fetches every row into memory; the cursor then moves
/// over that copy. For a one-table statement ("SELECT ... FROM Table ..."), the current row
/// can be appended, edited and deleted: `post()` and `deleteCurrent()` write to that base
/// table, finding the row by the table's primary key, or, without one, by the original
/// values of its non-blob columns. An update writes only the columns whose value changed
/// and only while they still hold the values read (or already the new ones); a delete only
/// while the row's non-blob
/// columns do. Otherwise nothing is written and a `DbError` whose `isConflict()` is true
/// reports the row changed or deleted on another connection. Field names are matched
/// case-insensitively. Blob columns read as `QByteArray`; date-time columns read as local
/// `QDateTime` on both engines. Failures throw `DbError` and leave the recordset as it was before
/// the call (a failed `open()` leaves it closed).
class ZQDATA_EXPORT Recordset : public QObject
{
    Q_OBJECT
public:
    enum class State { Closed, Browse, Insert, Edit };

    explicit Recordset(QObject *parent = nullptr);
    explicit Recordset(const QString &objectName, QObject *parent = nullptr);
    ~Recordset() override;

    void setConnection(Connection *connection);
    Connection *connection() const;

    void setStatement(const QString &sql);
    QString statement() const { return m_statement; }
    void setPrepared(bool prepared) { m_prepared = prepared; }
    bool isPrepared() const { return m_prepared; }

    /// Binds a named parameter of the statement (":date1"); a `QDateTime`/`QDate` value is
    /// sent as zone-free text.
    void setParameter(const QString &name, const QVariant &value);
    void clearParameters();

    /// Runs the statement and fetches its rows; the cursor goes to the first row.
    void open();
    /// Runs the statement as one without rows (no cursor is opened).
    void execute();
    /// The rows the last `execute()` changed (-1 when the engine does not tell).
    int rowsAffected() const { return m_rowsAffected; }
    void close();
    bool isOpen() const { return m_state != State::Closed; }
    State state() const { return m_state; }

    int recordCount() const;
    bool isEmpty() const { return recordCount() == 0; }
    /// -1 when closed or empty.
    int currentRow() const { return m_row; }
    bool bof() const { return m_bof; }
    bool eof() const { return m_eof; }
    void first();
    void prior();
    void next();
    void last();
    /// Moves to `row` (0-based); false and no move when out of range.
    bool moveTo(int row);

    int fieldCount() const;
    QString fieldName(int column) const;
    /// Case-insensitive; -1 when the recordset has no such column.
    int fieldIndex(const QString &name) const;
    bool hasField(const QString &name) const { return fieldIndex(name) >= 0; }
    bool isBlobField(int column) const;

    /// The current row's value (in Insert/Edit state: the edit buffer). Throws `DbError`
    /// for an unknown field or when there is no current row.
    QVariant value(const QString &field) const;
    /// Any fetched row's value, without moving (for grids).
    QVariant valueAt(int row, int column) const;
    /// Text form of `value()`: NULL gives "", date-times "yyyy-MM-dd HH:mm:ss", numbers
    /// without a trailing ".0" when they are whole.
    QString text(const QString &field) const;
    static QString textOf(const QVariant &value);
    QByteArray bytes(const QString &field) const;
    bool isNull(const QString &field) const;
    QDateTime dateTime(const QString &field) const;

    /// Starts a new row (edit buffer of NULLs) at the end.
    void append();
    /// Starts editing the current row.
    void edit();
    /// Sets a field of the edit buffer; `append()`/`edit()` must come first. A null
    /// `QVariant` stores NULL; a `QDateTime`/`QDate` is written zone-free.
    void setField(const QString &field, const QVariant &value);
    /// Writes the edit buffer to the base table and keeps it as the current row.
    void post();
    /// Drops the edit buffer.
    void cancel();
    /// Deletes the current row from the base table and from the fetched rows.
    void deleteCurrent();

    /// Makes the current row read as `shown`'s current row in the fields both have (any
    /// case), before `edit()` or `deleteCurrent()`. A window that fetches a row again just
    /// before writing it thereby guards the write with the values the user saw, not with
    /// those of the moment of saving. Throws `DbError` when either has no current row.
    void takeValuesFrom(const Recordset &shown);
    /// Makes the current row read `value` in `field` (a value the window showed from another
    /// query), as `takeValuesFrom` does for a whole row.
    void setReadValue(const QString &field, const QVariant &value);
    /// True when `shown`'s current row holds, in every non-blob field both have, the value
    /// of this one's current row (the row unchanged since it was shown).
    bool matchesShown(const Recordset &shown) const;

    /// Client-side order of the fetched rows: "Field" or "Field DESC" (several separated by
    /// commas); "" restores the fetched order. Keeps the current record current.
    void setSort(const QString &sort);
    QString sort() const { return m_sort; }

    /// The table that `post()`/`deleteCurrent()` write to ("" when the statement is not a
    /// one-table select).
    QString baseTable() const;

signals:
    /// The current row moved or the data under the cursor changed (open, close, post,
    /// delete, sort, setField). The windows' data-change hook.
    void dataChanged();
    /// The set of rows changed wholesale (open, close, sort) – for models.
    void rowsReset();
    /// One fetched row changed (post) or was appended/removed.
    void rowChanged(int row);
    void rowInserted(int row);
    void rowRemoved(int row);
    void currentRowChanged(int row);

private:
    void setRow(int row);
    void checkRunnable(Connection *c);
    QSqlQuery runStatement();
    WriteTarget writeTarget() const;
    QString whereClause(const WriteTarget &target,
                        const QVector<QVariant> &original,
                        QVariantList &binds) const;
    QString condition(int column, const QVariant &read, QVariantList &binds) const;
    DbError conflict() const;
    int runWrite(const QString &sql, const QVariantList &binds);
    QPointer<Connection> m_connection;
    QString m_statement;
    QList<QPair<QString, QVariant>> m_parameters;
    bool m_prepared = false;
    QString m_sort;
    State m_state = State::Closed;
    int m_row = -1;
    bool m_bof = true;
    bool m_eof = true;
    int m_rowsAffected = -1;
    std::unique_ptr<RecordsetStore> m_store;
    // The base table's columns and key as last read from the database, kept for the next
    // write to the same table of the same database (the server looks them up in its catalogue).
    mutable QString m_schemaKey;
    mutable QSqlRecord m_schemaRecord;
    mutable QSqlIndex m_schemaIndex;
};

} // namespace zq::data
