// Workbooks written and read back, workbooks saved by an office suite (both file kinds),
// and damaged or hostile files.
#include "WorkbookReader.h"
#include "WorkbookWriter.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <zip.h>

using namespace zq::platform;

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

// A workbook of hand-made parts, to try what the writer never produces.
bool writeZip(const QString &path, const QList<QPair<QByteArray, QByteArray>> &parts)
{
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    if (!zip)
        return false;
    for (const auto &part : parts) {
        if (zipOpenNewFileInZip64(zip,
                                  part.first.constData(),
                                  nullptr,
                                  nullptr,
                                  0,
                                  nullptr,
                                  0,
                                  nullptr,
                                  Z_DEFLATED,
                                  Z_BEST_COMPRESSION,
                                  1)
            != ZIP_OK)
            return false;
        zipWriteInFileInZip(zip, part.second.constData(), unsigned(part.second.size()));
        zipCloseFileInZip(zip);
    }
    return zipClose(zip, nullptr) == ZIP_OK;
}

const QByteArray kWorkbookXml
    = "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
      "<sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";

QByteArray sheetXml(const QByteArray &rows, const QByteArray &dimension = {})
{
    return "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
           + (dimension.isEmpty() ? QByteArray() : "<dimension ref=\"" + dimension + "\"/>")
           + "<sheetData>" + rows + "</sheetData></worksheet>";
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
    WorkbookReader book;
    ASSERT_TRUE(book.open(cut));
    EXPECT_EQ(book.usedRowCount(), 300000);
    QString text;
    EXPECT_TRUE(book.cellText(0, 0, text));
    EXPECT_EQ(text, "x");
    EXPECT_FALSE(book.cellText(299999, 0, text));
    EXPECT_FALSE(book.errorText().isEmpty());
}
