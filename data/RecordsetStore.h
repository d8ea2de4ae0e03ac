#pragma once

#include "Connection.h"

#include <QDateTime>
#include <QHash>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <memory>
#include <vector>

class QSqlQuery;
struct sqlite3_stmt;
struct pg_result;

namespace zq::data {

class SortKeys;

enum class FieldKind { Plain, Blob, DateTime };

struct SortKey
{
    int column;
    bool descending;
};

// Where post() and deleteCurrent() write: the base table, the recordset columns that the
// table has, and the columns that find the row again.
struct WriteTarget
{
    QString table;
    QVector<int> columns;
    QVector<int> keys;
};

// The fetched rows of a recordset and its edit buffer.
//
// A listing of a hundred thousand holders must not cost a QVariant, a QString and a
// date-time conversion for every value before the first row is shown: each row is packed
// into one run of bytes in large shared blocks (texts as Latin-1 when they fit), and a
// QVariant is made only for the value that is asked for. Date-time texts of the database
// are kept as they came and converted when read, because making a local QDateTime asks the
// C library for the zone rules every time. Blobs and rare types stay QVariants on the side,
// so a photo is shared with the driver instead of copied.
class RecordsetStore
{
public:
    RecordsetStore();
    ~RecordsetStore();
    RecordsetStore(const RecordsetStore &) = delete;
    RecordsetStore &operator=(const RecordsetStore &) = delete;

    QStringList names;
    QVector<FieldKind> kinds;
    QHash<QString, int> index; // lower-case name -> column
    QVector<int> sequence;     // fetch order of each row, so that an empty sort restores it
    int nextSequence = 0;
    QVector<QVariant> buffer;
    QVector<bool> modified;
    QList<QPair<QString, QVariant>> parameters;

    void addField(const QString &name, FieldKind kind);
    int rowCount() const { return int(m_rows.size()); }
    bool isEmpty() const { return m_rows.empty(); }
    /// Appends every row that `query` has left, converted as `fromDatabase` would.
    void fetchAll(QSqlQuery &query);
    /// Appends the rows of an SQLite statement whose first step returned `step`, each value
    /// as Qt's SQLite driver would have handed it to `fetchAll`. False when a step failed.
    bool fetchSQLite(sqlite3_stmt *statement, int step);
    /// The kind of field Qt's PostgreSQL driver makes of a column named `name` of type `oid`;
    /// false for a type whose values it is not known to convert as `fetchPostgres` does.
    static bool postgresKind(unsigned int oid, const QString &name, FieldKind &kind);
    /// Appends the rows of a PostgreSQL result in text form whose columns `postgresKind`
    /// knows, each value as Qt's PostgreSQL driver would have handed it to `fetchAll`;
    /// numeric values as their text when `numericAsText`, else as doubles.
    void fetchPostgres(const pg_result *result, bool numericAsText);
    /// Appends a row of values as they are to be read back.
    void appendRow(const QVector<QVariant> &row);
    void replaceRow(int row, const QVector<QVariant> &values);
    void removeRow(int row);
    QVariant value(int row, int column) const;
    QVector<QVariant> row(int row) const;
    QVariant fromDatabase(const QVariant &value, int column, Engine engine) const;
    void sortRows(const QVector<SortKey> &keys);

    static QDateTime parseDateTime(const QString &text);
    static int compareValues(const QVariant &a, const QVariant &b);

private:
    class Encoder;
    const char *store(const std::vector<char> &bytes);
    void keepRow();
    QVariant sortKey(int row, int column) const;
    std::vector<int> fetchOrder() const;
    bool compactKeys(const QVector<SortKey> &keys,
                     const std::vector<int> &rows,
                     SortKeys &out) const;
    std::vector<int> comparedOrder(const QVector<SortKey> &keys) const;

    std::vector<const char *> m_rows;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char *m_free = nullptr;
    size_t m_left = 0;
    size_t m_nextBlock = 0;
    QVector<QVariant> m_side;
    std::vector<char> m_scratch;
    std::vector<unsigned char> m_postgresValues; // how each column's text becomes a value
};

} // namespace zq::data
