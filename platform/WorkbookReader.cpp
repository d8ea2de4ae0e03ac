#include "WorkbookReader.h"

#include "WorkbookSheet.h"

#include <QFile>
#include <QLocale>
#include <QTime>

#include <cmath>

namespace zq::platform {

QString numberText(double value)
{
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    return QString::number(value, 'g', 15);
}

QString serialTimeText(double serial)
{
    if (!std::isfinite(serial))
        return numberText(serial);
    const double fraction = serial - std::floor(serial);
    const int seconds = int(std::lround(fraction * 86400.0)) % 86400;
    return QTime(0, 0).addSecs(seconds).toString(QStringLiteral("HH:mm:ss"));
}

QString serialDateText(double serial, const QDate &base, const QString &dateFormat)
{
    if (!std::isfinite(serial) || std::fabs(serial) > 3e6)
        return numberText(serial);
    const qint64 days = qint64(std::floor(serial));
    const QString day = QLocale::c().toString(base.addDays(days), dateFormat);
    const int seconds = int(std::lround((serial - double(days)) * 86400.0)) % 86400;
    return seconds == 0 ? day : day + QLatin1Char(' ') + serialTimeText(serial);
}

QString unescapedText(const QString &text)
{
    const auto hex = [](QChar c) {
        const char16_t u = c.unicode();
        return u >= u'0' && u <= u'9'   ? u - u'0'
               : u >= u'a' && u <= u'f' ? u - u'a' + 10
               : u >= u'A' && u <= u'F' ? u - u'A' + 10
                                        : -1;
    };
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'_' && i + 6 < text.size() && text.at(i + 1) == u'x'
            && text.at(i + 6) == u'_') {
            int value = 0;
            bool ok = true;
            for (qsizetype k = i + 2; k < i + 6 && ok; ++k) {
                const int d = hex(text.at(k));
                ok = d >= 0;
                value = value * 16 + d;
            }
            if (ok) {
                out += QChar(char16_t(value));
                i += 6;
                continue;
            }
        }
        out += text.at(i);
    }
    return out;
}

QString escapedText(const QString &text)
{
    // What XML cannot carry (control characters but tab and line feed, a carriage return,
    // which XML turns into a line feed, U+FFFE, U+FFFF, a surrogate without its pair), and
    // the underscore that starts a text that reads like an escape.
    QString out;
    out.reserve(text.size());
    const auto escape = [&out](char16_t u) {
        out += QLatin1String("_x") + QString::number(u, 16).toUpper().rightJustified(4, u'0')
               + QLatin1Char('_');
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        const bool paired = QChar::isHighSurrogate(u) && i + 1 < text.size()
                            && QChar::isLowSurrogate(text.at(i + 1).unicode());
        if (paired) {
            out += text.at(i);
            out += text.at(++i);
        } else if ((u < 0x20 && u != u'\t' && u != u'\n') || u == 0xFFFE || u == 0xFFFF
                   || QChar::isSurrogate(u)) {
            escape(u);
        } else if (u == u'_' && unescapedText(text.mid(i, 7)).size() == 1) {
            escape(u);
        } else {
            out += text.at(i);
        }
    }
    return out;
}

namespace {

enum class Kind { Xlsx, Xls, Unknown };

Kind kindOf(const QString &path, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return Kind::Unknown;
    }
    const QByteArray head = file.read(8);
    if (head.startsWith("PK\x03\x04"))
        return Kind::Xlsx;
    if (head == QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))
        return Kind::Xls;
    error = QStringLiteral("the file is not a workbook");
    return Kind::Unknown;
}

} // namespace

WorkbookReader::WorkbookReader() = default;

WorkbookReader::~WorkbookReader() = default;

bool WorkbookReader::open(const QString &path)
{
    close();
    m_error.clear();
    const Kind kind = kindOf(path, m_error);
    if (kind == Kind::Unknown)
        return false;
    std::unique_ptr<Sheet> sheet = kind == Kind::Xlsx ? makeXlsxSheet() : makeXlsSheet();
    sheet->dateFormat = m_dateFormat;
    if (!sheet->open(path, m_error))
        return false;
    m_sheet = std::move(sheet);
    return true;
}

