// Workbooks written and read back, workbooks saved by an office suite (both file kinds),
// and damaged or hostile files.
#include "WorkbookFiles.h"
#include "WorkbookReader.h"
#include "WorkbookWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zq::platform;
using namespace zq::test;

namespace {

QString fixture(const char *name)
{
    return QStringLiteral(ZQ_PLATFORM_DATA) + QLatin1String(name);
}

QString cell(WorkbookReader &book, int row, int column)
{
    QString text;
    EXPECT_TRUE(book.cellText(row, column, text)) << book.errorText().toStdString();
    return text;
}

} // namespace

TEST(Workbook, WrittenCellsReadBackAsText)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("book.xlsx");
    WorkbookWriter writer;
    ASSERT_TRUE(writer.create());
    ASSERT_TRUE(writer.selectFirstSheet());
    EXPECT_TRUE(writer.setCell("A1", "H001"));
    EXPECT_TRUE(writer.setCell("B1", QString::fromUtf8("陳大文")));
    EXPECT_TRUE(writer.setCell("C1", ""));
    EXPECT_TRUE(writer.setCell("D1", "a,b & <c>"));
    EXPECT_TRUE(writer.setCell("M2", "last"));
    EXPECT_FALSE(writer.setCell("A1", "back up")) << "a row above is refused, not dropped";
    EXPECT_FALSE(writer.setCell("1A", "x"));
    ASSERT_TRUE(writer.saveAs(path)) << writer.errorText().toStdString();

    WorkbookReader book;
    ASSERT_TRUE(book.open(path)) << book.errorText().toStdString();
    EXPECT_EQ(book.usedRowCount(), 2);
    EXPECT_EQ(book.usedColumnCount(), 13);
    EXPECT_EQ(cell(book, 0, 0), "H001");
    EXPECT_EQ(cell(book, 0, 1), QString::fromUtf8("陳大文"));
    EXPECT_EQ(cell(book, 0, 2), "");
    EXPECT_EQ(cell(book, 0, 3), "a,b & <c>");
    QString text;
    EXPECT_TRUE(book.cellText("M2", text));
    EXPECT_EQ(text, "last");
    // Going back re-reads the sheet.
    EXPECT_EQ(cell(book, 0, 0), "H001");
    EXPECT_EQ(cell(book, 5, 0), "");
}

TEST(Workbook, SaveReplacesAnEarlierFileAndAFailedSaveLeavesNone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("book.xlsx");
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old content");
    old.close();
    WorkbookWriter writer;
    ASSERT_TRUE(writer.create() && writer.selectFirstSheet() && writer.setCell(0, 0, "new"));
    ASSERT_TRUE(writer.saveAs(path));
    WorkbookReader book;
    ASSERT_TRUE(book.open(path));
    EXPECT_EQ(cell(book, 0, 0), "new");

    ASSERT_TRUE(writer.create() && writer.selectFirstSheet());
    EXPECT_FALSE(writer.saveAs(dir.filePath("missing/folder/book.xlsx")));
    EXPECT_FALSE(writer.errorText().isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath("missing/folder/book.xlsx")));
}

TEST(Workbook, AnOfficeSuiteWorkbookGivesSharedStringsNumbersAndDates)
{
    for (const char *name : {"office-book.xlsx", "office-book.xls"}) {
        SCOPED_TRACE(name);
        WorkbookReader book;
        book.setDateFormat("dd/MM/yyyy");
        ASSERT_TRUE(book.open(fixture(name))) << book.errorText().toStdString();
        EXPECT_EQ(book.usedRowCount(), 4);
        EXPECT_EQ(book.usedColumnCount(), 4);
        EXPECT_EQ(cell(book, 0, 0), "H1");
        EXPECT_EQ(cell(book, 0, 2), "04/03/2005");
        EXPECT_EQ(cell(book, 0, 3), QString::fromUtf8("中文名字"));
        EXPECT_EQ(cell(book, 1, 1), "Bo, Jr");
        EXPECT_EQ(cell(book, 1, 2), "31/12/1999");
        EXPECT_EQ(cell(book, 2, 0), "");
        EXPECT_EQ(cell(book, 3, 2), "12.5");
    }
}

