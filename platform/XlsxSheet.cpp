// The first worksheet of an Office Open XML workbook, read with minizip and a streaming XML
// reader so that only the shared strings and one row are held in memory.
//
// A workbook is a file a user hands in, so every size is bounded before it is spent: each
// part by its unpacked size and its compression ratio, each XML token by the bytes it may
// take, each cell by its characters, the shared strings by the memory they fill, rows and
// columns by the largest sheet there is. A part with a document type declaration is
// refused outright, so no entity is ever expanded or fetched.
#include "WorkbookSheet.h"

#include <QFile>
#include <QHash>
#include <QList>
#include <QLocale>
#include <QXmlStreamReader>

#include <vector>

#include <unzip.h>

namespace zq::platform {

namespace {

// Unpacked sizes read at most per part: far above any real holder list (100,000 holders
// make a sheet of about 80 MB), far below what a crafted archive could unpack to.
constexpr qint64 kSmallPartLimit = 8LL << 20;
constexpr qint64 kSharedStringsLimit = 128LL << 20;
constexpr qint64 kSheetLimit = 512LL << 20;
// Sheets compress about ten to one; a part that claims a thousand to one is a zip bomb.
constexpr qint64 kRatioCheckFrom = 16LL << 20;
constexpr qint64 kMaxRatio = 200;
// Bytes the XML reader may take in without giving a token: a cell of kCellChars characters,
// each written as a character reference, stays far below.
constexpr qint64 kTokenLimit = 1LL << 20;
// What the shared strings may fill: characters (two bytes each) and one offset per string,
// and how many there may be (100,000 holders of thirteen different texts make 1.3 million).
constexpr qint64 kSharedStringsMemory = 64LL << 20;
constexpr size_t kSharedStringsCount = 4u << 20;
constexpr int kChunk = 64 * 1024;
// Characters of one cell before its escapes are undone ("_x000D_" stands for one).
constexpr qsizetype kRawCellChars = qsizetype(kCellChars) * 7 + 7;

const QString kRelNs = QStringLiteral(
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships");

QString columnName(int column)
{
    QString name;
    for (int c = column + 1; c > 0; c = (c - 1) / 26)
        name.prepend(QChar(u'A' + (c - 1) % 26));
    return name;
}

// One part of the archive as a stream of XML tokens.
class XmlPart
{
public:
    XmlPart(unzFile zip, qint64 limit)
        : m_zip(zip)
        , m_limit(limit)
    {}
    ~XmlPart() { closePart(); }

    /// False with `error` set when the part is missing, cannot be unpacked or would unpack
    /// beyond its bounds; `missing` tells the first case apart.
    bool open(const QString &name, QString &error, bool *missing = nullptr)
    {
        closePart();
        m_xml.clear();
        m_read = 0;
        m_fed = 0;
        m_end = false;
        m_done = false;
        m_error.clear();
        m_name = name;
        if (missing)
            *missing = false;
        const QByteArray n = name.toUtf8();
        if (unzLocateFile(m_zip, n.constData(), 2) != UNZ_OK) {
            if (missing)
                *missing = true;
            error = QStringLiteral("the workbook has no part %1").arg(name);
            return false;
        }
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(m_zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
            error = QStringLiteral("the part %1 cannot be unpacked").arg(name);
            return false;
        }
        // The archive's directory gives the unpacked size, and the unpacking stops there:
        // a part can be judged before any of it is unpacked.
        const qint64 size = qint64(info.uncompressed_size);
        if (size > m_limit || size < 0) {
            error = QStringLiteral("the part %1 unpacks to %2 MB, more than the %3 MB a "
                                   "workbook part may have")
                        .arg(name)
                        .arg(size >> 20)
                        .arg(m_limit >> 20);
            return false;
        }
        if (size >= kRatioCheckFrom && info.compression_method != 0
            && size / qMax<qint64>(1, qint64(info.compressed_size)) > kMaxRatio) {
            error = QStringLiteral("the part %1 unpacks from %2 KB to %3 MB: no workbook "
                                   "compresses that much (a zip bomb)")
                        .arg(name)
                        .arg(qint64(info.compressed_size) >> 10)
                        .arg(size >> 20);
            return false;
        }
        m_size = size;
        if (unzOpenCurrentFile(m_zip) != UNZ_OK) {
            error = QStringLiteral("the part %1 cannot be unpacked").arg(name);
            return false;
        }
        m_open = true;
        return true;
    }

    /// The next token; Invalid at a damaged, oversized, truncated or refused part
    /// (`failed()`), or after the end of the document.
    QXmlStreamReader::TokenType next()
    {
        if (m_done)
            return QXmlStreamReader::Invalid;
        for (;;) {
            const QXmlStreamReader::TokenType t = m_xml.readNext();
            if (t == QXmlStreamReader::DTD) {
                m_error = QStringLiteral("%1 holds a document type declaration, which no "
                                         "workbook has; it is not read")
                              .arg(m_name);
                return QXmlStreamReader::Invalid;
            }
            if (t != QXmlStreamReader::Invalid) {
                m_fed = 0;
                m_done = t == QXmlStreamReader::EndDocument;
                return t;
            }
            if (m_xml.error() != QXmlStreamReader::PrematureEndOfDocumentError || m_end
                || !m_error.isEmpty())
                return t;
            feed();
        }
    }

    bool failed() const
    {
        return !m_error.isEmpty()
               || (m_xml.hasError() && m_xml.error() != QXmlStreamReader::NoError);
    }
    QString errorText() const
    {
        if (!m_error.isEmpty())
            return m_error;
        if (m_xml.error() == QXmlStreamReader::PrematureEndOfDocumentError)
            return QStringLiteral("%1 ends in the middle").arg(m_name);
        return QStringLiteral("%1: %2 (line %3)")
            .arg(m_name, m_xml.errorString())
            .arg(m_xml.lineNumber());
    }
    /// Marks the part as failed with a reason of the caller's.
    void fail(const QString &reason) { m_error = QStringLiteral("%1: %2").arg(m_name, reason); }

    QXmlStreamReader &xml() { return m_xml; }
    int progress() const
    {
        return m_size > 0 ? int(qMin<qint64>(1000, m_read * 1000 / m_size)) : 0;
    }

    /// The text of the current element (the reader on its start), its children's included,
    /// its escapes undone; left out are phonetic runs, whose text is not the cell's. False
    /// (and the part failed) at a text longer than a cell holds.
    bool elementText(QString &text)
    {
        text.clear();
        int depth = 1;
        int skip = 0;
        while (depth > 0) {
            const auto t = next();
            if (t == QXmlStreamReader::Invalid)
                return false;
            if (t == QXmlStreamReader::StartElement) {
                ++depth;
                if (skip > 0 || m_xml.name() == QLatin1String("rPh"))
                    ++skip;
            } else if (t == QXmlStreamReader::EndElement) {
                --depth;
                if (skip > 0)
                    --skip;
            } else if (t == QXmlStreamReader::Characters && skip == 0) {
                if (text.size() + m_xml.text().size() > kRawCellChars) {
                    fail(tooLong());
                    return false;
                }
                text += m_xml.text();
            }
        }
        if (text.contains(QLatin1String("_x")))
            text = unescapedText(text);
        if (text.size() > kCellChars) {
            fail(tooLong());
            return false;
        }
        return true;
    }

private:
    static QString tooLong()
    {
        return QStringLiteral("a text of more than %L1 characters, more than a cell holds")
            .arg(kCellChars);
    }

    void feed()
    {
        if (m_fed > kTokenLimit) {
            m_error = QStringLiteral("%1 holds an element or text of more than %2 MB")
                          .arg(m_name)
                          .arg(kTokenLimit >> 20);
            return;
        }
        QByteArray chunk(kChunk, Qt::Uninitialized);
        const int n = unzReadCurrentFile(m_zip, chunk.data(), unsigned(chunk.size()));
        if (n < 0) {
            m_error = QStringLiteral("%1 is damaged (unpack error %2)").arg(m_name).arg(n);
            return;
        }
        if (n == 0) {
            m_end = true;
            m_open = false;
            if (unzCloseCurrentFile(m_zip) == UNZ_CRCERROR)
                m_error = QStringLiteral("%1 is damaged (its checksum does not match)").arg(m_name);
            return;
        }
        m_read += n;
        m_fed += n;
        if (m_read > m_limit) {
            m_error = QStringLiteral("%1 unpacks to more than %2 MB")
                          .arg(m_name)
                          .arg(m_limit >> 20);
            return;
        }
        chunk.truncate(n);
        m_xml.addData(chunk);
    }

    void closePart()
    {
        if (m_open)
            unzCloseCurrentFile(m_zip);
        m_open = false;
    }

    unzFile m_zip;
    qint64 m_limit;
    QXmlStreamReader m_xml;
    QString m_name;
    QString m_error;
    qint64 m_size = 0;
    qint64 m_read = 0;
    qint64 m_fed = 0;    // since the last token
    bool m_end = false;  // of the unpacked bytes
    bool m_done = false; // past the end of the document
    bool m_open = false;
};

enum class Ref { Ok, Malformed, Beyond };

// "BC12" -> column 54, row 11 (0-based). A reference without its row part ("BC") leaves
// `row` at -1.
Ref parseReference(QStringView ref, int &row, int &column)
{
    row = -1;
    column = -1;
    qsizetype i = 0;
    int c = 0;
    while (i < ref.size() && i < 4) {
        const char16_t ch = ref.at(i).unicode();
        if (ch >= u'a' && ch <= u'z')
            c = c * 26 + (ch - u'a' + 1);
        else if (ch >= u'A' && ch <= u'Z')
            c = c * 26 + (ch - u'A' + 1);
        else
            break;
        ++i;
    }
    if (i == 0)
        return Ref::Malformed;
    if (i == 4 || c > kSheetColumns)
        return Ref::Beyond;
    column = c - 1;
    const QStringView digits = ref.mid(i);
    if (digits.isEmpty())
        return Ref::Ok;
    qint64 r = 0;
    for (const QChar d : digits) {
        if (d < u'0' || d > u'9')
            return Ref::Malformed;
        r = r * 10 + (d.unicode() - u'0');
        if (r > kSheetRows)
            return Ref::Beyond;
    }
    if (r == 0)
        return Ref::Malformed;
    row = int(r - 1);
    return Ref::Ok;
}

bool isDateFormatCode(QString code)
{
    // Quoted literals, escaped characters and [colour]/[locale] sections are not parts of
    // the date.
    QString bare;
    bool quoted = false;
    int bracket = 0;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar ch = code.at(i);
        if (quoted) {
            quoted = ch != QLatin1Char('"');
        } else if (ch == QLatin1Char('"')) {
            quoted = true;
        } else if (ch == QLatin1Char('\\')) {
            ++i;
        } else if (ch == QLatin1Char('[')) {
            ++bracket;
        } else if (ch == QLatin1Char(']')) {
            bracket = qMax(0, bracket - 1);
        } else if (bracket == 0) {
            bare += ch.toLower();
        }
    }
    return bare.contains(QLatin1Char('y')) || bare.contains(QLatin1Char('d'))
           || bare.contains(QLatin1Char('h')) || bare.contains(QLatin1Char('s'))
           || (bare.contains(QLatin1Char('m')) && !bare.contains(QLatin1Char('0'))
               && !bare.contains(QLatin1Char('#')));
}

enum class Style : quint8 { Plain, Date, Time };

Style builtInStyle(int id)
{
    if ((id >= 14 && id <= 17) || id == 22 || (id >= 27 && id <= 36) || (id >= 50 && id <= 58))
        return Style::Date;
    if ((id >= 18 && id <= 21) || (id >= 45 && id <= 47))
        return Style::Time;
    return Style::Plain;
}

// The shared strings in one block of characters: a table of a million short strings costs
// their characters and an offset each, not an object each.
class StringTable
{
public:
    bool append(const QString &text)
    {
        if (memory() + text.size() * 2 + qint64(sizeof(quint32)) > kSharedStringsMemory)
            return false;
        m_text += text;
        m_ends.push_back(quint32(m_text.size()));
        return true;
    }
    QString at(qsizetype i) const
    {
        if (i < 0 || i >= qsizetype(m_ends.size()))
            return QString();
        const qsizetype start = i == 0 ? 0 : qsizetype(m_ends[size_t(i - 1)]);
        return m_text.mid(start, qsizetype(m_ends[size_t(i)]) - start);
    }
    size_t size() const { return m_ends.size(); }
    void squeeze() { m_text.squeeze(); }

private:
    qint64 memory() const
    {
        return qint64(m_text.size()) * 2 + qint64(m_ends.size() * sizeof(quint32));
    }
    QString m_text;
    std::vector<quint32> m_ends; // the budget keeps the characters below 2^32
};

class XlsxSheet : public WorkbookReader::Sheet
{
public:
    ~XlsxSheet() override
    {
        m_part.reset();
        if (m_zip)
            unzClose(m_zip);
    }

