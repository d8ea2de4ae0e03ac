// A workbook's rows go to the import as their cells. They must be judged and stored exactly
// as the rows joined with commas (each cell quoted where it must be) always were: the same
// holders, codes, refusals and counts, for cells of every awkward kind a spreadsheet holds.
#include "FormTest.h"
#include "RefusingSite.h"
#include "WorkbookFiles.h"

#include "HolderImport.h"
#include "HolderImportFile.h"
#include "TransferFormat.h"
#include "WorkbookReader.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

using namespace zq::transfer;

namespace {

const QString kOrder = QStringLiteral("123456789ABCD");

QByteArray text(const QByteArray &ref, const QByteArray &value)
{
    return "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t xml:space=\"preserve\">" + value
           + "</t></is></c>";
}

QByteArray plainRow(int r, const QByteArray &cells)
{
    return "<row r=\"" + QByteArray::number(r) + "\">" + cells + "</row>";
}

// Rows of every kind: a number, a date serial, a boolean, an error, shared strings with runs,
// commas, quotes (one leading), line ends, blanks, empty cells between filled ones, cells
// without references, too many cells, a row holding values only beyond the order, and the
// lines a verdict refuses.
QByteArray sheetRows()
{
    QByteArray rows;
    rows += plainRow(1,
                     text("A1", "W001") + text("B1", "Smith, John") + text("C1", "a\"b@x.com")
                         + "<c r=\"D1\" s=\"1\"><v>33010</v></c>"
                         + "<c r=\"E1\" t=\"d\"><v>2024-02-29T00:00:00</v></c>"
                         + text("G1", "\"quoted start") + text("H1", "line\nbreak")
                         + text("I1", "  blanks  ") + text("J1", "Dept, One")
                         + "<c r=\"K1\" t=\"b\"><v>1</v></c><c r=\"L1\" t=\"e\"><v>#N/A</v></c>"
                         + "<c r=\"M1\"><v>7</v></c>");
    rows += plainRow(2,
                     text("A2", "W002") + "<c r=\"C2\" t=\"s\"><v>0</v></c>"
                         + "<c t=\"inlineStr\"><is><t>1990-05-17</t></is></c><c r=\"E2\"/>"
                         + text("F2", "   ") + "<c r=\"J2\" t=\"s\"><v>1</v></c>");
    rows += plainRow(3, text("A3", "W003") + text("B3", "too wide") + text("N3", "extra"));
    rows += plainRow(4, text("P4", "far beyond the order"));
    rows += plainRow(5, text("A5", "W_x0001_5") + text("B5", "control in the number"));
    rows += plainRow(6, text("A6", "W006") + text("B6", "Refused"));
    rows += plainRow(7, text("A7", "W001") + text("B7", "second W001"));
    rows += plainRow(8, text("B8", "no number"));
    rows += plainRow(9, text("A9", "W009") + text("B9", "nul_x0000_here"));
    rows += plainRow(10, text("A10", "W010") + text("B10", "two_x000D_\nlines,\r\nthree"));
    rows += plainRow(11, text("A11", "W011") + text("D11", "31-02-2020"));
    rows += plainRow(12, "<c r=\"A12\"><v>12345</v></c>" + text("B12", "say \"hi\", twice"));
    rows += plainRow(13, text("A13", " W013 ") + text("B13", ",") + text("C13", "\"\""));
    rows += plainRow(14, text("A14", "W014") + "<c r=\"B14\" t=\"s\"><v>2</v></c>");
    rows += plainRow(15, text("A15", "W015") + text("M15", "x") + text("N15", "  "));
    // Enough plain holders that the writes go in batches of many rows.
    for (int i = 0; i < 60; ++i)
        rows += plainRow(
            20 + i,
            text("A" + QByteArray::number(20 + i), "M" + QByteArray::number(i))
                + text("B" + QByteArray::number(20 + i), "Plain")
                + text("J" + QByteArray::number(20 + i), "Dept " + QByteArray::number(i % 3)));
    return rows;
}

bool writeBook(const QString &path)
{
    using namespace zq::test;
    const QByteArray styles
        = "<styleSheet><numFmts><numFmt numFmtId=\"164\" formatCode=\"yyyy-mm-dd\"/></numFmts>"
          "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"164\"/></cellXfs></styleSheet>";
    return writeZip(path,
                    {{"xl/workbook.xml", kWorkbookXml},
                     {"xl/worksheets/sheet1.xml", sheetXml(sheetRows())},
                     {"xl/styles.xml", styles},
                     {"xl/sharedStrings.xml",
                      sharedStringsXml("<si><r><t>rich</t></r><r><t>@runs.com</t></r></si>"
                                       "<si><t>Dept \"Two\"</t><rPh><t>ph</t></rPh></si>"
                                       "<si><t>Shared, name</t></si>")}});
}

// The rows as they went to the import before: joined with commas, each cell trimmed and
// quoted where it must be, cut one past the order and filled up to it.
void importJoined(HolderImport &run, const QString &path)
{
    zq::platform::WorkbookReader book;
    book.setDateFormat(run.options().dateFormat);
    ASSERT_TRUE(book.open(path)) << book.errorText().toStdString();
    const qsizetype codes = run.options().columnOrder.size();
    int row = 0;
    QStringList cells;
    while (book.nextRow(row, cells)) {
        if (cells.size() > codes + 1)
            cells.resize(codes + 1);
        while (cells.size() < codes)
            cells.append(QString());
        QString line;
        for (const QString &cell : std::as_const(cells))
            line += quotedField(valueText(cell), u',') + QLatin1Char(',');
        run.importLine(line, row + 1);
    }
    EXPECT_EQ(book.errorText(), "");
    EXPECT_TRUE(run.finish());
}

} // namespace

