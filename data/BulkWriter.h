#pragma once

#include "zqdata_export.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

namespace zq::data {

class Connection;

/// Rows written to one table through the engine's own client library, every value UTF-8
/// text (or NULL, or an integer): on SQLite a statement prepared once and run per row, on
/// PostgreSQL `COPY ... FROM STDIN` into the table or, for updates, one prepared
/// `UPDATE ... FROM unnest(...)` fed each column's values as one binary text array and
/// joining them by key. Qt's drivers cost more per value than the writing itself: a
/// QVariant and a UTF-16 copy each, parameters looked up by position, and on PostgreSQL
/// every value lexed as a literal of the statement text.
///
/// Values are added row by row and written by `write()`, inside whatever transaction the
/// connection holds. The caller undoes a refused write (a savepoint on PostgreSQL, where
/// the refusal leaves the transaction unusable); the writer never begins, commits or rolls
/// back. The prepared statements go when the connection closes.
class ZQDATA_EXPORT BulkWriter
{
public:
    /// Inserts of `columns` into `table`; with `key` set, updates of `columns` in the rows of
    /// `table` whose `key` holds the row's first value (the key, then the columns' values).
    BulkWriter(Connection *connection,
               const QString &table,
               const QStringList &columns,
               const QString &key = QString());
    ~BulkWriter();
    BulkWriter(const BulkWriter &) = delete;
    BulkWriter &operator=(const BulkWriter &) = delete;

    /// Prepares the statements on the open connection; false with `errorText()` when the
    /// engine refused them (or the connection is not one of its engines' handles).
    bool prepare();
    bool isPrepared() const;

    /// The next value of the current row.
    void addText(QByteArrayView utf8);
    void addNull();
    void addInteger(qint64 value);
    /// Ends the current row; every row needs exactly as many values as the writer's columns.
    void endRow();
    qsizetype pendingRows() const;
    /// Drops the rows not yet written.
    void clear();

    /// Writes the pending rows and drops them. False when the engine refused: on SQLite the
    /// rows before the refused one stay written (`writtenRows()`), the refused one undid
    /// itself; on PostgreSQL none is written and the transaction must be rolled back to a
    /// savepoint before anything else runs in it.
    bool write();
    /// Sends the pending rows and drops them, without waiting for the engine where it can
    /// write them while the caller goes on (PostgreSQL's updates): then nothing else may use
    /// the connection until `finishWrite()`. Elsewhere the rows are written at once, as
    /// `write()` writes them. False when they were refused at once.
    bool send();
    /// True while rows sent are being written.
    bool isWriting() const;
    /// Waits for the rows sent: what `write()` would have returned for them (true when none
    /// were outstanding).
    bool finishWrite();
    /// The rows the last `write()` (or `finishWrite()`) wrote.
    qsizetype writtenRows() const;
    /// The engine's message of the last refusal.
    QString errorText() const;
    /// True when, after the last refusal, the engine ended the transaction itself (SQLite
    /// rolls back on a full disk, an I/O error or running out of memory).
    bool transactionEnded() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace zq::data
