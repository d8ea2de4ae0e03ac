#include "FuzzTargets.h"

#include "BatchList.h"
#include "PictureCodec.h"
#include "ReportTemplate.h"
#include "TransferFormat.h"
#include "TransferText.h"
#include "WorkbookReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <zip.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zq::fuzz {

namespace {

[[noreturn]] void broken(const char *promise, const QString &detail = QString())
{
    std::fprintf(stderr, "broken promise: %s %s\n", promise, qPrintable(detail));
    std::abort();
}

void expect(bool kept, const char *promise, const QString &detail = QString())
{
    if (!kept)
        broken(promise, detail);
}

// The parsers read files, so each input is written to one file of this process first; the
// folder is left behind only when the process is killed.
struct InputFolder
{
    InputFolder()
        : path(QDir::temp().filePath(
            QStringLiteral("zqfuzz-%1").arg(QCoreApplication::applicationPid())))
    {
        QDir().mkpath(path);
    }
    ~InputFolder() { QDir(path).removeRecursively(); }
    const QString path;
};

QString inputFolder()
{
    static const InputFolder folder;
    return folder.path;
}

QString inputFile(const QByteArray &input, const QString &name)
{
    const QString path = QDir(inputFolder()).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(input) != input.size())
        broken("the input file can be written", path);
    return path;
}

// Reads the first sheet as the import does, row by row, then the top left by index and by
// address.
void readWorkbook(const QString &path)
{
    platform::WorkbookReader book;
    if (!book.open(path)) {
        expect(!book.errorText().isEmpty(), "a refused workbook names its reason");
        return;
    }
    int row = -1;
    int last = -1;
    QStringList cells;
    for (int n = 0; n < 64 && book.nextRow(row, cells); ++n) {
        expect(row > last, "rows come from the top down");
        last = row;
    }
    const int rows = std::min(book.usedRowCount(), 64);
    const int columns = std::min(book.usedColumnCount(), 32);
    expect(rows >= 0 && columns >= 0, "a used range is never negative");
    QString text;
    for (int r = 0; r < rows; ++r) {
        for (int column = 0; column < columns; ++column) {
            if (!book.cellText(r, column, text)) {
                expect(!book.errorText().isEmpty(), "a cell that cannot be read names why");
                return;
            }
        }
    }
    if (!book.cellText(QStringLiteral("A1"), text))
        expect(!book.errorText().isEmpty(), "a cell that cannot be read names why");
    book.close();
}

void xlsxWorkbook(const QByteArray &input)
{
    readWorkbook(inputFile(input, QStringLiteral("input.xlsx")));
}

void xlsWorkbook(const QByteArray &input)
{
    readWorkbook(inputFile(input, QStringLiteral("input.xls")));
}

// The input is the XML of a sheet, then (after a NUL, which no XML holds) that of its shared
// strings, stored without compression in a workbook of their own: the mutations reach the
// parser of the parts rather than the archive's. Every row that comes keeps the bounds of a
// worksheet.
void xlsxSheet(const QByteArray &input)
{
    const qsizetype nul = input.indexOf('\0');
    const QByteArray sheet = nul < 0 ? input : input.left(nul);
    const QByteArray strings = nul < 0 ? QByteArray() : input.mid(nul + 1);
    const QString path = QDir(inputFolder()).filePath(QStringLiteral("sheet.xlsx"));
    QFile::remove(path);
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    if (!zip)
        broken("the input workbook can be written", path);
    const auto add = [zip](const char *name, const QByteArray &content) {
        zipOpenNewFileInZip64(zip, name, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, 0, 0);
        zipWriteInFileInZip(zip, content.constData(), unsigned(content.size()));
        zipCloseFileInZip(zip);
    };
    add("xl/workbook.xml",
        "<workbook xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/"
        "relationships\"><sheets><sheet r:id=\"rId1\"/></sheets></workbook>");
    add("xl/worksheets/sheet1.xml", sheet);
    if (nul >= 0)
        add("xl/sharedStrings.xml", strings);
    if (zipClose(zip, nullptr) != ZIP_OK)
        broken("the input workbook can be written", path);

    platform::WorkbookReader book;
    if (!book.open(path)) {
        expect(!book.errorText().isEmpty(), "a refused workbook names its reason");
        return;
    }
    int row = -1;
    int last = -1;
    QStringList cells;
    while (book.nextRow(row, cells)) {
        expect(row > last && row < 1048576, "rows come from the top down, within the sheet");
        last = row;
        expect(!cells.isEmpty() && cells.size() <= 16384, "a row holds 1 to 16,384 cells");
        for (const QString &cell : std::as_const(cells))
            expect(cell.size() <= 32767, "a cell holds at most 32,767 characters");
    }
    expect(book.progress() == 1000 || !book.errorText().isEmpty(),
           "a sheet read to its end says so");
    readWorkbook(path);
}