    bool open(const QString &path, QString &error) override
    {
        m_zip = unzOpen64(QFile::encodeName(path).constData());
        if (!m_zip) {
            error = QStringLiteral("the workbook cannot be opened (damaged or not a workbook)");
            return false;
        }
        if (!readWorkbook(error) || !readStyles(error) || !readSharedStrings(error))
            return false;
        m_part = std::make_unique<XmlPart>(m_zip, kSheetLimit);
        return rewind(error);
    }

    bool rewind(QString &error) override
    {
        m_lastRow = -1;
        m_ended = false;
        if (!m_part->open(m_sheetPart, error))
            return false;
        while (m_part->next() != QXmlStreamReader::Invalid) {
            if (m_part->xml().isStartElement()
                && m_part->xml().name() == QLatin1String("sheetData"))
                return true;
        }
        if (m_part->failed()) {
            error = m_part->errorText();
            return false;
        }
        m_ended = true; // a sheet without cells
        return true;
    }

    int progress() const override { return m_ended ? 1000 : m_part->progress(); }

    bool nextRow(int &row, QStringList &cells, QString &error) override
    {
        while (!m_ended) {
            const auto t = m_part->next();
            if (t == QXmlStreamReader::Invalid)
                break;
            if (t == QXmlStreamReader::EndElement
                && m_part->xml().name() == QLatin1String("sheetData")) {
                m_ended = true;
                return false;
            }
            if (t != QXmlStreamReader::StartElement || m_part->xml().name() != QLatin1String("row"))
                continue;
            if (!startRow(error) || !readRowCells(cells, error))
                return false;
            if (!cells.isEmpty()) {
                row = m_lastRow;
                return true;
            }
        }
        if (m_ended)
            return false;
        m_ended = true;
        error = m_part->failed() ? m_part->errorText()
                                 : QStringLiteral("the worksheet ends in the middle");
        return false;
    }

private:
    // The workbook part: the first sheet's part name, the shared strings and styles parts,
    // and the day that date serials count from.
    bool readWorkbook(QString &error)
    {
        QString firstSheetId;
        {
            XmlPart part(m_zip, kSmallPartLimit);
            if (!part.open(QStringLiteral("xl/workbook.xml"), error))
                return false;
            while (part.next() != QXmlStreamReader::Invalid) {
                if (!part.xml().isStartElement())
                    continue;
                const auto name = part.xml().name();
                const auto attrs = part.xml().attributes();
                if (name == QLatin1String("workbookPr")) {
                    const auto v = attrs.value(QLatin1String("date1904"));
                    if (v == QLatin1String("1") || v == QLatin1String("true"))
                        m_base = QDate(1904, 1, 1);
                } else if (name == QLatin1String("sheet") && firstSheetId.isEmpty()) {
                    firstSheetId = attrs.value(kRelNs, QLatin1String("id")).toString();
                    if (firstSheetId.isEmpty())
                        firstSheetId = QStringLiteral("?");
                }
            }
            if (part.failed()) {
                error = part.errorText();
                return false;
            }
            if (firstSheetId.isEmpty()) {
                error = QStringLiteral("the workbook has no worksheet");
                return false;
            }
        }
        m_sheetPart = QStringLiteral("xl/worksheets/sheet1.xml");
        m_stringsPart = QStringLiteral("xl/sharedStrings.xml");
        m_stylesPart = QStringLiteral("xl/styles.xml");
        XmlPart rels(m_zip, kSmallPartLimit);
        bool missing = false;
        if (!rels.open(QStringLiteral("xl/_rels/workbook.xml.rels"), error, &missing)) {
            if (!missing)
                return false;
            error.clear();
            return true;
        }
        while (rels.next() != QXmlStreamReader::Invalid) {
            if (!rels.xml().isStartElement() || rels.xml().name() != QLatin1String("Relationship"))
                continue;
            const auto attrs = rels.xml().attributes();
            QString target = attrs.value(QLatin1String("Target")).toString();
            target = target.startsWith(QLatin1Char('/')) ? target.mid(1)
                                                         : QStringLiteral("xl/") + target;
            const auto type = attrs.value(QLatin1String("Type"));
            if (attrs.value(QLatin1String("Id")) == firstSheetId)
                m_sheetPart = target;
            else if (type.endsWith(QLatin1String("/sharedStrings")))
                m_stringsPart = target;
            else if (type.endsWith(QLatin1String("/styles")))
                m_stylesPart = target;
        }
        if (rels.failed()) {
            error = rels.errorText();
            return false;
        }
        return true;
    }

