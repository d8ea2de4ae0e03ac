#include "TransferText.h"

#include <QFile>
#include <QFileInfo>
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
    // Holder files carry PINs: a new one is its owner's alone, a replaced one keeps its mode.
    const bool replaces = QFileInfo::exists(m_file.fileName());
    if (!m_file.open(QIODevice::WriteOnly))
        return false;
    if (!replaces)
        m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

bool TextLineWriter::writeLine(const QString &line)
{
    return writeUtf8Line(line.toUtf8());
}

bool TextLineWriter::writeUtf8Line(QByteArrayView line)
{
    m_buffer += line;
    m_buffer += "\r\n";
    if (m_buffer.size() < kChunk)
        return true;
    const bool ok = m_file.write(m_buffer) == m_buffer.size();
    m_buffer.resize(0); // keeps its room for the next chunk
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

struct TextLineReader::Decoders
{
    iconv_t big5 = iconv_t(-1);
    QStringDecoder utf8{QStringConverter::Utf8};
    // A UTF-16 file is turned into UTF-8 as it is read, so that records are found in one
    // byte encoding whatever the file's.
    QStringDecoder utf16;
    QChar highSurrogate; // the first half of a pair that the next piece may complete
    ~Decoders()
    {
        if (big5 != iconv_t(-1))
            iconv_close(big5);
    }
};

TextLineReader::TextLineReader(const QString &path, QChar separator)
    : m_path(path)
    , m_separator(separator.unicode() < 0x80 ? char(separator.unicode()) : ',')
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

namespace {
// How much of a file's start tells text from other data.
constexpr qint64 kBinaryProbe = 8192;

// Text without a byte-order mark holds no NUL and few control bytes: a start with a NUL
// among many of them is a picture's, an archive's or another program's data, whatever its
// lines would decode to. (A stray NUL in text refuses its own line.)
bool looksBinary(const QByteArray &head)
{
    if (!head.contains('\0'))
        return false;
    qsizetype controls = 0;
    for (const char c : head) {
        const auto b = uchar(c);
        if ((b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\f') || b == 0x7F)
            ++controls;
    }
    return controls * 10 > head.size();
}
} // namespace

bool TextLineReader::detectEncoding()
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return false;
    }
    m_decoders = std::make_unique<Decoders>();
    const QByteArray head = file.peek(3);
    if (head.startsWith("\xEF\xBB\xBF")) {
        m_encoding = Encoding::Utf8;
        m_bomSize = 3;
        return true;
    }
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")) {
        const bool little = head.startsWith("\xFF\xFE");
        m_encoding = little ? Encoding::Utf16LE : Encoding::Utf16BE;
        m_bomSize = 2;
        m_decoders->utf16 = QStringDecoder(little ? QStringConverter::Utf16LE
                                                  : QStringConverter::Utf16BE);
        return true;
    }
    m_bomSize = 0;
    m_binary = looksBinary(file.peek(kBinaryProbe));
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
        m_decoders->big5 = iconv_open("UTF-8", "CP950");
        if (m_decoders->big5 == iconv_t(-1))
            m_decoders->big5 = iconv_open("UTF-8", "BIG5");
        if (m_decoders->big5 == iconv_t(-1)) {
            m_error = QStringLiteral("Big5 decoding is not available");
            return false;
        }
    }
    return true;
}

bool TextLineReader::decode(const QByteArray &bytes, QString &text)
{
    switch (m_encoding) {
    case Encoding::Utf8:
        if (m_bomSize == 0) {
            // The whole file was found valid.
            text = QString::fromUtf8(bytes);
            return true;
        }
        m_decoders->utf8.resetState();
        text = m_decoders->utf8.decode(bytes);
        return !m_decoders->utf8.hasError();
    case Encoding::Utf16LE:
    case Encoding::Utf16BE:
        // What did not decode came through as replacement characters.
        text = QString::fromUtf8(bytes);
        return !text.contains(QChar::ReplacementCharacter);
    case Encoding::Big5:
        break;
    }
    iconv(m_decoders->big5, nullptr, nullptr, nullptr, nullptr);
    QByteArray out(bytes.size() * 2 + 4, Qt::Uninitialized);
    char *in = const_cast<char *>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    char *to = out.data();
    size_t outLeft = size_t(out.size());
    if (iconv(m_decoders->big5, &in, &inLeft, &to, &outLeft) == size_t(-1) || inLeft != 0)
        return false;
    out.truncate(out.size() - qsizetype(outLeft));
    text = QString::fromUtf8(out);
    return true;
}