class ImportCellsTest : public zq::test::RefusingSiteTest
{
protected:
    QStringList rows(const QString &sql) { return zq::test::rowTexts(db().database(), sql); }

    struct Outcome
    {
        QStringList holders;
        QStringList codes;
        QStringList refusals;
        QList<int> counts;
    };

    Outcome run(const QString &book, bool cells, bool cover)
    {
        exec({"DELETE FROM HolderData",
              "DELETE FROM DepartmentData",
              "DELETE FROM OccupationTitle",
              "DELETE FROM OccupationType",
              "DELETE FROM UserRightDept",
              "INSERT INTO HolderData (HolderNo, HolderName, SequenceNo) VALUES ('M1  ', "
              "'Seeded', 1)"});
        ImportOptions options;
        options.columnOrder = kOrder;
        options.cover = cover;
        options.dateFormat = "yyyy-MM-dd";
        options.today = QDate(2026, 1, 2);
        options.userId = "admin";
        HolderImport import(&db(), options);
        EXPECT_TRUE(import.start());
        if (cells) {
            const ImportFileResult result = importFile(import, book, ImportFileKind::Workbook);
            EXPECT_EQ(result.status, ImportFileResult::Status::Complete)
                << result.error.toStdString();
        } else {
            importJoined(import, book);
        }
        Outcome o;
        o.refusals = refusalTexts(import);
        o.counts = outcomeCounts(import);
        o.holders = rows("SELECT HolderNo, HolderName, Email, Birthday, StartDate, ExpiredDate, "
                         "Definable1, Definable2, Description, DepartmentNo, TitleNo, TypeNo, "
                         "PIN FROM HolderData ORDER BY HolderNo");
        o.codes = rows("SELECT DepartmentNo, DepartmentName FROM DepartmentData ORDER BY 1")
                  + rows("SELECT TitleNo, TitleName FROM OccupationTitle ORDER BY 1")
                  + rows("SELECT TypeNo, TypeName FROM OccupationType ORDER BY 1");
        return o;
    }
};

