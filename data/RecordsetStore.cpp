#include "RecordsetStore.h"

#include "SortKeys.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace zq::data {

namespace {

constexpr size_t kBlockSize = 256 * 1024;
constexpr size_t kFirstBlockSize = 2 * 1024;

} // namespace

RecordsetStore::RecordsetStore() = default;
RecordsetStore::~RecordsetStore() = default;

void RecordsetStore::addField(const QString &name, FieldKind kind)
{
    const QString key = name.toLower();
    if (!index.contains(key))
        index.insert(key, int(names.size()));
    names << name;
    kinds << kind;
}

void RecordsetStore::clear()
{
    names.clear();
    kinds.clear();
    index.clear();
    sequence.clear();
    nextSequence = 0;
    m_rows.clear();
    m_blocks.clear();
    m_free = nullptr;
    m_left = 0;
    m_nextBlock = 0;
    m_codec = RowCodec();
}

// Blocks start small, since most queries of a window read a row or a few, and double up
// to kBlockSize for listings.
const char *RecordsetStore::store(const std::vector<char> &bytes)
{
    const size_t n = bytes.size();
    char *at;
    if (n > kBlockSize / 4) {
        m_blocks.emplace_back(new char[n]);
        at = m_blocks.back().get();
    } else {
        if (n > m_left) {
            const size_t grown = m_nextBlock == 0 ? kFirstBlockSize : m_nextBlock * 2;
            m_nextBlock = std::min(kBlockSize, std::max(grown, 4 * n));
            m_blocks.emplace_back(new char[m_nextBlock]);
            m_free = m_blocks.back().get();
            m_left = m_nextBlock;
        }
        at = m_free;
        m_free += n;
        m_left -= n;
    }
    std::memcpy(at, bytes.data(), n);
    return at;
}

RowCodec &RecordsetStore::beginRow()
{
    m_codec.beginRow();
    return m_codec;
}

// The row made in the codec becomes the last row, in fetch order.
void RecordsetStore::endRow()
{
    m_rows.push_back(store(m_codec.row()));
    sequence.append(nextSequence++);
}

void RecordsetStore::appendRow(const QVector<QVariant> &row)
{
    m_codec.beginRow();
    for (const QVariant &v : row)
        m_codec.put(v);
    endRow();
}

// The replaced bytes stay in their block until the recordset is opened again or closed;
// edits are few next to the fetched rows.
void RecordsetStore::replaceRow(int row, const QVector<QVariant> &values)
{
    m_codec.beginRow();
    for (const QVariant &v : values)
        m_codec.put(v);
    m_rows[size_t(row)] = store(m_codec.row());
}

void RecordsetStore::removeRow(int row)
{
    m_rows.erase(m_rows.begin() + row);
    sequence.removeAt(row);
}

QVariant RecordsetStore::value(int row, int column) const
{
    return m_codec.value(m_rows[size_t(row)], column);
}

QVector<QVariant> RecordsetStore::row(int row) const
{
    return m_codec.values(m_rows[size_t(row)], int(names.size()));
}

// Date-times order by their wall-clock reading, which is what the zone-free columns hold,
// so a sort needs no zone lookup per row.
QVariant RecordsetStore::sortKey(int row, int column) const
{
    const PackedCell cell = RowCodec::cell(m_rows[size_t(row)], column);
    if (cell.kind == PackedCell::Kind::DbText) {
        QDate date;
        QTime time;
        if (RowCodec::splitDateTime(cell.text, cell.size, date, time))
            return QDateTime(date, time, Qt::UTC);
    } else if (cell.kind == PackedCell::Kind::WallClock) {
        return QDateTime(QDate::fromJulianDay(cell.integer),
                         QTime::fromMSecsSinceStartOfDay(cell.msecs),
                         Qt::UTC);
    }
    const QVariant v = m_codec.valueOf(cell);
    if (v.metaType().id() == QMetaType::QDateTime) {
        const QDateTime dt = v.toDateTime();
        return QDateTime(dt.date(), dt.time(), Qt::UTC);
    }
    return v;
}

