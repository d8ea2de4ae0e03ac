#include "TextRows.h"

#include "Backend.h"
#include "Connection.h"

#include <cstring>

namespace zq::data {

bool isPlainUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const uchar *end = p + bytes.size();
    while (p < end) {
        // Most values are ASCII: take them eight bytes at a time.
        while (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ULL)
                break;
            p += 8;
        }
        if (p >= end)
            break;
        const uchar c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int length = 0;
        char32_t code = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (end - p < length)
            return false;
        for (int k = 1; k < length; ++k) {
            if ((p[k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[k] & 0x3F);
        }
        // Over-long forms, surrogates, beyond U+10FFFF; and the byte-order mark and U+FFFE,
        // U+FFFF, which SQLite's UTF-16 conversion or Qt's decoder would not keep.
        if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF))
            || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFEFF || code == 0xFFFE
            || code == 0xFFFF)
            return false;
        p += length;
    }
    return true;
}

TextRows::TextRows(Connection *connection)
    : m_connection(connection)
{}

TextRows::~TextRows() = default;

bool TextRows::exec(const QString &sql)
{
    m_cursor.reset();
    m_rows = TextRowBuffer();
    m_unavailable = false;
    if (!m_connection || !m_connection->isConnected()) {
        m_unavailable = true;
        return false;
    }
    m_cursor = m_connection->backend().readText(sql.toUtf8(), m_rows);
    if (!m_cursor) {
        m_rows.cells.clear();
        return false;
    }
    return true;
}

bool TextRows::next()
{
    if (!m_cursor)
        return false;
    const int got = m_cursor->next();
    if (got < 0 && m_rows.error.isEmpty())
        m_rows.fail(QString());
    return got > 0;
}

void TextRows::finish()
{
    if (m_cursor)
        m_cursor->finish();
}

QVariant TextRows::value(int column) const
{
    return m_cursor ? m_cursor->value(column) : QVariant();
}

QString TextRows::columnName(int column) const
{
    return m_cursor && column >= 0 && column < columnCount() ? m_cursor->name(column) : QString();
}

} // namespace zq::data