TEST_P(ImportCellsTest, JudgesAndStoresAsTheJoinedRowsDid)
{
    ZQ_FORM_DB();
    refuseByTrigger();
    QTemporaryDir dir;
    const QString book = dir.filePath("awkward.xlsx");
    ASSERT_TRUE(writeBook(book));
    for (const bool cover : {false, true}) {
        SCOPED_TRACE(cover ? "overwriting" : "keeping");
        const Outcome joined = run(book, false, cover);
        const Outcome cells = run(book, true, cover);
        EXPECT_EQ(cells.refusals, joined.refusals);
        EXPECT_EQ(cells.counts, joined.counts);
        EXPECT_EQ(cells.holders, joined.holders);
        EXPECT_EQ(cells.codes, joined.codes);

        // What both must hold, so that they cannot agree on a fault.
        ASSERT_EQ(cells.refusals.size(), 8) << cells.refusals.join("\n").toStdString();
        const QStringList expected{"3|W003|too_many_fields||13",
                                   "5|W\x01"
                                   "5|control|HolderNo|",
                                   "6|W006|database||",
                                   "7|W001|duplicate||1",
                                   "8||empty_number||",
                                   "9|W009|nul|HolderName|",
                                   "11|W011|bad_date|Birthday|31-02-2020",
                                   "15|W015|too_many_fields||13"};
        for (qsizetype i = 0; i < expected.size(); ++i)
            EXPECT_TRUE(cells.refusals.at(i).startsWith(expected.at(i)))
                << cells.refusals.at(i).toStdString();
        EXPECT_EQ(cells.counts.at(int(HolderImport::Outcome::Ignored)), 1);
        EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'W001'"),
                  "Smith, John");
        EXPECT_EQ(scalar("SELECT Definable1 FROM HolderData WHERE HolderNo = 'W001'"),
                  "\"quoted start");
        EXPECT_EQ(scalar("SELECT PIN FROM HolderData WHERE HolderNo = 'W001'"), "7");
        EXPECT_EQ(scalar("SELECT Email FROM HolderData WHERE HolderNo = 'W002'"), "rich@runs.com");
        EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'W010'"),
                  "two\r\nlines,\nthree");
        EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = '12345'"),
                  "say \"hi\", twice");
        EXPECT_EQ(scalar("SELECT Email FROM HolderData WHERE HolderNo = 'W013'"), "\"\"");
    }
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         ImportCellsTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);

// The rows are read ahead of the import on a thread of their own: the import still stops
// exactly where the sheet breaks off or where it is cancelled, and its progress only grows.
TEST_P(ImportCellsTest, ReadingAheadStopsWhereTheImportStops)
{
    ZQ_FORM_DB();
    QTemporaryDir dir;
    QByteArray rows;
    for (int r = 1; r <= 500; ++r)
        rows += plainRow(r,
                         text("A" + QByteArray::number(r), "R" + QByteArray::number(r))
                             + text("B" + QByteArray::number(r), "Ahead"));
    const QString whole = dir.filePath("whole.xlsx");
    const QString cut = dir.filePath("cut.xlsx");
    ASSERT_TRUE(zq::test::writeSheet(whole, zq::test::sheetXml(rows)));
    ASSERT_TRUE(zq::test::writeSheet(cut,
                                     "<worksheet><sheetData>"
                                         + rows.left(rows.indexOf("<row r=\"301\""))
                                         + "<row r=\"301\"><c t=\"inlineStr\"><is><t>R3"));
    const struct
    {
        const char *what;
        QString path;
        int cancelAt; // progress calls before the cancel, -1 for none
        ImportFileResult::Status status;
        int stored;
    } cases[] = {
        {"complete", whole, -1, ImportFileResult::Status::Complete, 500},
        {"broken off", cut, -1, ImportFileResult::Status::Unreadable, 300},
        {"cancelled", whole, 10, ImportFileResult::Status::Cancelled, 10},
        {"cancelled at once", whole, 1, ImportFileResult::Status::Cancelled, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        exec({"DELETE FROM HolderData"});
        ImportOptions options;
        options.columnOrder = kOrder;
        options.dateFormat = "yyyy-MM-dd";
        options.today = QDate(2026, 1, 2);
        options.userId = "admin";
        HolderImport import(&db(), options);
        ASSERT_TRUE(import.start());
        QList<qint64> steps;
        const ImportFileResult result = importFile(
            import, c.path, ImportFileKind::Workbook, [&](qint64 done, qint64 total) {
                EXPECT_EQ(total, 1000);
                steps << done;
                return c.cancelAt < 0 || steps.size() < c.cancelAt;
            });
        EXPECT_EQ(result.status, c.status) << result.error.toStdString();
        if (c.status == ImportFileResult::Status::Unreadable) {
            EXPECT_TRUE(result.error.contains("ends in the middle")) << result.error.toStdString();
        }
        EXPECT_EQ(import.stored(), c.stored);
        EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderName = 'Ahead'"), c.stored);
        EXPECT_TRUE(std::is_sorted(steps.cbegin(), steps.cend()));
        EXPECT_EQ(steps.size(), c.cancelAt < 0 ? c.stored : c.cancelAt);
    }
}
