// The first worksheet of an Office Open XML workbook, read with minizip and expat so that
// only the shared strings and one row are held in memory. The small parts (the workbook,
// its relationships, the styles) are read with Qt's streaming XML reader.
//
// A workbook is a file a user hands in, so every size is bounded before it is spent: each
// part by its unpacked size and its compression ratio, each XML token by the bytes it may
// take, each cell by its characters, the shared strings by the memory they fill, rows and
// columns by the largest sheet there is. A part with a document type declaration is
// refused outright, so no entity is ever expanded or fetched.
#include "WorkbookSheet.h"
#include "XlsxPart.h"
#include "XlsxStrings.h"

#include <QFile>
#include <QHash>
#include <QList>
#include <QLocale>
#include <QXmlStreamReader>

#include <algorithm>
#include <deque>
#include <utility>
#include <vector>

#include <unzip.h>

namespace zq::platform {

using namespace xlsx;

namespace {

// Unpacked sizes read at most per part: far above any real holder list (100,000 holders
// make a sheet of about 80 MB), far below what a crafted archive could unpack to.
constexpr qint64 kSmallPartLimit = 8LL << 20;
constexpr qint64 kSharedStringsLimit = 128LL << 20;
constexpr qint64 kSheetLimit = 512LL << 20;

const QString kRelNs = QStringLiteral(
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships");

QString columnName(int column)
{
    QString name;
    for (int c = column + 1; c > 0; c = (c - 1) / 26)
        name.prepend(QChar(u'A' + (c - 1) % 26));
    return name;
}

enum class Ref { Ok, Malformed, Beyond };

// "BC12" -> column 54, row 11 (0-based). A reference without its row part ("BC") leaves
// `row` at -1.
Ref parseReference(QByteArrayView ref, int &row, int &column)
{
    row = -1;
    column = -1;
    qsizetype i = 0;
    int c = 0;
    while (i < ref.size() && i < 4) {
        const char ch = ref.at(i);
        if (ch >= 'a' && ch <= 'z')
            c = c * 26 + (ch - 'a' + 1);
        else if (ch >= 'A' && ch <= 'Z')
            c = c * 26 + (ch - 'A' + 1);
        else
            break;
        ++i;
    }
    if (i == 0)
        return Ref::Malformed;
    if (i == 4 || c > kSheetColumns)
        return Ref::Beyond;
    column = c - 1;
    const QByteArrayView digits = ref.sliced(i);
    if (digits.isEmpty())
        return Ref::Ok;
    qint64 r = 0;
    for (const char d : digits) {
        if (d < '0' || d > '9')
            return Ref::Malformed;
        r = r * 10 + (d - '0');
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

enum class CellType { Number, Shared, Inline, Text, Boolean, Date };

CellType cellType(QByteArrayView t)
{
    if (t == "s")
        return CellType::Shared;
    if (t == "inlineStr")
        return CellType::Inline;
    if (t == "str" || t == "e")
        return CellType::Text;
    if (t == "b")
        return CellType::Boolean;
    if (t == "d")
        return CellType::Date;
    return CellType::Number;
}

char16_t codeOf(char c)
{
    return char16_t(uchar(c));
}

char16_t codeOf(QChar c)
{
    return c.unicode();
}

// Up to nine digits and nothing else, which cannot overflow.
template<typename View>
bool isPlainDigits(View digits)
{
    return !digits.isEmpty() && digits.size() <= 9
           && std::all_of(digits.begin(), digits.end(), [](auto c) {
                  return codeOf(c) >= u'0' && codeOf(c) <= u'9';
              });
}

template<typename View>
int plainNumber(View digits)
{
    int n = 0;
    for (const auto c : digits)
        n = n * 10 + (codeOf(c) - u'0');
    return n;
}

// A style index as QString::toInt() reads it, without a string for the usual plain digits.
int styleIndex(QByteArrayView s)
{
    return isPlainDigits(s) ? plainNumber(s) : QString::fromUtf8(s).toInt();
}

// A shared string's index as the trimmed value reads by QString::toInt().
int sharedIndex(const QString &value, bool &ok)
{
    ok = isPlainDigits(QStringView(value));
    return ok ? plainNumber(QStringView(value)) : value.trimmed().toInt(&ok);
}

class XlsxSheet : public WorkbookReader::Sheet, private XmlEvents
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
        m_part = std::make_unique<ExpatPart>(m_zip, kSheetLimit);
        return rewind(error);
    }

    bool rewind(QString &error) override
    {
        m_lastRow = -1;
        m_ended = false;
        m_ready.clear();
        m_cells.clear();
        m_at = At::Before;
        if (!m_part->open(m_sheetPart, this, error))
            return false;
        if (m_part->parse() == ExpatPart::Result::Failed) {
            error = m_part->errorText();
            return false;
        }
        if (m_at == At::Before)
            m_ended = true; // a sheet without cells
        return true;
    }

    int progress() const override { return m_ended ? 1000 : m_part->progress(); }

    bool nextRow(int &row, QStringList &cells, QString &error) override
    {
        for (;;) {
            if (!m_ready.empty()) {
                row = m_ready.front().first;
                cells = std::move(m_ready.front().second);
                m_ready.pop_front();
                return true;
            }
            if (m_ended)
                return false;
            if (m_part->failed()) {
                m_ended = true;
                error = m_part->errorText();
                return false;
            }
            if (m_at == At::Done) {
                m_ended = true;
                return false;
            }
            if (m_part->parse() == ExpatPart::Result::Ended && m_ready.empty() && m_at != At::Done
                && !m_part->failed()) {
                m_ended = true;
                error = QStringLiteral("the worksheet ends in the middle");
                return false;
            }
        }
    }

private:
    // Where the parse of the sheet stands.
    enum class At {
        Before, // the sheet data
        Sheet,  // between rows
        Row,    // between cells
        Cell,   // between a cell's parts
        Text,   // in a value or an inline string
        Done,   // past the sheet data
    };

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
        ExpatPart part(m_zip, kSharedStringsLimit);
        SharedStrings strings(part, m_strings);
        bool missing = false;
        if (!part.open(m_stringsPart, &strings, error, &missing)) {
            if (!missing)
                return false;
            error.clear();
            return true; // no shared strings
        }
        while (part.parse() == ExpatPart::Result::Paused) {
        }
        if (part.failed()) {
            error = part.errorText();
            return false;
        }
        m_strings.squeeze();
        return true;
    }

    void startElement(QByteArrayView name, const char **attributes) override
    {
        if (m_part->failed())
            return;
        switch (m_at) {
        case At::Before:
            if (name == "sheetData") {
                m_at = At::Sheet;
                m_part->pause();
            }
            break;
        case At::Sheet:
            if (name == "row" && startRow(attribute(attributes, 'r'))) {
                m_cells.clear();
                m_column = -1;
                m_rowDepth = 1;
                m_at = At::Row;
            }
            break;
        case At::Row:
            // A cell counts wherever it stands inside the row.
            if (name == "c")
                startCell(attributes);
            else
                ++m_rowDepth;
            break;
        case At::Cell:
            if (name == "v" || name == "is") {
                m_inlineText = name == "is";
                m_hasInline = m_hasInline || m_inlineText;
                m_text.begin();
                m_at = At::Text;
            } else {
                ++m_cellDepth;
            }
            break;
        case At::Text:
            if (m_text.start(name) == ElementText::Step::TooLong)
                m_part->fail(tooLong());
            break;
        case At::Done:
            break;
        }
    }

    void endElement(const char *name) override
    {
        if (m_part->failed())
            return;
        switch (m_at) {
        case At::Sheet:
            if (ExpatPart::localName(name) == "sheetData") {
                m_at = At::Done;
                m_part->pause();
            }
            break;
        case At::Row:
            if (--m_rowDepth == 0) {
                m_at = At::Sheet;
                if (!m_cells.isEmpty()) {
                    m_ready.emplace_back(m_lastRow, std::move(m_cells));
                    m_cells = QStringList();
                    m_part->pause();
                }
            }
            break;
        case At::Cell:
            if (--m_cellDepth == 0) {
                endCell();
                m_at = At::Row;
            }
            break;
        case At::Text: {
            const ElementText::Step step = m_text.end();
            if (step == ElementText::Step::TooLong) {
                m_part->fail(tooLong());
            } else if (step == ElementText::Step::Done) {
                if (!m_text.take(m_inlineText ? m_inline : m_value))
                    m_part->fail(tooLong());
                m_at = At::Cell;
            }
            break;
        }
        case At::Before:
        case At::Done:
            break;
        }
    }

    void characters(QByteArrayView text) override
    {
        if (m_at == At::Text)
            m_text.characters(text);
    }

    // A <row> begins: its number, checked against the sheet's bounds and order.
    bool startRow(QByteArrayView r)
    {
        qint64 number = m_lastRow + 1;
        if (!r.isEmpty()) {
            number = 0;
            for (const char d : r) {
                if (d < '0' || d > '9')
                    return malformedRow(r);
                number = number * 10 + (d - '0');
                if (number > kSheetRows)
                    break;
            }
            if (number == 0)
                return malformedRow(r);
            --number;
        }
        if (number >= kSheetRows) {
            m_part->fail(QStringLiteral("row %1 lies beyond the last row a worksheet has (%L2)")
                             .arg(r.isEmpty() ? QString::number(number + 1) : quoted(r))
                             .arg(kSheetRows));
            return false;
        }
        if (number <= m_lastRow) {
            m_part->fail(QStringLiteral("row %1 comes after row %2: the rows are out of order")
                             .arg(number + 1)
                             .arg(m_lastRow + 1));
            return false;
        }
        m_lastRow = int(number);
        return true;
    }

    static QString quoted(QByteArrayView text) { return QString::fromUtf8(text).left(20); }

    // The value of the unprefixed attribute of the one-letter name; null when there is none.
    static QByteArrayView attribute(const char **attributes, char name)
    {
        for (const char **a = attributes; *a; a += 2) {
            if ((*a)[0] == name && (*a)[1] == 0)
                return QByteArrayView(a[1]);
        }
        return QByteArrayView();
    }

    bool malformedRow(QByteArrayView r)
    {
        m_part->fail(QStringLiteral("a row has the malformed number \"%1\"").arg(quoted(r)));
        return false;
    }

    // A <c> begins: its column by its own reference, else the one after the cell before.
    void startCell(const char **attributes)
    {
        // Unprefixed attributes are named as they stand.
        QByteArrayView r, t, s;
        for (const char **a = attributes; *a; a += 2) {
            if ((*a)[0] != 0 && (*a)[1] == 0) {
                const char name = (*a)[0];
                if (name == 'r')
                    r = QByteArrayView(a[1]);
                else if (name == 't')
                    t = QByteArrayView(a[1]);
                else if (name == 's')
                    s = QByteArrayView(a[1]);
            }
        }
        if (r.isEmpty()) {
            ++m_column;
        } else {
            int row, c;
            const Ref ref = parseReference(r, row, c);
            if (ref == Ref::Beyond)
                return m_part->fail(QStringLiteral("cell %1 lies beyond the last column a "
                                                   "worksheet has (%2)")
                                        .arg(quoted(r), columnName(kSheetColumns - 1)));
            if (ref == Ref::Malformed)
                return m_part->fail(
                    QStringLiteral("a cell has the malformed reference \"%1\"").arg(quoted(r)));
            m_column = c;
        }
        if (m_column >= kSheetColumns)
            return m_part->fail(QStringLiteral("row %1 has more cells than the %L2 columns a "
                                               "worksheet has")
                                    .arg(m_lastRow + 1)
                                    .arg(kSheetColumns));
        m_type = cellType(t);
        m_style = styleIndex(s);
        m_value.clear();
        m_inline.clear();
        m_hasInline = false;
        m_cellDepth = 1;
        m_at = At::Cell;
    }

    // A cell's end: its text in its column, up to the row's last value; the texts beyond ZZ
    // are never needed and stay empty.
    void endCell()
    {
        const QString text = cellValue();
        if (text.isEmpty())
            return;
        if (m_cells.size() == m_column) {
            m_cells.append(m_column < WorkbookReader::MaxColumns ? text : QString());
            return;
        }
        while (m_cells.size() <= m_column)
            m_cells.append(QString());
        if (m_column < WorkbookReader::MaxColumns)
            m_cells[m_column] = text;
    }

    QString cellValue() const
    {
        if (m_type == CellType::Shared) {
            bool ok = false;
            const int i = sharedIndex(m_value, ok);
            return ok ? m_strings.at(i) : QString();
        }
        if (m_type == CellType::Inline || m_hasInline)
            return m_inline;
        if (m_type == CellType::Text)
            return m_value;
        if (m_type == CellType::Boolean)
            return m_value.trimmed() == QLatin1String("1") ? QStringLiteral("TRUE")
                                                           : QStringLiteral("FALSE");
        if (m_type == CellType::Date) {
            const QDate day = QDate::fromString(m_value.left(10), Qt::ISODate);
            return day.isValid() ? QLocale::c().toString(day, dateFormat) : m_value;
        }
        if (m_value.isEmpty())
            return QString();
        bool ok = false;
        const double number = m_value.trimmed().toDouble(&ok);
        if (!ok)
            return m_value;
        switch (m_styles.value(m_style, Style::Plain)) {
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
    std::unique_ptr<ExpatPart> m_part;
    QString m_sheetPart;
    QString m_stringsPart;
    QString m_stylesPart;
    StringTable m_strings;
    QList<Style> m_styles;
    QDate m_base = QDate(1899, 12, 30);
    int m_lastRow = -1;
    bool m_ended = false;
    // The parse of the sheet.
    At m_at = At::Before;
    int m_rowDepth = 0;
    int m_cellDepth = 0;
    int m_column = -1;
    QStringList m_cells;
    std::deque<std::pair<int, QStringList>> m_ready; // rows parsed to their end, not yet taken
    CellType m_type = CellType::Number;
    int m_style = 0;
    QString m_value;
    QString m_inline;
    bool m_hasInline = false;
    bool m_inlineText = false; // the text going on is the inline string
    ElementText m_text;
};

} // namespace

std::unique_ptr<WorkbookReader::Sheet> makeXlsxSheet()
{
    return std::make_unique<XlsxSheet>();
}

} // namespace zq::platform