int RecordsetStore::compareValues(const QVariant &a, const QVariant &b)
{
    const bool an = !a.isValid() || a.isNull();
    const bool bn = !b.isValid() || b.isNull();
    if (an || bn)
        return an == bn ? 0 : (an ? -1 : 1);
    const int ta = a.metaType().id();
    const int tb = b.metaType().id();
    const auto numeric = [](int t) {
        return t == QMetaType::Int || t == QMetaType::LongLong || t == QMetaType::Double
               || t == QMetaType::UInt || t == QMetaType::ULongLong || t == QMetaType::Short
               || t == QMetaType::Float || t == QMetaType::Bool;
    };
    if (numeric(ta) && numeric(tb)) {
        const double x = a.toDouble(), y = b.toDouble();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    if (ta == QMetaType::QDateTime && tb == QMetaType::QDateTime) {
        const QDateTime x = a.toDateTime(), y = b.toDateTime();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    if (ta == QMetaType::QByteArray || tb == QMetaType::QByteArray)
        return a.toByteArray().compare(b.toByteArray());
    const QString x = a.toString(), y = b.toString();
    const int c = x.compare(y, Qt::CaseInsensitive);
    return c != 0 ? c : x.compare(y, Qt::CaseSensitive);
}

namespace {

bool isNumber(int type)
{
    return type == QMetaType::Int || type == QMetaType::LongLong || type == QMetaType::Double
           || type == QMetaType::UInt || type == QMetaType::ULongLong || type == QMetaType::Short
           || type == QMetaType::Float || type == QMetaType::Bool;
}

enum class KeyKind { Unknown, Text, Number, WallClock };

constexpr qint64 kEpochDay = 2440588; // the Julian day of 1970-01-01
constexpr qint64 kMSecsPerDay = 86400000;

// A day far enough from ours that its milliseconds might not fit: the general way decides.
bool plainDay(qint64 day)
{
    return day > kEpochDay - 100000000 && day < kEpochDay + 100000000;
}

} // namespace

namespace {

// Whether a key was added for a value, could not be (the rows are then compared instead), or
// is to be made from the value itself.
enum class KeyMade { Yes, No, General };

// A column's values must all be of one kind of key.
bool ofKind(KeyKind &kind, KeyKind found)
{
    if (kind == KeyKind::Unknown)
        kind = found;
    return kind == found;
}

bool addNumber(KeyKind &kind, double value, SortKeys &out)
{
    if (std::isnan(value) || !ofKind(kind, KeyKind::Number))
        return false;
    out.addNumber(value);
    return true;
}

KeyMade made(bool yes)
{
    return yes ? KeyMade::Yes : KeyMade::No;
}

// The key of a packed value, straight from its bytes where it can be.
KeyMade addPackedKey(const PackedCell &cell, KeyKind &kind, SortKeys &out)
{
    switch (cell.kind) {
    case PackedCell::Kind::Null:
        out.addNull();
        return KeyMade::Yes;
    case PackedCell::Kind::Int32:
    case PackedCell::Kind::Int64:
        return made(addNumber(kind, double(cell.integer), out));
    case PackedCell::Kind::Double:
        return made(addNumber(kind, cell.real, out));
    case PackedCell::Kind::Latin1:
        if (!ofKind(kind, KeyKind::Text))
            return KeyMade::No;
        out.addLatin1(cell.text, cell.size);
        return KeyMade::Yes;
    case PackedCell::Kind::Utf16:
        if (!ofKind(kind, KeyKind::Text))
            return KeyMade::No;
        out.addUtf16(cell.text, cell.size);
        return KeyMade::Yes;
    case PackedCell::Kind::DbText: {
        QDate date;
        QTime time;
        if (!RowCodec::splitDateTime(cell.text, cell.size, date, time)
            || !plainDay(date.toJulianDay()))
            return KeyMade::General;
        if (!ofKind(kind, KeyKind::WallClock))
            return KeyMade::No;
        out.addWallClock((date.toJulianDay() - kEpochDay) * kMSecsPerDay
                         + time.msecsSinceStartOfDay());
        return KeyMade::Yes;
    }
    case PackedCell::Kind::WallClock:
        if (!plainDay(cell.integer))
            return KeyMade::General;
        if (!ofKind(kind, KeyKind::WallClock))
            return KeyMade::No;
        out.addWallClock((cell.integer - kEpochDay) * kMSecsPerDay + cell.msecs);
        return KeyMade::Yes;
    default:
        return KeyMade::General;
    }
}

// The key of a value as sortKey() gives it.
bool addValueKey(const QVariant &v, KeyKind &kind, SortKeys &out)
{
    const int type = v.metaType().id();
    if (!v.isValid() || v.isNull()) {
        out.addNull();
        return true;
    }
    if (type == QMetaType::QString) {
        if (!ofKind(kind, KeyKind::Text))
            return false;
        out.addText(*static_cast<const QString *>(v.constData()));
        return true;
    }
    if (type == QMetaType::QDateTime) {
        const QDateTime dt = v.toDateTime();
        if (!dt.isValid() || !ofKind(kind, KeyKind::WallClock))
            return false;
        out.addWallClock(dt.toMSecsSinceEpoch());
        return true;
    }
    return isNumber(type) && addNumber(kind, v.toDouble(), out);
}

} // namespace

// The keys of the values sortKey() gives, as compareValues() orders them. False when a
// column's values are not all of one kind, NULL aside (compareValues then compares numbers
// with texts as texts, and blobs as bytes), or one has no place in the order of the keys (NaN,
// an invalid date-time, a type compared by its text): those rows are sorted by comparing
// their values.
bool RecordsetStore::compactKeys(const QVector<SortKey> &keys,
                                 const std::vector<int> &rows,
                                 SortKeys &out) const
{
    std::vector<KeyKind> kinds(size_t(keys.size()), KeyKind::Unknown);
    out.reserve(rows.size(), rows.size() * 40 * size_t(keys.size()));
    for (const int r : rows) {
        out.beginRow();
        for (qsizetype k = 0; k < keys.size(); ++k) {
            const int column = keys.at(k).column;
            KeyKind &kind = kinds[size_t(k)];
            const KeyMade key = addPackedKey(RowCodec::cell(m_rows[size_t(r)], column), kind, out);
            if (key == KeyMade::No
                || (key == KeyMade::General && !addValueKey(sortKey(r, column), kind, out)))
                return false;
            if (keys.at(k).descending)
                out.reverseLast();
        }
    }
    return true;
}

// Each key value is unpacked once, not at every comparison.
std::vector<int> RecordsetStore::comparedOrder(const QVector<SortKey> &keys) const
{
    const int count = rowCount();
    std::vector<int> order(static_cast<size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    const qsizetype width = keys.size();
    QVector<QVariant> values(count * width);
    for (int r = 0; r < count; ++r)
        for (qsizetype k = 0; k < width; ++k)
            values[r * width + k] = sortKey(r, keys.at(k).column);
    std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
        for (qsizetype k = 0; k < width; ++k) {
            const int c = compareValues(values.at(x * width + k), values.at(y * width + k));
            if (c != 0)
                return keys.at(k).descending ? c > 0 : c < 0;
        }
        return sequence.at(x) < sequence.at(y);
    });
    return order;
}

// The rows in fetch order (rows of one sequence number as they stand). A sorted listing's
// rows lie in memory as they were fetched: read in this order, a million of them are read
// from one end of their blocks to the other, not each from another place.
std::vector<int> RecordsetStore::fetchOrder() const
{
    const int count = rowCount();
    int most = -1;
    for (const int s : sequence)
        most = std::max(most, s);
    std::vector<int> starts(size_t(most) + 2, 0);
    for (const int s : sequence)
        ++starts[size_t(s) + 1];
    std::partial_sum(starts.begin(), starts.end(), starts.begin());
    std::vector<int> rows(static_cast<size_t>(count));
    for (int r = 0; r < count; ++r)
        rows[size_t(starts[size_t(sequence.at(r))]++)] = r;
    return rows;
}

void RecordsetStore::sortRows(const QVector<SortKey> &keys)
{
    const int count = rowCount();
    std::vector<int> order = fetchOrder();
    if (!keys.isEmpty()) {
        // Keys made in fetch order: rows of equal keys stay in it.
        SortKeys compact;
        if (compactKeys(keys, order, compact)) {
            const std::vector<int> sorted = compact.order();
            std::vector<int> rows(sorted.size());
            for (size_t i = 0; i < sorted.size(); ++i)
                rows[i] = order[size_t(sorted[i])];
            order = std::move(rows);
        } else {
            order = comparedOrder(keys);
        }
    }
    std::vector<const char *> sortedRows;
    QVector<int> sortedSequence;
    sortedRows.reserve(size_t(count));
    sortedSequence.reserve(count);
    for (int i : std::as_const(order)) {
        sortedRows.push_back(m_rows[size_t(i)]);
        sortedSequence.append(sequence.at(i));
    }
    m_rows = std::move(sortedRows);
    sequence = std::move(sortedSequence);
}

} // namespace zq::data
