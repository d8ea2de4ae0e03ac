#pragma once

#include "Connection.h"

#include <QDateTime>
#include <QHash>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

namespace zq::data {

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
class RecordsetStore
{
public:
    QStringList names;
    QVector<FieldKind> kinds;
    QHash<QString, int> index; // lower-case name -> column
    QVector<QVector<QVariant>> rows;
    QVector<int> sequence; // fetch order of each row, so that an empty sort restores it
    int nextSequence = 0;
    QVector<QVariant> buffer;
    QVector<bool> modified;
    QList<QPair<QString, QVariant>> parameters;

    void addField(const QString &name, FieldKind kind);
    void appendRow(QVector<QVariant> &&row);
    void removeRow(int row);
    QVariant fromDatabase(const QVariant &value, int column, Engine engine) const;
    void sortRows(const QVector<SortKey> &keys);

    static QDateTime parseDateTime(const QString &text);
    static int compareValues(const QVariant &a, const QVariant &b);
};

} // namespace zq::data
