#pragma once

#include "zqdata_export.h"

#include "Connection.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace zq::data {

struct ColumnDef
{
    const char *name;
    ColumnType type;
    int width = 0; ///< characters, for Text
    bool notNull = false;
};

struct IndexDef
{
    const char *name;
    QStringList columns;
    bool unique = false;
    /// A partial index's condition ("" = every row).
    const char *where = "";
};

struct TableDef
{
    const char *name;
    QList<ColumnDef> columns;
    QStringList primaryKey;
    QList<IndexDef> indexes;
};

/// The tables of the site database: the module's tables and the host's own (user rights,
/// audit trail). Declared once as data; `createStatements` generates each engine's DDL.
ZQDATA_EXPORT const QList<TableDef> &siteTables();
ZQDATA_EXPORT const TableDef *findTable(const QString &name);

/// True when a table of `siteTables()` has a date-time column of that name (any case);
/// SQLite reports such columns as text, so the recordset needs to know them.
ZQDATA_EXPORT bool isDateTimeColumn(const QString &name);

/// CREATE TABLE and CREATE INDEX statements for `table` on `engine`.
ZQDATA_EXPORT QStringList createStatements(const TableDef &table, Engine engine);

/// Creates every table of `siteTables()` that does not exist yet (with its indexes).
/// Returns false and leaves `connection.errors()` filled on failure.
ZQDATA_EXPORT bool createSchema(Connection &connection, const QStringList &only = {});

} // namespace zq::data