    bool readStyles(QString &error)
    {
        XmlPart part(m_zip, kSmallPartLimit);
        bool missing = false;
        if (!part.open(m_stylesPart, error, &missing)) {
            if (!missing)
                return false;
            error.clear();
            return true; // no styles: every number is plain
        }
        QHash<int, Style> custom;
        bool inCellXfs = false;
        for (;;) {
            const auto t = part.next();
            if (t == QXmlStreamReader::Invalid)
                break;
            const auto name = part.xml().name();
            if (t == QXmlStreamReader::EndElement && name == QLatin1String("cellXfs"))
                inCellXfs = false;
            if (t != QXmlStreamReader::StartElement)
                continue;
            const auto attrs = part.xml().attributes();
            if (name == QLatin1String("numFmt")) {
                const int id = attrs.value(QLatin1String("numFmtId")).toInt();
                const QString code = attrs.value(QLatin1String("formatCode")).toString();
                if (isDateFormatCode(code)) {
                    const QString lower = code.toLower();
                    const bool timeOnly = !lower.contains(QLatin1Char('y'))
                                          && !lower.contains(QLatin1Char('d'));
                    custom.insert(id, timeOnly ? Style::Time : Style::Date);
                } else {
                    custom.insert(id, Style::Plain);
                }
            } else if (name == QLatin1String("cellXfs")) {
                inCellXfs = true;
            } else if (inCellXfs && name == QLatin1String("xf")) {
                const int id = attrs.value(QLatin1String("numFmtId")).toInt();
                m_styles << custom.value(id, builtInStyle(id));
            }
        }
        if (part.failed()) {
            error = part.errorText();
            return false;
        }
        return true;
    }