TEST(Workbook, TheUsedRangeCountsFromItsFirstCellAndColumnsBeyondZZReadEmpty)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("offset.xlsx");
    WorkbookWriter writer;
    ASSERT_TRUE(writer.create() && writer.selectFirstSheet());
    EXPECT_TRUE(writer.setCell("C3", "x"));
    EXPECT_TRUE(writer.setCell("D5", "y"));
    ASSERT_TRUE(writer.saveAs(path));
    WorkbookReader book;
    ASSERT_TRUE(book.open(path));
    EXPECT_EQ(book.usedRowCount(), 3);
    EXPECT_EQ(book.usedColumnCount(), 2);
    EXPECT_EQ(cell(book, 0, 0), "");
    EXPECT_EQ(cell(book, 2, 2), "x");

    const QString wide = dir.filePath("wide.xlsx");
    ASSERT_TRUE(writer.create() && writer.selectFirstSheet());
    EXPECT_TRUE(writer.setCell(0, 0, "a"));
    EXPECT_TRUE(writer.setCell(0, 9999, "far"));
    ASSERT_TRUE(writer.saveAs(wide));
    ASSERT_TRUE(book.open(wide));
    EXPECT_EQ(book.usedColumnCount(), 10000);
    EXPECT_EQ(cell(book, 0, 0), "a");
    EXPECT_EQ(cell(book, 0, 9999), "");
}

TEST(Workbook, ASheetWithoutDimensionIsMeasuredByItsCells)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("bare.xlsx");
    ASSERT_TRUE(writeZip(
        path,
        {{"xl/workbook.xml", kWorkbookXml},
         {"xl/worksheets/sheet1.xml",
          sheetXml("<row r=\"2\"><c r=\"B2\" t=\"inlineStr\"><is><t>in</t><r><t>line</t></r></is>"
                   "</c><c t=\"b\"><v>1</v></c></row><row><c r=\"A3\"><v>3.0</v></c></row>")}}));
    WorkbookReader book;
    ASSERT_TRUE(book.open(path)) << book.errorText().toStdString();
    EXPECT_EQ(book.usedRowCount(), 2);
    EXPECT_EQ(book.usedColumnCount(), 3);
    EXPECT_EQ(cell(book, 1, 1), "inline");
    EXPECT_EQ(cell(book, 1, 2), "TRUE");
    EXPECT_EQ(cell(book, 2, 0), "3");
}

TEST(Workbook, DamagedAndHostileFilesEndWithAnError)
{
    QTemporaryDir dir;
    WorkbookWriter writer;
    ASSERT_TRUE(writer.create() && writer.selectFirstSheet());
    for (int r = 0; r < 2000; ++r)
        writer.setCell(r, 0, QStringLiteral("holder %1").arg(r));
    const QString good = dir.filePath("good.xlsx");
    ASSERT_TRUE(writer.saveAs(good));
    QFile in(good);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();

    const auto write = [&](const char *name, const QByteArray &content) {
        const QString path = dir.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(content);
        return path;
    };
    // An unfinished sheet: a bomb of rows cut off inside a cell.
    QByteArray unfinished = "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>x</t></is></c></row>";
    unfinished += QByteArray("<row/>").repeated(200000) + "<row><c><v>1";
    const QString cut = dir.filePath("cut.xlsx");
    ASSERT_TRUE(writeZip(cut,
                         {{"xl/workbook.xml", kWorkbookXml},
                          {"xl/worksheets/sheet1.xml",
                           "<worksheet xmlns=\"x\"><dimension ref=\"A1:A300000\"/>"
                           "<sheetData>"
                               + unfinished}}));
    const struct
    {
        const char *what;
        QString path;
    } cases[] = {
        {"truncated archive", write("trunc.xlsx", bytes.left(bytes.size() / 2))},
        {"binary garbage", write("garbage.xlsx", QByteArray(4096, '\x9c'))},
        {"zip without a workbook", write("text.xlsx", "PK\x03\x04 not really")},
        {"legacy header without body",
         write("old.xls", QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))},
        {"missing file", dir.filePath("none.xlsx")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        WorkbookReader book;
        EXPECT_FALSE(book.open(c.path));
        EXPECT_FALSE(book.errorText().isEmpty());
    }
    // The declared range plays no part; the rows are read until the sheet breaks off.
    WorkbookReader book;
    ASSERT_TRUE(book.open(cut)) << book.errorText().toStdString();
    QString text;
    EXPECT_TRUE(book.cellText(0, 0, text));
    EXPECT_EQ(text, "x");
    EXPECT_FALSE(book.cellText(299999, 0, text));
    EXPECT_TRUE(book.errorText().contains("ends in the middle")) << book.errorText().toStdString();
    WorkbookReader measured;
    ASSERT_TRUE(measured.open(cut));
    EXPECT_EQ(measured.usedRowCount(), 0);
    EXPECT_FALSE(measured.errorText().isEmpty());
}