bool WorkbookReader::nextRow(int &row, QStringList &cells)
{
    cells.clear();
    if (!m_sheet) {
        m_error = QStringLiteral("no workbook is open");
        return false;
    }
    if (m_atEnd)
        return false;
    int number = -1;
    if (!m_sheet->nextRow(number, cells, m_error)) {
        m_atEnd = true;
        m_rowBefore = m_row;
        m_row = kSheetRows;
        m_cells.clear();
        return false;
    }
    m_rowBefore = m_row;
    m_row = number;
    m_cells = cells;
    row = number;
    return true;
}

int WorkbookReader::progress() const
{
    return m_sheet ? m_sheet->progress() : 0;
}

bool WorkbookReader::rewind()
{
    m_row = -1;
    m_rowBefore = -1;
    m_cells.clear();
    m_atEnd = false;
    return m_sheet->rewind(m_error);
}

bool WorkbookReader::measure()
{
    if (m_measured)
        return m_error.isEmpty();
    if (!m_sheet) {
        // A workbook that failed to open keeps its reason.
        if (m_error.isEmpty())
            m_error = QStringLiteral("no workbook is open");
        return false;
    }
    m_measured = true;
    if (!rewind())
        return false;
    int firstRow = -1, lastRow = -1, firstColumn = kSheetColumns, lastColumn = -1;
    int row;
    QStringList cells;
    while (nextRow(row, cells)) {
        if (firstRow < 0)
            firstRow = row;
        lastRow = row;
        // The last cell holds a value even when it lies beyond ZZ and reads empty.
        lastColumn = qMax(lastColumn, int(cells.size()) - 1);
        qsizetype first = 0;
        while (first < cells.size() - 1 && cells.at(first).isEmpty())
            ++first;
        firstColumn = qMin(firstColumn, int(first));
    }
    if (!m_error.isEmpty())
        return false;
    if (lastRow < 0) {
        // An empty sheet's used range is its first cell.
        m_rows = 1;
        m_columns = 1;
    } else {
        m_rows = lastRow - firstRow + 1;
        m_columns = lastColumn - firstColumn + 1;
    }
    return rewind();
}

int WorkbookReader::usedRowCount()
{
    return measure() ? m_rows : 0;
}

int WorkbookReader::usedColumnCount()
{
    return measure() ? m_columns : 0;
}

bool WorkbookReader::cellText(int row, int column, QString &text)
{
    text.clear();
    if (!m_sheet) {
        m_error = QStringLiteral("no workbook is open");
        return false;
    }
    if (!m_error.isEmpty())
        return false;
    if (row < 0 || column < 0 || column >= MaxColumns)
        return true;
    if (row <= m_rowBefore && !rewind())
        return false;
    QStringList cells;
    int number;
    while (m_row < row && !m_atEnd)
        nextRow(number, cells);
    if (!m_error.isEmpty())
        return false;
    if (m_row == row)
        text = m_cells.value(column);
    return true;
}

bool WorkbookReader::cellText(const QString &address, QString &text)
{
    int column = -1;
    qsizetype i = 0;
    while (i < 3 && i < address.size() && address.at(i).isLetter()
           && address.at(i).unicode() < 128) {
        column = (column + 1) * 26 + (address.at(i).toUpper().unicode() - 'A');
        ++i;
    }
    bool ok = false;
    const int row = address.mid(i).toInt(&ok) - 1;
    if (column < 0 || !ok || row < 0) {
        m_error = QStringLiteral("invalid cell address %1").arg(address);
        return false;
    }
    return cellText(row, column, text);
}

void WorkbookReader::close()
{
    m_sheet.reset();
    m_measured = false;
    m_rows = 0;
    m_columns = 0;
    m_cells.clear();
    m_row = -1;
    m_rowBefore = -1;
    m_atEnd = false;
}

} // namespace zq::platform