    bool readSharedStrings(QString &error)
    {
        XmlPart part(m_zip, kSharedStringsLimit);
        bool missing = false;
        if (!part.open(m_stringsPart, error, &missing)) {
            if (!missing)
                return false;
            error.clear();
            return true; // no shared strings
        }
        QString current;
        QString piece;
        bool inItem = false;
        int skipDepth = 0; // inside phonetic runs, whose text is not the cell's
        for (;;) {
            const auto t = part.next();
            if (t == QXmlStreamReader::Invalid)
                break;
            const auto name = part.xml().name();
            if (t == QXmlStreamReader::StartElement) {
                if (name == QLatin1String("si")) {
                    inItem = true;
                    current.clear();
                } else if (name == QLatin1String("rPh") || skipDepth > 0) {
                    ++skipDepth;
                } else if (inItem && name == QLatin1String("t")) {
                    if (!part.elementText(piece))
                        break;
                    current += piece;
                    if (current.size() > kCellChars) {
                        part.fail(QStringLiteral("a shared string of more than %L1 characters, "
                                                 "more than a cell holds")
                                      .arg(kCellChars));
                        break;
                    }
                }
            } else if (t == QXmlStreamReader::EndElement) {
                if (skipDepth > 0) {
                    --skipDepth;
                } else if (name == QLatin1String("si")) {
                    if (m_strings.size() >= kSharedStringsCount) {
                        part.fail(QStringLiteral("there are more than %L1 shared strings")
                                      .arg(qulonglong(kSharedStringsCount)));
                        break;
                    }
                    if (!m_strings.append(current)) {
                        part.fail(QStringLiteral("the shared strings fill more than %1 MB")
                                      .arg(kSharedStringsMemory >> 20));
                        break;
                    }
                    inItem = false;
                }
            }
        }
        if (part.failed()) {
            error = part.errorText();
            return false;
        }
        m_strings.squeeze();
        return true;
    }

