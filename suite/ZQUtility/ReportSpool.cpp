#include "ReportSpool.h"

#include <cstring>

namespace zq::suite {

namespace {

// Rows are gathered to pieces of about this size before they go to the file, and read back
// in pieces of this size.
constexpr qsizetype kPiece = 256 * 1024;

// A row: its size in bytes, a byte of flags, the group line when it begins a group, the
// number of cells, then each text. A text is its length in UTF-16 units, doubled and one
// more when it is kept as those units, then its characters: a byte each when every one is
// below U+0100 (names, numbers, e-mails, dates: half the bytes to write and read back), else
// the UTF-16 units as they are, so that any text QString holds, a lone surrogate too, comes
// back unchanged. Numbers are written seven bits to a byte, the last byte without the top
// bit.
constexpr quint8 kNewGroup = 1;

template<typename T>
void put(QByteArray &out, T value)
{
    out.append(reinterpret_cast<const char *>(&value), sizeof value);
}

void putNumber(QByteArray &out, quint64 n)
{
    while (n >= 0x80) {
        out.append(char((n & 0x7f) | 0x80));
        n >>= 7;
    }
    out.append(char(n));
}

bool narrow(const QString &text)
{
    const auto *units = reinterpret_cast<const char16_t *>(text.constData());
    char16_t any = 0;
    for (qsizetype i = 0, n = text.size(); i < n; ++i)
        any |= units[i];
    return any < 0x100;
}

void putText(QByteArray &out, const QString &text)
{
    const qsizetype n = text.size();
    if (narrow(text)) {
        putNumber(out, quint64(n) << 1);
        const qsizetype at = out.size();
        out.resize(at + n);
        char *to = out.data() + at;
        const auto *units = reinterpret_cast<const char16_t *>(text.constData());
        for (qsizetype i = 0; i < n; ++i)
            to[i] = char(units[i]);
        return;
    }
    putNumber(out, (quint64(n) << 1) | 1);
    out.append(reinterpret_cast<const char *>(text.constData()), n * 2);
}

template<typename T>
T take(const char *at)
{
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

} // namespace

bool ReportSpool::open()
{
    m_buffer.clear();
    m_buffer.reserve(kPiece + 4096);
    m_failed = !m_file.open();
    return !m_failed;
}

void ReportSpool::append(bool newGroup, const QString &groupLine, const std::vector<QString> &cells)
{
    if (m_failed)
        return;
    const qsizetype start = m_buffer.size();
    put(m_buffer, qint32(0));
    put(m_buffer, quint8(newGroup ? kNewGroup : 0));
    if (newGroup)
        putText(m_buffer, groupLine);
    putNumber(m_buffer, cells.size());
    for (const QString &cell : cells)
        putText(m_buffer, cell);
    const qint32 size = qint32(m_buffer.size() - start - qsizetype(sizeof(qint32)));
    std::memcpy(m_buffer.data() + start, &size, sizeof size);
    if (m_buffer.size() >= kPiece)
        flush();
}

bool ReportSpool::flush()
{
    if (!m_failed && !m_buffer.isEmpty() && m_file.write(m_buffer) != m_buffer.size())
        m_failed = true;
    m_buffer.clear();
    return !m_failed;
}

bool ReportSpool::rewind()
{
    if (!flush() || !m_file.flush() || !m_file.seek(0))
        m_failed = true;
    m_at = 0;
    return !m_failed;
}

// At least `bytes` unread bytes in the buffer, or false at the end of the file.
bool ReportSpool::fill(qsizetype bytes)
{
    if (m_buffer.size() - m_at >= bytes)
        return true;
    m_buffer.remove(0, m_at);
    m_at = 0;
    const qsizetype wanted = std::max(bytes - m_buffer.size(), kPiece);
    const qsizetype had = m_buffer.size();
    m_buffer.resize(had + wanted);
    const qint64 got = m_file.read(m_buffer.data() + had, wanted);
    m_buffer.resize(had + std::max<qint64>(got, 0));
    if (got < 0)
        m_failed = true;
    return m_buffer.size() >= bytes;
}

// A number of the row that ends at `end`; false when the row ends before it does.
bool ReportSpool::readNumber(qsizetype end, quint64 &n)
{
    n = 0;
    for (int shift = 0; shift < 64 && m_at < end; shift += 7) {
        const auto byte = quint8(m_buffer.at(m_at++));
        n |= quint64(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return true;
    }
    return false;
}

bool ReportSpool::readText(qsizetype end, QString &text)
{
    quint64 header;
    if (!readNumber(end, header))
        return false;
    const quint64 length = header >> 1;
    const bool wide = header & 1;
    const quint64 bytes = wide ? length * 2 : length;
    if (length > quint64(end - m_at) || bytes > quint64(end - m_at))
        return false;
    const char *at = m_buffer.constData() + m_at;
    if (wide)
        text = QString(reinterpret_cast<const QChar *>(at), qsizetype(length));
    else
        text = QString::fromLatin1(at, qsizetype(length));
    m_at += qsizetype(bytes);
    return true;
}

bool ReportSpool::next()
{
    if (m_failed)
        return false;
    if (!fill(sizeof(qint32))) {
        // A piece of a row at the end is a file cut short, not the end of the rows.
        m_failed = m_buffer.size() > m_at;
        return false;
    }
    const qint32 size = take<qint32>(m_buffer.constData() + m_at);
    if (size < 1 || !fill(sizeof(qint32) + size)) {
        m_failed = true;
        return false;
    }
    m_at += sizeof(qint32);
    // Every length is checked against the row before it is used.
    const qsizetype end = m_at + size;
    const quint8 flags = quint8(m_buffer.at(m_at));
    ++m_at;
    m_newGroup = flags & kNewGroup;
    quint64 cells = 0;
    if ((m_newGroup && !readText(end, m_groupLine)) || !readNumber(end, cells)
        || cells > quint64(end - m_at)) {
        m_failed = true;
        return false;
    }
    m_cells.resize(size_t(cells));
    for (QString &cell : m_cells) {
        if (!readText(end, cell)) {
            m_failed = true;
            return false;
        }
    }
    if (m_at != end) {
        m_failed = true;
        return false;
    }
    return true;
}

} // namespace zq::suite
