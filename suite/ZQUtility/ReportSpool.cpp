#include "ReportSpool.h"

#include <cstring>

namespace zq::suite {

namespace {

// Rows are gathered to pieces of about this size before they go to the file, and read back
// in pieces of this size.
constexpr qsizetype kPiece = 256 * 1024;

// A row: its size in bytes, a byte of flags, the group line when it begins a group, the
// number of cells, then each text as its length in UTF-16 units and those units.
constexpr quint8 kNewGroup = 1;

template<typename T>
void put(QByteArray &out, T value)
{
    out.append(reinterpret_cast<const char *>(&value), sizeof value);
}

void putText(QByteArray &out, const QString &text)
{
    put(out, qint32(text.size()));
    out.append(reinterpret_cast<const char *>(text.constData()), text.size() * 2);
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
    put(m_buffer, qint32(cells.size()));
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

bool ReportSpool::readText(QString &text)
{
    // Checked against the row's size before: the row is in the buffer whole.
    const qint32 length = take<qint32>(m_buffer.constData() + m_at);
    m_at += sizeof(qint32);
    text = QString(reinterpret_cast<const QChar *>(m_buffer.constData() + m_at), length);
    m_at += qsizetype(length) * 2;
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
    const qsizetype end = m_at + size;
    // Every length is checked against the row before it is used.
    auto fits = [&](qsizetype bytes) { return m_at + bytes <= end; };
    auto text = [&](QString &out) {
        if (!fits(sizeof(qint32)))
            return false;
        const qint32 length = take<qint32>(m_buffer.constData() + m_at);
        if (length < 0 || !fits(sizeof(qint32) + qsizetype(length) * 2))
            return false;
        return readText(out);
    };
    const quint8 flags = quint8(m_buffer.at(m_at));
    ++m_at;
    m_newGroup = flags & kNewGroup;
    if (m_newGroup && !text(m_groupLine)) {
        m_failed = true;
        return false;
    }
    if (!fits(sizeof(qint32))) {
        m_failed = true;
        return false;
    }
    const qint32 cells = take<qint32>(m_buffer.constData() + m_at);
    m_at += sizeof(qint32);
    if (cells < 0 || cells > size) {
        m_failed = true;
        return false;
    }
    m_cells.resize(size_t(cells));
    for (QString &cell : m_cells) {
        if (!text(cell)) {
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
