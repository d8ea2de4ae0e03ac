#include "SortKeys.h"

#include <QChar>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <numeric>

namespace zq::data {

namespace {

// A value's key is a byte for NULL, or a byte for "not NULL" and what follows; NULL comes
// first.
constexpr unsigned char kNull = 0;
constexpr unsigned char kValue = 1;

// Numbers up to 0x1fffff in the longer forms of UTF-8, lone surrogates included: the bytes
// compare as the numbers do, and no number's bytes begin another's.
void putCode(std::vector<unsigned char> &out, char32_t v)
{
    if (v < 0x80) {
        out.push_back(static_cast<unsigned char>(v));
    } else if (v < 0x800) {
        out.push_back(static_cast<unsigned char>(0xc0 | (v >> 6)));
        out.push_back(static_cast<unsigned char>(0x80 | (v & 0x3f)));
    } else if (v < 0x10000) {
        out.push_back(static_cast<unsigned char>(0xe0 | (v >> 12)));
        out.push_back(static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3f)));
        out.push_back(static_cast<unsigned char>(0x80 | (v & 0x3f)));
    } else {
        out.push_back(static_cast<unsigned char>(0xf0 | (v >> 18)));
        out.push_back(static_cast<unsigned char>(0x80 | ((v >> 12) & 0x3f)));
        out.push_back(static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3f)));
        out.push_back(static_cast<unsigned char>(0x80 | (v & 0x3f)));
    }
}

void putBigEndian(std::vector<unsigned char> &out, quint64 v)
{
    for (int shift = 56; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(v >> shift));
}

// A text's key: what Qt compares without regard to case, the case-folded value at each
// UTF-16 unit (the whole character's at the second unit of a surrogate pair), each one more
// than it is so that the 0 after them sorts before any of them; then, for texts that are
// equal so far and so of the same length, the units themselves.
struct Coded
{
    unsigned char size = 0;
    std::array<unsigned char, 4> bytes{};
};

Coded coded(char32_t v)
{
    std::vector<unsigned char> out;
    putCode(out, v);
    Coded c;
    c.size = static_cast<unsigned char>(out.size());
    std::copy(out.begin(), out.end(), c.bytes.begin());
    return c;
}

struct Latin1Tables
{
    std::array<Coded, 256> folded;
    std::array<Coded, 256> unit;
    Latin1Tables()
    {
        for (char32_t c = 0; c < 256; ++c) {
            folded[c] = coded(QChar::toCaseFolded(c) + 1);
            unit[c] = coded(c);
        }
    }
};

const Latin1Tables &latin1Tables()
{
    static const Latin1Tables tables;
    return tables;
}

void append(std::vector<unsigned char> &out, const Coded &c)
{
    out.insert(out.end(), c.bytes.begin(), c.bytes.begin() + c.size);
}

char16_t unitAt(const unsigned char *units, size_t i)
{
    char16_t u;
    std::memcpy(&u, units + 2 * i, sizeof u);
    return u;
}

struct Entry
{
    quint64 head; // the first 8 bytes after what every key shares, big-endian
    quint32 at;
    quint32 size;
    qint32 sequence;
    qint32 row;
};

} // namespace

void SortKeys::reserve(size_t rows, size_t bytes)
{
    m_starts.reserve(rows);
    m_bytes.reserve(bytes);
}

void SortKeys::beginRow()
{
    m_starts.push_back(m_bytes.size());
}

void SortKeys::addNull()
{
    m_value = m_bytes.size();
    put(kNull);
}

void SortKeys::addUtf16(const void *units, size_t count)
{
    m_value = m_bytes.size();
    put(kValue);
    const auto *p = static_cast<const unsigned char *>(units);
    char32_t last = 0;
    for (size_t i = 0; i < count; ++i) {
        const char16_t unit = unitAt(p, i);
        char32_t c = unit;
        if (QChar::isLowSurrogate(c) && QChar::isHighSurrogate(last))
            c = QChar::surrogateToUcs4(char16_t(last), unit);
        last = unit;
        putCode(m_bytes, QChar::toCaseFolded(c) + 1);
    }
    put(0);
    for (size_t i = 0; i < count; ++i)
        putCode(m_bytes, unitAt(p, i));
}