TEST(Workbook, EveryTextReadsBackAsItWasWritten)
{
    const struct
    {
        const char *what;
        QString text;
    } rows[] = {
        {"carriage return and line feed", QStringLiteral("two\r\nlines")},
        {"line feed and tab", QStringLiteral("a\nb\tc")},
        {"control characters", QString::fromUtf16(u"bell\u0007 esc\u001B end")},
        {"NUL inside", QString::fromUtf16(u"before\u0000after", 12)},
        {"a text that reads like an escape", QStringLiteral("_x000D_ and _x005F_")},
        {"lower-case escape look-alike", QStringLiteral("_x00e9_")},
        {"underscores that escape nothing", QStringLiteral("_x12_ _xZZZZ_ __x0041__")},
        {"characters XML refuses", QString::fromUtf16(u"\uFFFE\uFFFF")},
        {"a surrogate without its pair", QString::fromUtf16(u"\xD800 alone")},
        {"a character beyond the basic plane", QString::fromUtf16(u"\U0001F600 smile")},
        {"Traditional Chinese", QString::fromUtf8("陳大文，台北")},
        {"markup and blanks", QStringLiteral("  <a href=\"x\">&amp;</a> ' ")},
        {"leading zeros", QStringLiteral("000123")},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath("texts.xlsx");
    WorkbookWriter writer;
    ASSERT_TRUE(writer.create() && writer.selectFirstSheet());
    int r = 0;
    for (const auto &row : rows)
        ASSERT_TRUE(writer.setCell(r++, 1, row.text)) << row.what;
    ASSERT_TRUE(writer.saveAs(path)) << writer.errorText().toStdString();

    WorkbookReader book;
    ASSERT_TRUE(book.open(path)) << book.errorText().toStdString();
    int number = -1;
    QStringList cells;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(book.nextRow(number, cells)) << book.errorText().toStdString();
        ASSERT_EQ(cells.size(), 2);
        EXPECT_EQ(cells.at(0), "");
        EXPECT_EQ(cells.at(1), row.text);
    }
    EXPECT_FALSE(book.nextRow(number, cells));
    EXPECT_EQ(book.errorText(), "");
    EXPECT_EQ(book.progress(), 1000);
}

TEST(Workbook, CellsComeBackByTheirOwnColumns)
{
    // The first column empty in every row (an e-mail column without e-mails): the written
    // sheet starts in column B, and its last column still comes back.
    QTemporaryDir dir;
    const QString path = dir.filePath("no-first.xlsx");
    WorkbookWriter writer;
    ASSERT_TRUE(writer.create() && writer.selectFirstSheet());
    for (int r = 0; r < 3; ++r) {
        writer.setCell(r, 0, "");
        for (int c = 1; c < 13; ++c)
            writer.setCell(r, c, QStringLiteral("r%1c%2").arg(r).arg(c));
    }
    writer.setCell(4, 5, "alone");
    ASSERT_TRUE(writer.saveAs(path));
    WorkbookReader book;
    ASSERT_TRUE(book.open(path));
    int row = -1;
    QStringList cells;
    for (int r = 0; r < 3; ++r) {
        ASSERT_TRUE(book.nextRow(row, cells));
        EXPECT_EQ(row, r);
        ASSERT_EQ(cells.size(), 13);
        EXPECT_EQ(cells.at(0), "");
        EXPECT_EQ(cells.at(12), QStringLiteral("r%1c12").arg(r));
    }
    ASSERT_TRUE(book.nextRow(row, cells)) << "an empty row is passed over";
    EXPECT_EQ(row, 4);
    EXPECT_EQ(cells, QStringList({"", "", "", "", "", "alone"}));
    EXPECT_FALSE(book.nextRow(row, cells));
    EXPECT_EQ(book.usedRowCount(), 5);
    EXPECT_EQ(book.usedColumnCount(), 12);
    EXPECT_EQ(cell(book, 0, 12), "r0c12");
    EXPECT_EQ(cell(book, 3, 1), "");

    // Cells without references follow the one before; a declared range is ignored.
    const QString bare = dir.filePath("bare.xlsx");
    ASSERT_TRUE(writeSheet(bare,
                           sheetXml("<row r=\"3\"><c r=\"C3\" t=\"inlineStr\"><is><t>c</t></is></c>"
                                    "<c><v>4</v></c><c r=\"F3\"><v>6</v></c></row>"
                                    "<row><c r=\"B4\" t=\"inlineStr\"><is><t></t></is></c></row>"
                                    "<row><c t=\"inlineStr\"><is><t>a</t></is></c></row>",
                                    "A1:Z2000000000")));
    ASSERT_TRUE(book.open(bare)) << book.errorText().toStdString();
    ASSERT_TRUE(book.nextRow(row, cells));
    EXPECT_EQ(row, 2);
    EXPECT_EQ(cells, QStringList({"", "", "c", "4", "", "6"}));
    ASSERT_TRUE(book.nextRow(row, cells)) << "row 4 holds nothing but row 5 does";
    EXPECT_EQ(row, 4);
    EXPECT_EQ(cells, QStringList({"a"}));
    EXPECT_FALSE(book.nextRow(row, cells));
    EXPECT_EQ(book.usedRowCount(), 3);
    EXPECT_EQ(book.usedColumnCount(), 6);
}

