// The first worksheet of an Office Open XML workbook, read with minizip and a streaming XML
// reader so that only the shared strings and one row are held in memory.
#include "WorkbookSheet.h"

#include <QFile>
#include <QHash>
#include <QList>
#include <QSet>
#include <QXmlStreamReader>

#include <unzip.h>

namespace zq::platform {

namespace {

// Uncompressed sizes read at most per part: far above any real holder list, far below what
// a crafted archive could unpack to.
constexpr qint64 kSmallPartLimit = 16LL << 20;
constexpr qint64 kSharedStringsLimit = 256LL << 20;
constexpr qint64 kSheetLimit = 1LL << 30;
constexpr int kChunk = 64 * 1024;

const QString kRelNs = QStringLiteral(
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships");

// One part of the archive as a stream of XML tokens.
class XmlPart
{
public:
    XmlPart(unzFile zip, qint64 limit)
        : m_zip(zip)
        , m_limit(limit)
    {}
    ~XmlPart() { closePart(); }

    bool open(const QString &name, QString &error)
    {
        closePart();
        m_xml.clear();
        m_read = 0;
        m_end = false;
        const QByteArray n = name.toUtf8();
        if (unzLocateFile(m_zip, n.constData(), 2) != UNZ_OK) {
            error = QStringLiteral("the workbook has no part %1").arg(name);
            return false;
        }
        if (unzOpenCurrentFile(m_zip) != UNZ_OK) {
            error = QStringLiteral("the part %1 cannot be unpacked").arg(name);
            return false;
        }
        m_open = true;
        m_name = name;
        return true;
    }

    /// The next token; Invalid at a damaged, oversized or truncated part (`failed()`), or
    /// after the end of the document.
    QXmlStreamReader::TokenType next()
    {
        for (;;) {
            const QXmlStreamReader::TokenType t = m_xml.readNext();
            if (t != QXmlStreamReader::Invalid)
                return t;
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
        return QStringLiteral("%1: %2").arg(m_name, m_xml.errorString());
    }

    QXmlStreamReader &xml() { return m_xml; }

    /// The text of the current element (the reader on its start), its children's included.
    QString elementText()
    {
        QString text;
        int depth = 1;
        while (depth > 0) {
            const auto t = next();
            if (t == QXmlStreamReader::Invalid)
                break;
            if (t == QXmlStreamReader::StartElement)
                ++depth;
            else if (t == QXmlStreamReader::EndElement)
                --depth;
            else if (t == QXmlStreamReader::Characters)
                text += m_xml.text();
        }
        return text;
    }

private:
    void feed()
    {
        QByteArray chunk(kChunk, Qt::Uninitialized);
        const int n = unzReadCurrentFile(m_zip, chunk.data(), unsigned(chunk.size()));
        if (n < 0) {
            m_error = QStringLiteral("%1 is damaged (unpack error %2)").arg(m_name).arg(n);
            return;
        }
        if (n == 0) {
            m_end = true;
            return;
        }
        m_read += n;
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
    qint64 m_read = 0;
    bool m_end = false;
    bool m_open = false;
};

// "BC12" -> column 54, row 11 (0-based); -1 for a part that is missing.
void parseReference(QStringView ref, int &row, int &column)
{
    row = -1;
    column = -1;
    qsizetype i = 0;
    int c = 0;
    while (i < ref.size() && ref.at(i).isLetter() && ref.at(i).unicode() < 128 && i < 3) {
        c = c * 26 + (ref.at(i).toUpper().unicode() - 'A' + 1);
        ++i;
    }
    if (i > 0)
        column = c - 1;
    bool ok = false;
    const int r = ref.mid(i).toInt(&ok);
    if (ok && r > 0)
        row = r - 1;
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

enum class Style { Plain, Date, Time };

Style builtInStyle(int id)
{
    if ((id >= 14 && id <= 17) || id == 22 || (id >= 27 && id <= 36) || (id >= 50 && id <= 58))
        return Style::Date;
    if ((id >= 18 && id <= 21) || (id >= 45 && id <= 47))
        return Style::Time;
    return Style::Plain;
}

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
        return findUsedRange(error) && restart(error);
    }

    int firstRow() const override { return m_first.first; }
    int firstColumn() const override { return m_first.second; }
    int lastRow() const override { return m_last.first; }
    int lastColumn() const override { return m_last.second; }

    bool cell(int row, int column, QString &text, QString &error) override
    {
        if (row < m_rowNo && !restart(error))
            return false;
        while (m_rowNo < row) {
            if (!nextRow(error))
                return false;
        }
        text = m_cells.value(column);
        return true;
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
            while (!part.xml().atEnd()) {
                if (part.next() == QXmlStreamReader::Invalid)
                    break;
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
        QString ignored;
        if (!rels.open(QStringLiteral("xl/_rels/workbook.xml.rels"), ignored))
            return true;
        while (!rels.xml().atEnd()) {
            if (rels.next() == QXmlStreamReader::Invalid)
                break;
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
        QString ignored;
        if (!part.open(m_stylesPart, ignored))
            return true; // no styles: every number is plain
        QHash<int, Style> custom;
        bool inCellXfs = false;
        while (!part.xml().atEnd()) {
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
        QString ignored;
        if (!part.open(m_stringsPart, ignored))
            return true; // no shared strings
        QString current;
        bool inItem = false;
        int skipDepth = 0; // inside phonetic runs, whose text is not the cell's
        while (!part.xml().atEnd()) {
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
                    current += part.elementText();
                }
            } else if (t == QXmlStreamReader::EndElement) {
                if (skipDepth > 0)
                    --skipDepth;
                else if (name == QLatin1String("si")) {
                    m_strings << current;
                    inItem = false;
                }
            }
        }
        if (part.failed()) {
            error = part.errorText();
            return false;
        }
        return true;
    }

    // The used range: the sheet's own dimension when it gives one, else the extent of its
    // cells.
    bool findUsedRange(QString &error)
    {
        if (!m_part->open(m_sheetPart, error))
            return false;
        while (!m_part->xml().atEnd()) {
            if (m_part->next() == QXmlStreamReader::Invalid)
                break;
            if (!m_part->xml().isStartElement())
                continue;
            const auto name = m_part->xml().name();
            if (name == QLatin1String("dimension")) {
                const QString ref = m_part->xml()
                                        .attributes()
                                        .value(QLatin1String("ref"))
                                        .toString();
                const QStringList corners = ref.split(QLatin1Char(':'));
                int r1, c1, r2, c2;
                parseReference(corners.value(0), r1, c1);
                parseReference(corners.value(corners.size() - 1), r2, c2);
                if (r1 >= 0 && c1 >= 0 && r2 >= r1 && c2 >= c1) {
                    // "A1" alone is also what an empty sheet says; its cells tell.
                    if (!(corners.size() == 1 && r1 == 0 && c1 == 0)) {
                        m_first = {r1, c1};
                        m_last = {r2, c2};
                        return true;
                    }
                }
            }
            if (name == QLatin1String("sheetData"))
                break;
        }
        if (m_part->failed()) {
            error = m_part->errorText();
            return false;
        }
        // Without a dimension, one pass over the cells.
        if (!m_part->open(m_sheetPart, error))
            return false;
        int row = -1;
        int column = -1;
        bool any = false;
        int minRow = 0, minCol = 0, maxRow = -1, maxCol = -1;
        while (!m_part->xml().atEnd()) {
            if (m_part->next() == QXmlStreamReader::Invalid)
                break;
            if (!m_part->xml().isStartElement())
                continue;
            const auto name = m_part->xml().name();
            const auto attrs = m_part->xml().attributes();
            if (name == QLatin1String("row")) {
                const int r = attrs.value(QLatin1String("r")).toInt();
                row = r > 0 ? r - 1 : row + 1;
                column = -1;
            } else if (name == QLatin1String("c")) {
                int r, c;
                parseReference(attrs.value(QLatin1String("r")), r, c);
                column = c >= 0 ? c : column + 1;
                const int at = r >= 0 ? r : qMax(row, 0);
                if (!any) {
                    minRow = maxRow = at;
                    minCol = maxCol = column;
                    any = true;
                }
                minRow = qMin(minRow, at);
                maxRow = qMax(maxRow, at);
                minCol = qMin(minCol, column);
                maxCol = qMax(maxCol, column);
            }
        }
        if (m_part->failed()) {
            error = m_part->errorText();
            return false;
        }
        if (any) {
            m_first = {minRow, minCol};
            m_last = {maxRow, maxCol};
        }
        return true;
    }

    bool restart(QString &error)
    {
        m_rowNo = -1;
        m_cells.clear();
        m_pendingRow = -1;
        m_sheetEnded = false;
        m_lastRowSeen = -1;
        if (!m_part->open(m_sheetPart, error))
            return false;
        // Up to the first row.
        while (!m_part->xml().atEnd()) {
            if (m_part->next() == QXmlStreamReader::Invalid)
                break;
            if (m_part->xml().isStartElement() && m_part->xml().name() == QLatin1String("row")) {
                m_pendingRow = rowNumberOf();
                m_lastRowSeen = m_pendingRow;
                return true;
            }
        }
        if (m_part->failed()) {
            error = m_part->errorText();
            return false;
        }
        m_sheetEnded = true;
        return true;
    }

    int rowNumberOf()
    {
        const int r = m_part->xml().attributes().value(QLatin1String("r")).toInt();
        return r > 0 ? r - 1 : m_lastRowSeen + 1;
    }

    // Moves to the next row number; the cells of a row missing from the sheet are empty.
    bool nextRow(QString &error)
    {
        ++m_rowNo;
        m_cells.clear();
        if (m_sheetEnded || m_pendingRow < 0 || m_pendingRow > m_rowNo)
            return true;
        // The reader is on the start of row m_pendingRow (== m_rowNo, or an earlier row
        // number out of order, which is read and dropped).
        for (;;) {
            if (!readRowCells(m_pendingRow == m_rowNo, error))
                return false;
            // Find the next row start.
            m_pendingRow = -1;
            while (!m_part->xml().atEnd()) {
                if (m_part->next() == QXmlStreamReader::Invalid)
                    break;
                if (m_part->xml().isStartElement()
                    && m_part->xml().name() == QLatin1String("row")) {
                    m_pendingRow = rowNumberOf();
                    m_lastRowSeen = m_pendingRow;
                    break;
                }
                if (m_part->xml().isEndElement()
                    && m_part->xml().name() == QLatin1String("sheetData"))
                    break;
            }
            if (m_part->failed()) {
                error = m_part->errorText();
                return false;
            }
            if (m_pendingRow < 0) {
                m_sheetEnded = true;
                return true;
            }
            if (m_pendingRow > m_rowNo)
                return true;
        }
    }

    bool readRowCells(bool keep, QString &error)
    {
        int column = -1;
        int depth = 1;
        while (depth > 0) {
            const auto t = m_part->next();
            if (t == QXmlStreamReader::Invalid) {
                error = m_part->failed() ? m_part->errorText()
                                         : QStringLiteral("the worksheet ends inside a row");
                return false;
            }
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
            int r, c;
            parseReference(attrs.value(QLatin1String("r")), r, c);
            column = c >= 0 ? c : column + 1;
            const QString type = attrs.value(QLatin1String("t")).toString();
            const int style = attrs.value(QLatin1String("s")).toInt();
            QString value;
            QString inlineText;
            bool hasInline = false;
            int cellDepth = 1;
            while (cellDepth > 0) {
                const auto ct = m_part->next();
                if (ct == QXmlStreamReader::Invalid) {
                    error = m_part->failed() ? m_part->errorText()
                                             : QStringLiteral("the worksheet ends inside a cell");
                    return false;
                }
                if (ct == QXmlStreamReader::EndElement) {
                    --cellDepth;
                } else if (ct == QXmlStreamReader::StartElement) {
                    const auto name = m_part->xml().name();
                    if (name == QLatin1String("v")) {
                        value = m_part->elementText();
                    } else if (name == QLatin1String("is")) {
                        hasInline = true;
                        inlineText = inlineString();
                    } else {
                        ++cellDepth;
                    }
                }
            }
            if (keep && column < WorkbookReader::MaxColumns)
                m_cells.insert(column, cellValue(type, style, value, hasInline, inlineText));
        }
        return true;
    }

    // The text of an inline string (the reader on <is>), phonetic runs left out.
    QString inlineString()
    {
        QString text;
        int depth = 1;
        int skip = 0;
        while (depth > 0) {
            const auto t = m_part->next();
            if (t == QXmlStreamReader::Invalid)
                break;
            if (t == QXmlStreamReader::StartElement) {
                ++depth;
                if (skip > 0 || m_part->xml().name() == QLatin1String("rPh"))
                    ++skip;
            } else if (t == QXmlStreamReader::EndElement) {
                --depth;
                if (skip > 0)
                    --skip;
            } else if (t == QXmlStreamReader::Characters && skip == 0) {
                text += m_part->xml().text();
            }
        }
        return text;
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
            return ok ? m_strings.value(i) : QString();
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
    QStringList m_strings;
    QList<Style> m_styles;
    QDate m_base = QDate(1899, 12, 30);
    QPair<int, int> m_first{0, 0};
    QPair<int, int> m_last{-1, -1};
    int m_rowNo = -1;
    int m_pendingRow = -1;
    int m_lastRowSeen = -1;
    bool m_sheetEnded = false;
    QHash<int, QString> m_cells;
};

} // namespace

std::unique_ptr<WorkbookReader::Sheet> makeXlsxSheet()
{
    return std::make_unique<XlsxSheet>();
}

} // namespace zq::platform
