#pragma once

#include "Connection.h"
#include "RowCodec.h"

#include <QDateTime>
#include <QHash>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <memory>
#include <vector>

namespace zq::data {

class SortKeys;

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

// The fetched rows of a recordset and its edit buffer: each row packed by the row codec into
// one run of bytes in large shared blocks.
class RecordsetStore final : public RowSink
{
public:
    RecordsetStore();
    ~RecordsetStore() override;
    RecordsetStore(const RecordsetStore &) = delete;
    RecordsetStore &operator=(const RecordsetStore &) = delete;

    QStringList names;
    QVector<FieldKind> kinds;
    QHash<QString, int> index; // lower-case name -> column
    QVector<int> sequence;     // fetch order of each row, so that an empty sort restores it
    int nextSequence = 0;
    QVector<QVariant> buffer;
    QVector<bool> modified;

    // RowSink: what a backend reads.
    void addField(const QString &name, FieldKind kind) override;
    int fieldCount() const override { return int(names.size()); }
    FieldKind fieldKind(int column) const override { return kinds.at(column); }
    RowCodec &beginRow() override;
    void endRow() override;
    void clear() override;

    int rowCount() const { return int(m_rows.size()); }
    bool isEmpty() const { return m_rows.empty(); }
    /// Appends a row of values as they are to be read back.
    void appendRow(const QVector<QVariant> &row);
    void replaceRow(int row, const QVector<QVariant> &values);
    void removeRow(int row);
    QVariant value(int row, int column) const;
    QVector<QVariant> row(int row) const;
    void sortRows(const QVector<SortKey> &keys);

    static int compareValues(const QVariant &a, const QVariant &b);

private:
    const char *store(const std::vector<char> &bytes);
    QVariant sortKey(int row, int column) const;
    std::vector<int> fetchOrder() const;
    bool compactKeys(const QVector<SortKey> &keys,
                     const std::vector<int> &rows,
                     SortKeys &out) const;
    std::vector<int> comparedOrder(const QVector<SortKey> &keys) const;

    RowCodec m_codec;
    std::vector<const char *> m_rows;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char *m_free = nullptr;
    size_t m_left = 0;
    size_t m_nextBlock = 0;
};

} // namespace zq::data
