#pragma once

#include "zqdata_export.h"

#include <QStringView>

#include <cstddef>
#include <memory>
#include <vector>

namespace zq::data {

/// The keys of a client-side sort, one run of bytes per row in one buffer. Compared byte by
/// byte, a run that begins a longer one first, two keys order their rows as
/// RecordsetStore::compareValues orders the values they were made of: NULL first, texts
/// without regard to case and then with it, numbers by value, date-times by their reading.
/// No value's key begins another's, so the keys of several columns written one after the
/// other order by the first column, then by the next.
///
/// A sort of many rows then compares bytes it reads in sequence from one place, where
/// comparing the values themselves costs a QVariant, a QString and a case fold of both texts
/// at every comparison, each text in a heap block of its own.
class ZQDATA_EXPORT SortKeys
{
public:
    void reserve(size_t rows, size_t bytes);
    /// Starts the key of the next row.
    void beginRow();
    void addNull();
    /// A text of `count` UTF-16 units, read from memory that need not be aligned.
    void addUtf16(const void *units, size_t count);
    void addText(QStringView text) { addUtf16(text.utf16(), size_t(text.size())); }
    void addLatin1(const char *chars, size_t count);
    /// A number as compareValues compares it: as a double. NaN has no place in this order.
    void addNumber(double value);
    /// A date-time as milliseconds of its wall-clock reading since 1970-01-01 00:00.
    void addWallClock(qint64 msecs);
    /// Turns the order of the value added last around, for a descending column.
    void reverseLast();

    int rows() const { return int(m_starts.size()); }
    size_t bytes() const { return m_size; }
    /// The order of two rows' keys: negative, zero or positive.
    int compare(int a, int b) const;
    /// The rows (numbered as they were begun) in the order of their keys; rows of equal keys
    /// in the order they were begun.
    std::vector<int> order() const;

private:
    // Room for `bytes` more at the end of the keys; where they begin.
    unsigned char *room(size_t bytes);

    std::unique_ptr<unsigned char[]> m_data;
    size_t m_size = 0;
    size_t m_capacity = 0;
    std::vector<size_t> m_starts;
    size_t m_value = 0;
};

} // namespace zq::data
