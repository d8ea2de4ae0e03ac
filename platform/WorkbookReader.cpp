#include "WorkbookReader.h"

#include "WorkbookSheet.h"

#include <QFile>
#include <QLocale>
#include <QTime>

#include <cmath>

#include <freexl.h>

namespace zq::platform {

QString numberText(double value)
{
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    return QString::number(value, 'g', 15);
}

QString serialTimeText(double serial)
{
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

namespace {

class XlsSheet : public WorkbookReader::Sheet
{
public:
    ~XlsSheet() override
    {
        if (m_handle)
            freexl_close(m_handle);
    }

    bool open(const QString &path, QString &error) override
    {
        const QByteArray name = QFile::encodeName(path);
        int rc = freexl_open(name.constData(), &m_handle);
        if (rc != FREEXL_OK)
            return fail(error, rc, "the legacy workbook cannot be opened");
        unsigned int sheets = 0;
        rc = freexl_get_info(m_handle, FREEXL_BIFF_SHEET_COUNT, &sheets);
        if (rc != FREEXL_OK || sheets == 0)
            return fail(error, rc, "the workbook has no worksheet");
        rc = freexl_select_active_worksheet(m_handle, 0);
        if (rc != FREEXL_OK)
            return fail(error, rc, "the first worksheet cannot be selected");
        unsigned int rows = 0;
        unsigned short columns = 0;
        rc = freexl_worksheet_dimensions(m_handle, &rows, &columns);
        if (rc != FREEXL_OK)
            return fail(error, rc, "the worksheet's size cannot be read");
        m_rows = int(rows);
        m_columns = int(columns);
        return true;
    }

    int firstRow() const override { return 0; }
    int firstColumn() const override { return 0; }
    int lastRow() const override { return m_rows - 1; }
    int lastColumn() const override { return m_columns - 1; }

    bool cell(int row, int column, QString &text, QString &error) override
    {
        text.clear();
        if (row >= m_rows || column >= m_columns)
            return true;
        FreeXL_CellValue value;
        const int rc = freexl_get_cell_value(
            m_handle, unsigned(row), (unsigned short)(column), &value);
        if (rc != FREEXL_OK)
            return fail(error, rc, "a cell cannot be read");
        switch (value.type) {
        case FREEXL_CELL_INT:
            text = QString::number(value.value.int_value);
            break;
        case FREEXL_CELL_DOUBLE:
            text = numberText(value.value.double_value);
            break;
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT:
        case FREEXL_CELL_TIME:
            text = QString::fromUtf8(value.value.text_value);
            break;
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_DATETIME: {
            const QString iso = QString::fromUtf8(value.value.text_value);
            const QDate day = QDate::fromString(iso.left(10), Qt::ISODate);
            text = day.isValid() ? QLocale::c().toString(day, dateFormat) + iso.mid(10) : iso;
            break;
        }
        default:
            break;
        }
        return true;
    }

private:
    static bool fail(QString &error, int rc, const char *what)
    {
        error = QStringLiteral("%1 (code %2)").arg(QLatin1String(what)).arg(rc);
        return false;
    }
    const void *m_handle = nullptr;
    int m_rows = 0;
    int m_columns = 0;
};

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

std::unique_ptr<WorkbookReader::Sheet> makeXlsSheet()
{
    return std::make_unique<XlsSheet>();
}

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
    if (sheet->lastRow() >= 0 && sheet->lastColumn() >= 0) {
        m_rows = sheet->lastRow() - sheet->firstRow() + 1;
        m_columns = sheet->lastColumn() - sheet->firstColumn() + 1;
    } else {
        // An empty sheet's used range is its first cell.
        m_rows = 1;
        m_columns = 1;
    }
    m_sheet = std::move(sheet);
    return true;
}

bool WorkbookReader::cellText(int row, int column, QString &text)
{
    text.clear();
    if (!m_sheet) {
        m_error = QStringLiteral("no workbook is open");
        return false;
    }
    if (row < 0 || column < 0)
        return true;
    if (column >= MaxColumns)
        return true;
    return m_sheet->cell(row, column, text, m_error);
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
    m_rows = 0;
    m_columns = 0;
}

} // namespace zq::platform