namespace {

// Where the scan of a record stands; see splitFields for the rule it follows.
enum class Scan {
    Lead,       // before the first field: blanks and control characters are stripped
    FieldStart, // after a separator
    Literal,    // inside a field read literally
    Quoted,     // inside a field that opened with a quote
    Quote,      // on a quote inside a quoted field: closing or the first of a pair
    QuoteBlank, // blanks after a closing quote, which only the line end may follow
};

// UTF-8 of decoded UTF-16 text; a surrogate without its other half becomes a replacement
// character, which makes its record undecodable, as a broken sequence does in UTF-8.
QByteArray utf8Of(const QString &text, QChar &pendingHigh)
{
    QString clean;
    clean.reserve(text.size() + 1);
    if (!pendingHigh.isNull())
        clean += pendingHigh;
    pendingHigh = QChar();
    for (const QChar c : text)
        clean += c;
    QString out;
    out.reserve(clean.size());
    for (qsizetype i = 0; i < clean.size(); ++i) {
        const QChar c = clean.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 == clean.size()) {
                pendingHigh = c;
                break;
            }
            if (clean.at(i + 1).isLowSurrogate()) {
                out += c;
                out += clean.at(++i);
                continue;
            }
            out += QChar::ReplacementCharacter;
        } else if (c.isLowSurrogate()) {
            out += QChar::ReplacementCharacter;
        } else {
            out += c;
        }
    }
    return out.toUtf8();
}

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

bool isLeadBlank(char c, char separator)
{
    return uchar(c) <= 0x20 && c != separator && !isLineEnd(c);
}

} // namespace

// One reading of the file, record by record; see splitFields for the rule it follows.
struct TextLineReader::Scanner
{
    Scanner(TextLineReader &reader, QFile &file, const std::function<bool(const QString &)> &line)
        : r(reader)
        , file(file)
        , line(line)
        , utf16(reader.m_encoding == Encoding::Utf16LE || reader.m_encoding == Encoding::Utf16BE)
        , sep(reader.m_separator)
    {}

    TextLineReader &r;
    QFile &file;
    const std::function<bool(const QString &)> &line;
    const bool utf16;
    const char sep;
    QByteArray buf;
    qsizetype start = 0;       // where the current record begins in buf
    qsizetype i = 0;           // the next byte to scan
    qsizetype firstBreak = -1; // the first line end inside a quoted field of the record
    Scan state = Scan::Lead;
    bool afterCr = false;
    bool skipping = false; // inside an overlong line, up to its end
    bool eof = false;
    bool stop = false;
    bool failed = false;
    qint64 nextLine = 1; // the line the record at `start` begins on

    void skip()
    {
        ++r.m_skipped;
        if (r.m_onSkip)
            r.m_onSkip(r.m_line);
    }

    // Delivers buf[start, end) and begins the next record after the line end at `end`.
    void deliver(qsizetype end)
    {
        r.m_position = utf16 ? file.pos() : file.pos() - (buf.size() - end);
        r.m_line = nextLine++;
        if (firstBreak >= 0) {
            // Line ends inside quotes: CR, LF or the pair of them each end a line too.
            for (qsizetype k = firstBreak; k < end; ++k)
                if (buf.at(k) == '\n'
                    || (buf.at(k) == '\r' && (k + 1 >= end || buf.at(k + 1) != '\n')))
                    ++nextLine;
        }
        if (end - start > MaxLineBytes) {
            skip();
        } else {
            QString text;
            if (r.decode(buf.mid(start, end - start), text))
                stop = !line(text);
            else
                skip();
        }
        afterCr = end < buf.size() && buf.at(end) == '\r';
        start = i = qMin(end + 1, buf.size());
        firstBreak = -1;
        state = Scan::Lead;
    }

    // A quote that opened a field never closed as it must: its line is read as it stands.
    void literalLine() { deliver(firstBreak); }

