#include "SortKeys.h"

#include <QChar>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>

namespace zq::data {

namespace {

// A value's key is a byte for NULL, or a byte for "not NULL" and what follows; NULL comes
// first.
constexpr unsigned char kNull = 0;
constexpr unsigned char kValue = 1;

// Numbers up to 0x1fffff in the longer forms of UTF-8, lone surrogates included: the bytes
// compare as the numbers do, and no number's bytes begin another's.
unsigned char *putCode(unsigned char *out, char32_t v)
{
    if (v < 0x80) {
        *out++ = static_cast<unsigned char>(v);
    } else if (v < 0x800) {
        *out++ = static_cast<unsigned char>(0xc0 | (v >> 6));
        *out++ = static_cast<unsigned char>(0x80 | (v & 0x3f));
    } else if (v < 0x10000) {
        *out++ = static_cast<unsigned char>(0xe0 | (v >> 12));
        *out++ = static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3f));
        *out++ = static_cast<unsigned char>(0x80 | (v & 0x3f));
    } else {
        *out++ = static_cast<unsigned char>(0xf0 | (v >> 18));
        *out++ = static_cast<unsigned char>(0x80 | ((v >> 12) & 0x3f));
        *out++ = static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3f));
        *out++ = static_cast<unsigned char>(0x80 | (v & 0x3f));
    }
    return out;
}

constexpr size_t kLongestCode = 4;

unsigned char *putBigEndian(unsigned char *out, quint64 v)
{
    for (int shift = 56; shift >= 0; shift -= 8)
        *out++ = static_cast<unsigned char>(v >> shift);
    return out;
}

// A text's key: what Qt compares without regard to case, the case-folded value at each
// UTF-16 unit (the whole character's at the second unit of a surrogate pair), each one more
// than it is so that the 0 after them sorts before any of them; then, for texts that are
// equal so far and so of the same length, the units themselves.
struct Coded
{
    unsigned char size = 0;
    std::array<unsigned char, kLongestCode> bytes{};
};

Coded coded(char32_t v)
{
    Coded c;
    c.size = static_cast<unsigned char>(putCode(c.bytes.data(), v) - c.bytes.data());
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

unsigned char *append(unsigned char *out, const Coded &c)
{
    std::memcpy(out, c.bytes.data(), kLongestCode);
    return out + c.size;
}

char16_t unitAt(const unsigned char *units, size_t i)
{
    char16_t u;
    std::memcpy(&u, units + 2 * i, sizeof u);
    return u;
}

struct Head
{
    quint64 head; // the first 8 bytes after what every key shares, big-endian
    quint32 row;
};

} // namespace

void SortKeys::reserve(size_t rows, size_t bytes)
{
    m_starts.reserve(rows);
    room(bytes);
}

unsigned char *SortKeys::room(size_t bytes)
{
    if (m_capacity - m_size < bytes) {
        const size_t capacity = std::max(m_size + bytes, 2 * m_capacity);
        auto grown = std::make_unique<unsigned char[]>(capacity);
        if (m_size)
            std::memcpy(grown.get(), m_data.get(), m_size);
        m_data = std::move(grown);
        m_capacity = capacity;
    }
    return m_data.get() + m_size;
}

void SortKeys::beginRow()
{
    m_starts.push_back(m_size);
}

void SortKeys::addNull()
{
    m_value = m_size;
    *room(1) = kNull;
    ++m_size;
}

void SortKeys::addUtf16(const void *units, size_t count)
{
    m_value = m_size;
    unsigned char *out = room(2 + count * 2 * kLongestCode);
    *out++ = kValue;
    const auto *p = static_cast<const unsigned char *>(units);
    char32_t last = 0;
    for (size_t i = 0; i < count; ++i) {
        const char16_t unit = unitAt(p, i);
        char32_t c = unit;
        if (QChar::isLowSurrogate(c) && QChar::isHighSurrogate(last))
            c = QChar::surrogateToUcs4(char16_t(last), unit);
        last = unit;
        out = putCode(out, QChar::toCaseFolded(c) + 1);
    }
    *out++ = 0;
    for (size_t i = 0; i < count; ++i)
        out = putCode(out, unitAt(p, i));
    m_size = size_t(out - m_data.get());
}