    // The reader on a <row>: its number, checked against the sheet's bounds and order.
    bool startRow(QString &error)
    {
        const auto r = m_part->xml().attributes().value(QLatin1String("r"));
        qint64 number = m_lastRow + 1;
        if (!r.isEmpty()) {
            number = 0;
            for (const QChar d : r) {
                if (d < u'0' || d > u'9')
                    return malformedRow(error, r);
                number = number * 10 + (d.unicode() - u'0');
                if (number > kSheetRows)
                    break;
            }
            if (number == 0)
                return malformedRow(error, r);
            --number;
        }
        if (number >= kSheetRows)
            return fail(error,
                        QStringLiteral("row %1 lies beyond the last row a worksheet has (%L2)")
                            .arg(r.isEmpty() ? QString::number(number + 1) : r.left(20).toString())
                            .arg(kSheetRows));
        if (number <= m_lastRow)
            return fail(error,
                        QStringLiteral("row %1 comes after row %2: the rows are out of order")
                            .arg(number + 1)
                            .arg(m_lastRow + 1));
        m_lastRow = int(number);
        return true;
    }

    bool malformedRow(QString &error, QStringView r)
    {
        return fail(error, QStringLiteral("a row has the malformed number \"%1\"").arg(r.left(20)));
    }

    // Ends the reading; `reason` adds to a part that has not failed by itself.
    bool fail(QString &error, const QString &reason)
    {
        if (!m_part->failed())
            m_part->fail(reason.isEmpty() ? QStringLiteral("the worksheet ends in the middle")
                                          : reason);
        error = m_part->errorText();
        m_ended = true;
        return false;
    }

