#pragma once

#include "zqdata_export.h"

#include <QString>
#include <QStringList>

#include <functional>

class QObject;

namespace zq::data {

class Connection;
class Recordset;

/// The module connection that `BindFormDataSets` and `CheckConnection` use. Set by the
/// module's `SetADOConnection` (tests set it directly).
ZQDATA_EXPORT void setModuleConnection(Connection *connection);
ZQDATA_EXPORT Connection *moduleConnection();

/// Runs `statement` on `query`. Mode 0 opens and goes to the first row, mode 1 executes a
/// statement without rows, any other mode only prepares. Returns 1 on success, 0 on any
/// failure (never throws). After a failure it walks the connection's error list and closes
/// the connection at the first error whose native code is 0 (a lost link); the next command
/// then connects again (`Connection::ensureOpen`).
ZQDATA_EXPORT int RunQuery(Recordset *query, const QString &statement, int mode);

/// The probe: runs the table-free " SELECT 1 " on a temporary query of the module
/// connection. 1 if the connection answers, else 0 (no connection, or the link is lost and
/// then closed by `RunQuery`); a missing table never makes it fail.
ZQDATA_EXPORT int CheckConnection();

/// Moves `dataSet` to the first row whose `field` equals `value` exactly. False (and no
/// move) when closed, empty or not found.
ZQDATA_EXPORT bool LocateRecord(Recordset *dataSet, const QString &field, const QString &value);

/// "Select * From " + table + " Order By " + field, opened. Throws `DbError`.
ZQDATA_EXPORT void OpenTableOrdered(Recordset *query, const QString &table, const QString &field);

/// Sets the statement and opens it. Throws `DbError`.
ZQDATA_EXPORT void OpenQueryText(Recordset *query, const QString &statement);

/// The trimmed text before the first `separator`, or `text` unchanged without one.
ZQDATA_EXPORT QString TextBeforeSeparator(const QString &text, const QString &separator);

/// Runs `write` in a transaction on `connection` and commits. When `write` throws or the
/// commit fails, rolls back, runs the connection probe (a lost link is then closed) and
/// returns false; `write` must leave its recordsets to the caller's cancel. After a false,
/// `connection->errors()` hold the failure of the write; `isRowConflict()` of them tells a
/// row changed on another workstation.
ZQDATA_EXPORT bool WriteInTransaction(Connection *connection, const std::function<void()> &write);

/// Mode 0: closes every `Recordset` child of `window` (recursively) and attaches it to the
/// module connection. Mode 1: closes each and detaches it. A failure on one goes on to the
/// next.
ZQDATA_EXPORT void BindFormDataSets(QObject *window, int mode);

} // namespace zq::data