void SortKeys::addLatin1(const char *chars, size_t count)
{
    m_value = m_size;
    const Latin1Tables &tables = latin1Tables();
    // Each code is copied whole, so the last may reach that far beyond its own bytes.
    unsigned char *out = room(2 + count * 2 * kLongestCode + kLongestCode);
    *out++ = kValue;
    const auto *p = reinterpret_cast<const unsigned char *>(chars);
    for (size_t i = 0; i < count; ++i)
        out = append(out, tables.folded[p[i]]);
    *out++ = 0;
    for (size_t i = 0; i < count; ++i)
        out = append(out, tables.unit[p[i]]);
    m_size = size_t(out - m_data.get());
}

void SortKeys::addNumber(double value)
{
    m_value = m_size;
    unsigned char *out = room(9);
    *out++ = kValue;
    if (value == 0)
        value = 0; // -0 and 0 are equal
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    constexpr quint64 sign = quint64(1) << 63;
    out = putBigEndian(out, (bits & sign) ? ~bits : bits | sign);
    m_size = size_t(out - m_data.get());
}

void SortKeys::addWallClock(qint64 msecs)
{
    m_value = m_size;
    unsigned char *out = room(9);
    *out++ = kValue;
    out = putBigEndian(out, quint64(msecs) ^ (quint64(1) << 63));
    m_size = size_t(out - m_data.get());
}

void SortKeys::reverseLast()
{
    unsigned char *data = m_data.get();
    for (size_t i = m_value; i < m_size; ++i)
        data[i] = static_cast<unsigned char>(~data[i]);
}

int SortKeys::compare(int a, int b) const
{
    const auto end = [this](int row) {
        return size_t(row) + 1 < m_starts.size() ? m_starts[size_t(row) + 1] : m_size;
    };
    const size_t sa = end(a) - m_starts[size_t(a)];
    const size_t sb = end(b) - m_starts[size_t(b)];
    const int c = std::memcmp(
        m_data.get() + m_starts[size_t(a)], m_data.get() + m_starts[size_t(b)], std::min(sa, sb));
    if (c != 0)
        return c;
    return sa < sb ? -1 : (sa > sb ? 1 : 0);
}

std::vector<int> SortKeys::order() const
{
    const size_t count = m_starts.size();
    std::vector<int> rows(count);
    std::iota(rows.begin(), rows.end(), 0);
    if (count < 2)
        return rows;
    if (m_size > std::numeric_limits<quint32>::max()) {
        std::stable_sort(rows.begin(), rows.end(), [&](int x, int y) { return compare(x, y) < 0; });
        return rows;
    }
    const unsigned char *base = m_data.get();
    const auto end = [this, count](size_t row) {
        return row + 1 < count ? m_starts[row + 1] : m_size;
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
    // First by those 8 bytes alone, compared as one number each; rows whose 8 bytes are
    // alike are then ordered by the rest of their keys.
    std::vector<Head> heads(count);
    bool longer = false;
    for (size_t r = 0; r < count; ++r) {
        const size_t size = end(r) - m_starts[r] - shared;
        const unsigned char *key = base + m_starts[r] + shared;
        quint64 head = 0;
        for (size_t i = 0; i < 8; ++i)
            head = (head << 8) | (i < size ? key[i] : 0);
        heads[r] = Head{head, quint32(r)};
        longer = longer || size > 8;
    }
    std::sort(heads.begin(), heads.end(), [](const Head &x, const Head &y) {
        return x.head != y.head ? x.head < y.head : x.row < y.row;
    });
    for (size_t i = 0; i < count; ++i)
        rows[i] = int(heads[i].row);
    if (!longer)
        return rows;
    const auto rest = [&](int x, int y) {
        const size_t sx = end(size_t(x)) - m_starts[size_t(x)] - shared;
        const size_t sy = end(size_t(y)) - m_starts[size_t(y)] - shared;
        const size_t n = std::min(sx, sy);
        if (n > 8) {
            const int c = std::memcmp(base + m_starts[size_t(x)] + shared + 8,
                                      base + m_starts[size_t(y)] + shared + 8,
                                      n - 8);
            if (c != 0)
                return c < 0;
        }
        return sx != sy ? sx < sy : x < y;
    };
    for (size_t i = 0; i < count;) {
        size_t j = i + 1;
        while (j < count && heads[j].head == heads[i].head)
            ++j;
        if (j - i > 1)
            std::sort(rows.begin() + qsizetype(i), rows.begin() + qsizetype(j), rest);
        i = j;
    }
    return rows;
}

} // namespace zq::data
