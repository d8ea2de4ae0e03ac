#include "TransferText.h"

#include <QFile>
#include <QStringDecoder>

#include <cerrno>
#include <iconv.h>

namespace zq::transfer {

namespace {
constexpr qint64 kChunk = 256 * 1024;
}

TextLineWriter::TextLineWriter(const QString &path)
    : m_file(path)
{}

bool TextLineWriter::open()
{
    return m_file.open(QIODevice::WriteOnly);
}

bool TextLineWriter::writeLine(const QString &line)
{
    m_buffer += line.toUtf8();
    m_buffer += "\r\n";
    if (m_buffer.size() < kChunk)
        return true;
    const bool ok = m_file.write(m_buffer) == m_buffer.size();
    m_buffer.clear();
    return ok;
}

bool TextLineWriter::commit()
{
    if (!m_buffer.isEmpty() && m_file.write(m_buffer) != m_buffer.size()) {
        m_file.cancelWriting();
        m_file.commit();
        return false;
    }
    m_buffer.clear();
    return m_file.commit();
}

struct TextLineReader::Big5
{
    iconv_t cd = iconv_t(-1);
    ~Big5()
    {
        if (cd != iconv_t(-1))
            iconv_close(cd);
    }
};

TextLineReader::TextLineReader(const QString &path)
    : m_path(path)
{}

TextLineReader::~TextLineReader() = default;

bool TextLineReader::open()
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return false;
    }
    m_size = file.size();
    file.close();
    return detectEncoding();
}

bool TextLineReader::detectEncoding()
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return false;
    }
    QStringDecoder utf8(QStringConverter::Utf8);
    bool valid = true;
    while (valid) {
        const QByteArray chunk = file.read(kChunk);
        if (chunk.isEmpty())
            break;
        (void)QString(utf8.decode(chunk));
        valid = !utf8.hasError();
    }
    if (file.error() != QFileDevice::NoError) {
        m_error = file.errorString();
        return false;
    }
    // A multi-byte sequence cut off by the end of the file is not valid either.
    if (valid)
        valid = QString(utf8.decode(QByteArray())).isEmpty() && !utf8.hasError();
    m_encoding = valid ? Encoding::Utf8 : Encoding::Big5;
    if (m_encoding == Encoding::Big5) {
        m_big5 = std::make_unique<Big5>();
        m_big5->cd = iconv_open("UTF-8", "CP950");
        if (m_big5->cd == iconv_t(-1))
            m_big5->cd = iconv_open("UTF-8", "BIG5");
        if (m_big5->cd == iconv_t(-1)) {
            m_error = QStringLiteral("Big5 decoding is not available");
            return false;
        }
    }
    return true;
}

bool TextLineReader::decode(const QByteArray &bytes, QString &text)
{
    if (m_encoding == Encoding::Utf8) {
        text = QString::fromUtf8(bytes);
        return true;
    }
    iconv(m_big5->cd, nullptr, nullptr, nullptr, nullptr);
    QByteArray out(bytes.size() * 2 + 4, Qt::Uninitialized);
    char *in = const_cast<char *>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    char *to = out.data();
    size_t outLeft = size_t(out.size());
    if (iconv(m_big5->cd, &in, &inLeft, &to, &outLeft) == size_t(-1) || inLeft != 0)
        return false;
    out.truncate(out.size() - qsizetype(outLeft));
    text = QString::fromUtf8(out);
    return true;
}

bool TextLineReader::forEachLine(const std::function<bool(const QString &)> &line)
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return false;
    }
    m_position = 0;
    QByteArray pending;
    bool overlong = false;
    bool afterCr = false;
    bool first = true;
    m_line = 0;
    const auto skip = [&] {
        ++m_skipped;
        if (m_onSkip)
            m_onSkip(m_line);
    };
    const auto deliver = [&]() -> bool {
        ++m_line;
        if (overlong) {
            skip();
            overlong = false;
            pending.clear();
            return true;
        }
        if (first && m_encoding == Encoding::Utf8 && pending.startsWith("\xEF\xBB\xBF"))
            pending.remove(0, 3);
        first = false;
        QString text;
        const bool ok = decode(pending, text);
        pending.clear();
        if (!ok) {
            skip();
            return true;
        }
        return line(text);
    };
    for (;;) {
        const QByteArray chunk = file.read(kChunk);
        if (chunk.isEmpty())
            break;
        qsizetype from = 0;
        for (qsizetype i = 0; i < chunk.size(); ++i) {
            const char c = chunk.at(i);
            if (c != '\r' && c != '\n')
                continue;
            // The line feed of a CR LF pair ends no second line.
            if (c == '\n' && afterCr && i == from && pending.isEmpty() && !overlong) {
                afterCr = false;
                from = i + 1;
                ++m_position;
                continue;
            }
            if (!overlong)
                pending.append(chunk.constData() + from, i - from);
            if (pending.size() > MaxLineBytes)
                overlong = true;
            m_position += i + 1 - from;
            from = i + 1;
            afterCr = c == '\r';
            if (!deliver())
                return true;
        }
        if (from < chunk.size()) {
            afterCr = false;
            if (!overlong) {
                pending.append(chunk.constData() + from, chunk.size() - from);
                if (pending.size() > MaxLineBytes) {
                    overlong = true;
                    pending.clear();
                }
            }
            m_position += chunk.size() - from;
        }
    }
    if (file.error() != QFileDevice::NoError) {
        m_error = file.errorString();
        return false;
    }
    if (!pending.isEmpty() || overlong)
        deliver();
    return true;
}

} // namespace zq::transfer