    // The cells of the row the reader is on, by their own column references, up to its last
    // value; the texts beyond ZZ are never needed and stay empty.
    bool readRowCells(QStringList &cells, QString &error)
    {
        cells.clear();
        int column = -1;
        int depth = 1;
        while (depth > 0) {
            const auto t = m_part->next();
            if (t == QXmlStreamReader::Invalid)
                return fail(error, QString());
            if (t == QXmlStreamReader::EndElement) {
                --depth;
                continue;
            }
            if (t != QXmlStreamReader::StartElement)
                continue;
            if (m_part->xml().name() != QLatin1String("c")) {
                ++depth;
                continue;
            }
            const auto attrs = m_part->xml().attributes();
            const auto r = attrs.value(QLatin1String("r"));
            if (r.isEmpty()) {
                ++column;
            } else {
                int row, c;
                const Ref ref = parseReference(r, row, c);
                if (ref == Ref::Beyond)
                    return fail(error,
                                QStringLiteral("cell %1 lies beyond the last column a "
                                               "worksheet has (%2)")
                                    .arg(r.left(20))
                                    .arg(columnName(kSheetColumns - 1)));
                if (ref == Ref::Malformed)
                    return fail(error,
                                QStringLiteral("a cell has the malformed reference \"%1\"")
                                    .arg(r.left(20)));
                column = c;
            }
            if (column >= kSheetColumns)
                return fail(error,
                            QStringLiteral("row %1 has more cells than the %L2 columns a "
                                           "worksheet has")
                                .arg(m_lastRow + 1)
                                .arg(kSheetColumns));
            const QString type = attrs.value(QLatin1String("t")).toString();
            const int style = attrs.value(QLatin1String("s")).toInt();
            QString value;
            QString inlineText;
            bool hasInline = false;
            int cellDepth = 1;
            while (cellDepth > 0) {
                const auto ct = m_part->next();
                if (ct == QXmlStreamReader::Invalid)
                    return fail(error, QString());
                if (ct == QXmlStreamReader::EndElement) {
                    --cellDepth;
                } else if (ct == QXmlStreamReader::StartElement) {
                    const auto name = m_part->xml().name();
                    if (name == QLatin1String("v")) {
                        if (!m_part->elementText(value))
                            return fail(error, QString());
                    } else if (name == QLatin1String("is")) {
                        hasInline = true;
                        if (!m_part->elementText(inlineText))
                            return fail(error, QString());
                    } else {
                        ++cellDepth;
                    }
                }
            }
            const QString text = cellValue(type, style, value, hasInline, inlineText);
            if (text.isEmpty())
                continue;
            while (cells.size() <= column)
                cells.append(QString());
            if (column < WorkbookReader::MaxColumns)
                cells[column] = text;
        }
        return true;
    }

