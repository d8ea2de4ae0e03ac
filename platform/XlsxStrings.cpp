#include "XlsxStrings.h"

namespace zq::platform::xlsx {

QString tooLong()
{
    return QStringLiteral("a text of more than %L1 characters, more than a cell holds")
        .arg(kCellChars);
}

qsizetype utf16Length(QByteArrayView text)
{
    qsizetype n = 0;
    for (const char c : text) {
        const auto b = uchar(c);
        n += (b & 0xC0) != 0x80;
        n += b >= 0xF0;
    }
    return n;
}

} // namespace zq::platform::xlsx