TEST(Workbook, EscapesWrittenByOtherProgramsAreUndone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("escapes.xlsx");
    ASSERT_TRUE(writeSheet(
        path,
        sheetXml("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
                 "<c r=\"C1\" t=\"inlineStr\"><is><t>in_x000a_line</t></is></c>"
                 "<c r=\"D1\" t=\"str\"><f>A1</f><v>f_x0009_x</v></c>"
                 "<c r=\"E1\"><v>12</v></c></row>"),
        sharedStringsXml("<si><t>a_x000D__x000A_b</t></si>"
                         "<si><r><t>lit _x005F_x000D_</t></r><r><t xml:space=\"preserve\"> "
                         "_x41_</t></r><rPh><t>skip</t></rPh></si>")));
    WorkbookReader book;
    ASSERT_TRUE(book.open(path)) << book.errorText().toStdString();
    int row;
    QStringList cells;
    ASSERT_TRUE(book.nextRow(row, cells)) << book.errorText().toStdString();
    EXPECT_EQ(cells, QStringList({"a\r\nb", "lit _x000D_ _x41_", "in\nline", "f\tx", "12"}));
}

TEST(Workbook, ALegacyWorkbookIsReadByAHelperWhoseFaultsEndInAMessage)
{
    WorkbookReader book;
    book.setDateFormat("dd/MM/yyyy");
    ASSERT_TRUE(book.open(fixture("office-book.xls"))) << book.errorText().toStdString();
    int row;
    QStringList cells;
    ASSERT_TRUE(book.nextRow(row, cells));
    EXPECT_EQ(row, 0);
    EXPECT_EQ(cells.value(2), "04/03/2005");
    EXPECT_EQ(book.progress(), 333) << "one of three rows holding values";

    // Stand-ins for the helper, one per way it can fail.
    QTemporaryDir dir;
    const auto script = [&](const char *name, const QByteArray &body) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n" + body + "\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    };
    const QByteArray original = qgetenv("ZQ_XLS_READER");
    const struct
    {
        const char *what;
        QString helper;
        const char *message;
    } faults[] = {
        {"missing", dir.filePath("none"), "cannot be started"},
        {"crash", script("crash", "kill -SEGV $$"), "its reader stopped on it (signal 11)"},
        {"abort", script("abort", "printf 'R'; kill -ABRT $$"), "(signal 6)"},
        {"stops early", script("early", "printf 'R\\000\\000'; exit 0"), "cannot be read"},
        {"no end", script("noend", "exit 0"), "stopped before the end of the sheet"},
        {"garbage", script("garbage", "head -c 5000 /dev/urandom"), "cannot be read"},
        {"its reason", script("reason", "printf 'E\\005\\000\\000\\000why?!'; exit 1"), "why?!"},
        {"hang", script("hang", "exec sleep 30"), "took longer than 0.5 seconds"},
        {"out of memory",
         script("memory", "ulimit -v 20000; exec python3 -c 'x = bytearray(1 << 30)'"),
         "stopped before the end"},
    };
    for (const auto &f : faults) {
        SCOPED_TRACE(f.what);
        // Only the hang waits for the deadline: the others end by themselves, however slowly.
        WorkbookReader::setLegacyDeadline(QByteArray(f.what) == "hang" ? 500 : 30000);
        qputenv("ZQ_XLS_READER", QFile::encodeName(f.helper));
        WorkbookReader legacy;
        EXPECT_FALSE(legacy.open(fixture("office-book.xls")));
        EXPECT_TRUE(legacy.errorText().contains(f.message)) << legacy.errorText().toStdString();
    }
    WorkbookReader::setLegacyDeadline(30000);

    // Unnamed, the helper is looked for next to the object holding the reader (here the
    // test program, in the host the plug-in), then beside the data library, which this test
    // program does not load.
    qunsetenv("ZQ_XLS_READER");
    WorkbookReader unnamed;
    EXPECT_FALSE(unnamed.open(fixture("office-book.xls")));
    const QString message = unnamed.errorText();
    const QString prefix = "the legacy workbook reader zqxlsread is missing (looked in ";
    ASSERT_TRUE(message.startsWith(prefix) && message.endsWith("/)")) << message.toStdString();
    EXPECT_EQ(QFileInfo(message.mid(prefix.size()).chopped(1)).canonicalFilePath(),
              QFileInfo(QFile::symLinkTarget("/proc/self/exe")).canonicalPath());
    qputenv("ZQ_XLS_READER", original);
}