    QString cellValue(const QString &type,
                      int style,
                      const QString &value,
                      bool hasInline,
                      const QString &inlineText) const
    {
        if (type == QLatin1String("s")) {
            bool ok = false;
            const int i = value.trimmed().toInt(&ok);
            return ok ? m_strings.at(i) : QString();
        }
        if (type == QLatin1String("inlineStr") || hasInline)
            return inlineText;
        if (type == QLatin1String("str") || type == QLatin1String("e"))
            return value;
        if (type == QLatin1String("b"))
            return value.trimmed() == QLatin1String("1") ? QStringLiteral("TRUE")
                                                         : QStringLiteral("FALSE");
        if (type == QLatin1String("d")) {
            const QDate day = QDate::fromString(value.left(10), Qt::ISODate);
            return day.isValid() ? QLocale::c().toString(day, dateFormat) : value;
        }
        if (value.isEmpty())
            return QString();
        bool ok = false;
        const double number = value.trimmed().toDouble(&ok);
        if (!ok)
            return value;
        switch (m_styles.value(style, Style::Plain)) {
        case Style::Date:
            return serialDateText(number, m_base, dateFormat);
        case Style::Time:
            return serialTimeText(number);
        case Style::Plain:
            break;
        }
        return numberText(number);
    }

    unzFile m_zip = nullptr;
    std::unique_ptr<XmlPart> m_part;
    QString m_sheetPart;
    QString m_stringsPart;
    QString m_stylesPart;
    StringTable m_strings;
    QList<Style> m_styles;
    QDate m_base = QDate(1899, 12, 30);
    int m_lastRow = -1;
    bool m_ended = false;
};

} // namespace

std::unique_ptr<WorkbookReader::Sheet> makeXlsxSheet()
{
    return std::make_unique<XlsxSheet>();
}

} // namespace zq::platform