    // At the end of what was read: the last record at the end of the file, else more of the
    // file (a record too long for any holder skipped on the way). False once it is done.
    bool more()
    {
        if (eof) {
            if (skipping)
                return false;
            if (state == Scan::Quoted && firstBreak >= 0) {
                literalLine();
                return true;
            }
            if (start < buf.size())
                deliver(buf.size());
            return false;
        }
        if (start > 0) {
            buf.remove(0, start);
            i -= start;
            if (firstBreak >= 0)
                firstBreak -= start;
            start = 0;
        }
        if (!skipping && buf.size() > MaxLineBytes) {
            if (firstBreak >= 0) {
                literalLine();
                return true;
            }
            r.m_line = nextLine++;
            skip();
            skipping = true;
            buf.clear();
            i = 0;
        }
        if (skipping) {
            buf.clear();
            i = 0;
        }
        return read();
    }

    bool read()
    {
        const QByteArray chunk = file.read(kChunk);
        if (file.error() != QFileDevice::NoError) {
            r.m_error = file.errorString();
            failed = true;
            return false;
        }
        if (chunk.isEmpty())
            eof = true;
        else if (utf16)
            buf += utf8Of(r.m_decoders->utf16.decode(chunk), r.m_decoders->highSurrogate);
        else
            buf += chunk;
        if (eof && utf16) {
            buf += utf8Of(r.m_decoders->utf16.decode(QByteArray()), r.m_decoders->highSurrogate);
            if (!r.m_decoders->highSurrogate.isNull())
                buf += QString(QChar::ReplacementCharacter).toUtf8();
        }
        return true;
    }

    // One step over the byte at `i`.
    void scan()
    {
        const char c = buf.at(i);
        if (skipping) {
            if (isLineEnd(c)) {
                skipping = false;
                afterCr = c == '\r';
                start = i + 1;
                state = Scan::Lead;
            }
            ++i;
            return;
        }
        if (afterCr) {
            afterCr = false;
            // The line feed of a CR LF pair ends no second line.
            if (c == '\n' && i == start) {
                start = ++i;
                return;
            }
        }
        switch (state) {
        case Scan::Lead:
        case Scan::FieldStart:
            if (isLineEnd(c)) {
                deliver(i);
                break;
            }
            if (c == sep)
                state = Scan::FieldStart;
            else if (c == '"')
                state = Scan::Quoted;
            else if (state != Scan::Lead || !isLeadBlank(c, sep))
                state = Scan::Literal;
            ++i;
            break;
        case Scan::Literal:
            literal();
            break;
        case Scan::Quoted:
            if (c == '"')
                state = Scan::Quote;
            else if (isLineEnd(c) && firstBreak < 0)
                firstBreak = i;
            ++i;
            break;
        case Scan::Quote:
        case Scan::QuoteBlank:
            afterQuote(c);
            break;
        }
    }

    // Most bytes are here: run to the next byte that matters.
    void literal()
    {
        const char *p = buf.constData() + i;
        const char *end = buf.constData() + buf.size();
        while (p < end && *p != sep && !isLineEnd(*p))
            ++p;
        i = p - buf.constData();
        if (i >= buf.size())
            return;
        if (isLineEnd(*p)) {
            deliver(i);
        } else {
            state = Scan::FieldStart;
            ++i;
        }
    }

    void afterQuote(char c)
    {
        if (isLineEnd(c)) {
            deliver(i);
        } else if (state == Scan::Quote && (c == '"' || c == sep)) {
            state = c == '"' ? Scan::Quoted : Scan::FieldStart;
            ++i;
        } else if (isLeadBlank(c, sep)) {
            state = Scan::QuoteBlank;
            ++i;
        } else if (firstBreak >= 0) {
            literalLine();
        } else {
            state = Scan::Literal;
        }
    }
};

bool TextLineReader::forEachLine(const std::function<bool(const QString &)> &line)
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return false;
    }
    if (!m_decoders && !detectEncoding())
        return false;
    if (m_encoding == Encoding::Utf16LE || m_encoding == Encoding::Utf16BE) {
        m_decoders->utf16.resetState();
        m_decoders->highSurrogate = QChar();
    }
    if (m_bomSize > 0 && file.read(m_bomSize).size() != m_bomSize)
        return true;
    m_position = m_bomSize;
    m_line = 0;
    Scanner scanner(*this, file, line);
    while (!scanner.stop) {
        if (scanner.i < scanner.buf.size())
            scanner.scan();
        else if (!scanner.more())
            break;
    }
    if (scanner.failed)
        return false;
    m_position = scanner.stop ? m_position : m_size;
    return true;
}

} // namespace zq::transfer