// The kind follows the content, so mutations of a seed stay with its decoder mostly.
void picture(const QByteArray &input)
{
    QString name = QStringLiteral("input.jpg");
    if (input.startsWith("BM"))
        name = QStringLiteral("input.bmp");
    else if (input.startsWith(QByteArray("\0\0\1\0", 4)))
        name = QStringLiteral("input.ico");
    const platform::PictureResult result = platform::pictureForFile(inputFile(input, name));
    if (!result.ok) {
        expect(!result.error.isEmpty(), "a refused picture names its reason");
        expect(result.jpeg.isEmpty() && result.image.isNull(), "a refused picture gives nothing");
        return;
    }
    expect(!result.jpeg.isEmpty() && !result.image.isNull(), "a stored picture has its bytes");
    expect(result.image.width() <= platform::kMaxPictureSide
               && result.image.height() <= platform::kMaxPictureSide
               && qint64(result.image.width()) * result.image.height()
                      <= platform::kMaxPicturePixels,
           "a stored picture is within the size limits");
}

bool finite(std::initializer_list<double> values)
{
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

void reportTemplate(const QByteArray &input)
{
    QString error;
    const std::optional<suite::ReportTemplate> t = suite::parseReportTemplate(
        QString::fromUtf8(input), error);
    if (!t) {
        expect(!error.isEmpty(), "a refused template names its reason");
        return;
    }
    const QMarginsF &m = t->margins;
    expect(finite({t->fontSize,
                   t->rowHeight,
                   m.left(),
                   m.top(),
                   m.right(),
                   m.bottom(),
                   t->cardSize.width(),
                   t->cardSize.height(),
                   t->cardGap,
                   t->cornerRadius,
                   t->cutMarks}),
           "the numbers of a template are finite");
    for (const suite::ReportColumn &c : t->columns)
        expect(std::isfinite(c.width) && c.width > 0, "a column has a finite width");
    for (const suite::CardItem &i : t->items) {
        expect(finite({i.rect.x(), i.rect.y(), i.rect.width(), i.rect.height(), i.size}),
               "a card item has finite numbers");
    }
}

// One holder line's fields as the import splits them: 13 codes, either separator. Written
// again with the writer's quoting, the fields read back as they were.
void checkFields(const QString &line)
{
    for (const QChar separator : {QLatin1Char(','), QLatin1Char('\t')}) {
        const QStringList split = transfer::splitFields(line, separator);
        const QString written = transfer::buildLine(split, separator);
        expect(transfer::splitFields(written, separator) == split,
               "fields written read back the same",
               line + QLatin1String(" -> ") + written);
        const std::optional<QStringList> fields = transfer::fieldsFor(line, separator, 13);
        if (!fields)
            continue;
        expect(fields->size() == 13, "a line gives one field per code", line);
    }
}

// The separator follows the content, as a user picks Tab for a file of tab-separated lines.
void transferLines(const QByteArray &input)
{
    const QChar separator = input.contains('\t') ? QLatin1Char('\t') : QLatin1Char(',');
    transfer::TextLineReader reader(inputFile(input, QStringLiteral("input.txt")), separator);
    if (!reader.open()) {
        expect(!reader.errorString().isEmpty(), "an unreadable file names its reason");
        return;
    }
    qint64 lastLine = 0;
    reader.setSkipHandler([&](qint64 line) {
        expect(line > lastLine, "skipped lines are named in file order");
        lastLine = line;
    });
    const bool read = reader.forEachLine([&](const QString &line) {
        expect(reader.lineNumber() > lastLine, "lines come in file order");
        lastLine = reader.lineNumber();
        expect(line.size() <= transfer::TextLineReader::MaxLineBytes, "lines are bounded");
        checkFields(line);
        return true;
    });
    expect(read, "a file that could be opened is read to its end", reader.errorString());
    expect(reader.position() <= reader.size(), "the progress stays within the file");
}

// The first line is a date format, as the locale could give it; every field of the other
// lines is read as a date in it and in the usual numeric ones, which must read back what
// they write.
void transferFields(const QByteArray &input)
{
    const QString text = QString::fromUtf8(input);
    const qsizetype end = text.indexOf(QLatin1Char('\n'));
    const QString format = text.left(std::min<qsizetype>(end < 0 ? text.size() : end, 40));
    const QStringList lines = text.mid(end < 0 ? text.size() : end + 1).split(QLatin1Char('\n'));
    static const QString numeric[] = {
        QStringLiteral("yyyy-MM-dd"), QStringLiteral("d/M/yyyy"), QStringLiteral("dd.MM.yy")};
    for (const QString &line : lines) {
        checkFields(line);
        for (const QString &field : transfer::splitFields(line, QLatin1Char(','))) {
            if (const std::optional<QDate> day = transfer::readDate(field, format))
                expect(day->isValid(), "a date read is valid", field);
            for (const QString &f : numeric) {
                const std::optional<QDate> day = transfer::readDate(field, f);
                if (!day)
                    continue;
                const QString written = transfer::dateText(*day, f);
                expect(transfer::readDate(written, f) == day,
                       "a date reads back as written",
                       field + QLatin1String(" -> ") + written);
            }
        }
    }
}

bool storable(const QString &number)
{
    return std::all_of(number.begin(), number.end(), [](QChar c) {
        return c.unicode() >= 0x20 && c.unicode() != 0x7f && !c.isSurrogate();
    });
}

// The input is an existing settings file: the stored list is read from it, then a batch of
// holder numbers (taken from the input's first line) is written into it and must read back.
void batchList(const QByteArray &input)
{
    const QString file = inputFile(input, QStringLiteral("ZQMain.ini"));
    const QString stored = forms::batch::readBatchList(file);
    expect(stored.isEmpty() || forms::batch::isWellFormedBatch(stored),
           "a stored batch is well formed",
           stored);
    (void)forms::batch::isWellFormedBatch(QString::fromUtf8(input));

    const QString first = QString::fromUtf8(input.left(input.indexOf('\n')));
    QStringList numbers = first.split(QLatin1Char(','));
    numbers.removeIf([](const QString &n) { return !storable(n); });
    const QString batch = forms::batch::batchText(numbers);
    expect(forms::batch::isWellFormedBatch(batch), "batchText makes a well-formed list", batch);
    if (!forms::batch::writeBatchList(file, batch))
        return;
    expect(forms::batch::readBatchList(file) == batch, "a written batch reads back", batch);
}

constexpr Target kTargets[] = {
    {"xlsx", xlsxWorkbook},
    {"xlsx_sheet", xlsxSheet},
    {"xls", xlsWorkbook},
    {"picture", picture},
    {"report_template", reportTemplate},
    {"transfer_lines", transferLines},
    {"transfer_fields", transferFields},
    {"batch_list", batchList},
    {nullptr, nullptr},
};

} // namespace

const Target *targets()
{
    return kTargets;
}

const Target *findTarget(const char *name)
{
    for (const Target *t = kTargets; t->name; ++t)
        if (std::strcmp(t->name, name) == 0)
            return t;
    return nullptr;
}

void setUp(int &argc, char **argv)
{
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt takes the options it knows out of the arguments; libFuzzer's stay untouched this way.
    static int appArgc = 1;
    static char *appArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    // Kept for the life of the process: libFuzzer never returns to let it go.
    new QGuiApplication(appArgc, appArgv);
}

} // namespace zq::fuzz