void SortKeys::addLatin1(const char *chars, size_t count)
{
    m_value = m_bytes.size();
    const Latin1Tables &tables = latin1Tables();
    put(kValue);
    const auto *p = reinterpret_cast<const unsigned char *>(chars);
    for (size_t i = 0; i < count; ++i)
        append(m_bytes, tables.folded[p[i]]);
    put(0);
    for (size_t i = 0; i < count; ++i)
        append(m_bytes, tables.unit[p[i]]);
}

void SortKeys::addNumber(double value)
{
    m_value = m_bytes.size();
    put(kValue);
    if (value == 0)
        value = 0; // -0 and 0 are equal
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    constexpr quint64 sign = quint64(1) << 63;
    putBigEndian(m_bytes, (bits & sign) ? ~bits : bits | sign);
}

void SortKeys::addWallClock(qint64 msecs)
{
    m_value = m_bytes.size();
    put(kValue);
    putBigEndian(m_bytes, quint64(msecs) ^ (quint64(1) << 63));
}

void SortKeys::reverseLast()
{
    for (size_t i = m_value; i < m_bytes.size(); ++i)
        m_bytes[i] = static_cast<unsigned char>(~m_bytes[i]);
}

int SortKeys::compare(int a, int b) const
{
    const auto end = [this](int row) {
        return size_t(row) + 1 < m_starts.size() ? m_starts[size_t(row) + 1] : m_bytes.size();
    };
    const size_t sa = end(a) - m_starts[size_t(a)];
    const size_t sb = end(b) - m_starts[size_t(b)];
    const int c = std::memcmp(m_bytes.data() + m_starts[size_t(a)],
                              m_bytes.data() + m_starts[size_t(b)],
                              std::min(sa, sb));
    if (c != 0)
        return c;
    return sa < sb ? -1 : (sa > sb ? 1 : 0);
}

std::vector<int> SortKeys::order(const int *sequence) const
{
    const size_t count = m_starts.size();
    std::vector<int> rows(count);
    std::iota(rows.begin(), rows.end(), 0);
    if (count < 2)
        return rows;
    if (m_bytes.size() > std::numeric_limits<quint32>::max()) {
        std::stable_sort(rows.begin(), rows.end(), [&](int x, int y) {
            const int c = compare(x, y);
            return c != 0 ? c < 0 : sequence[x] < sequence[y];
        });
        return rows;
    }
    const unsigned char *base = m_bytes.data();
    const auto end = [this, count](size_t row) {
        return row + 1 < count ? m_starts[row + 1] : m_bytes.size();
    };
    // What every key begins with decides nothing: the 8 bytes kept beside each row are
    // taken after it, so that keys of texts that all begin alike still differ there.
    size_t shared = end(0) - m_starts[0];
    for (size_t r = 1; r < count && shared > 0; ++r) {
        const unsigned char *first = base + m_starts[0];
        const unsigned char *key = base + m_starts[r];
        const size_t n = std::min(shared, end(r) - m_starts[r]);
        shared = size_t(std::mismatch(first, first + n, key).first - first);
    }
    std::vector<Entry> entries(count);
    for (size_t r = 0; r < count; ++r) {
        Entry &e = entries[r];
        e.at = quint32(m_starts[r] + shared);
        e.size = quint32(end(r) - m_starts[r] - shared);
        quint64 head = 0;
        const unsigned char *key = base + e.at;
        for (quint32 i = 0; i < 8; ++i)
            head = (head << 8) | (i < e.size ? key[i] : 0);
        e.head = head;
        e.sequence = sequence[r];
        e.row = qint32(r);
    }
    std::sort(entries.begin(), entries.end(), [base](const Entry &x, const Entry &y) {
        if (x.head != y.head)
            return x.head < y.head;
        const quint32 n = std::min(x.size, y.size);
        if (n > 8) {
            const int c = std::memcmp(base + x.at + 8, base + y.at + 8, n - 8);
            if (c != 0)
                return c < 0;
        }
        if (x.size != y.size)
            return x.size < y.size;
        if (x.sequence != y.sequence)
            return x.sequence < y.sequence;
        return x.row < y.row;
    });
    for (size_t i = 0; i < count; ++i)
        rows[i] = entries[i].row;
    return rows;
}

} // namespace zq::data
