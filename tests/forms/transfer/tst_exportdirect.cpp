// The export reads its rows straight from the engine's client library; here every file it
// writes that way is compared with the file of the rows read through Qt's driver and
// written value by value as QStrings: byte for byte for text files, cell for cell for
// workbooks, on data that other tools leave in a site database.
#include "FormTest.h"

#include "Backend.h"
#include "HolderExport.h"
#include "TextRows.h"
#include "TransferFormat.h"
#include "TransferText.h"
#include "WorkbookReader.h"
#include "WorkbookWriter.h"

#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>

using zq::data::Engine;
using zq::transfer::ExportRequest;
using zq::transfer::HolderExport;

namespace {

QString literal(const QString &text)
{
    return zq::data::Connection::quoted(text);
}

// Texts of at most 20 characters (the narrowest column that takes them): separators,
// quotes, line ends, blanks and control characters at either end or inside, what reads
// like a workbook escape, wide and astral characters, the byte-order mark and U+FFFF.
const QStringList kTexts{"Lee, Ann",
                         "say \"hi\"",
                         "\"quoted\" first",
                         "two\r\nlines",
                         "cr\ronly",
                         "lf\nonly",
                         "tab\there",
                         "semi;colon:colon",
                         "007",
                         QString::fromUtf8("陳大文"),
                         "",
                         "\"",
                         "  blanks around  ",
                         "after key   ",
                         "\t\x01lead",
                         QString::fromUtf8("nel\u0085"),
                         QString::fromUtf8("\u0085\u009Fc1 lead"),
                         "_x000D_ escape",
                         "a_b_x00_",
                         QString::fromUtf8("😀 astral"),
                         QString::fromUtf8("end \uFFFF"),
                         QString::fromUtf8("\uFEFFbom"),
                         QString::fromUtf8("\u00A0nbsp\u00A0"),
                         "mid\x01"
                         "dle",
                         "\x7F"
                         "del",
                         "back\\slash",
                         "\\N",
                         "v\x0B"
                         "f\x0C"
                         "b\x08",
                         QString::fromUtf8("全角\u3000空白")};

// The same as SQL, with what only one engine holds: SQLite blobs, text that is not UTF-8
// and a NUL inside a text.
QStringList textExpressions(Engine engine)
{
    QStringList e;
    for (const QString &t : kTexts)
        e << literal(t);
    e << "NULL";
    if (engine == Engine::SQLite)
        e << "X'4869'"
          << "CAST(X'C0AF' AS TEXT)"
          << "CAST(X'EDA080' AS TEXT)"
          << "CAST(X'61FF62' AS TEXT)"
          << "CAST(X'610062' AS TEXT)"
          << "12345"
          << "1.5";
    return e;
}

// Date-times as the module writes them, empty, and as other tools leave them.
QStringList dateExpressions(Engine engine)
{
    QStringList e{"NULL",
                  "'1899-12-30 00:00:00'",
                  "'1960-01-01 00:00:00'",
                  "'2000-02-29 00:00:00'",
                  "'2005-03-04 00:00:00'",
                  "'2038-01-19 00:00:00'"};
    if (engine == Engine::SQLite)
        e << "''"
          << "'2020-02-30 00:00:00'"
          << "'0000-01-01 00:00:00'"
          << "'2020-1-1'"
          << "' 2020-01-01'"
          << "'2020-01-01T10:00:00'"
          << "'garbage'"
          << "'2020/01/02 00:00:00'"
          << "20200101"
          << "2020.5"
          << "'2020-01-0112'"
          << "'2020-01-01'"
          << "X'323032302D30312D3031'"
          << "CAST(X'C0AF' AS TEXT)";
    else
        e << "'2020-06-30 23:59:59.5'"
          << "'2020-06-30 23:59:59.123456'"
          << "'infinity'"
          << "'-infinity'"
          << "'0044-03-15 00:00:00 BC'"
          << "'10000-01-01 00:00:00'";
    return e;
}

const QStringList kOrders{"123456789ABCD", "DCBA987654321", "A1B4", "2"};
const QStringList kFormats{"yyyy-MM-dd", "dd/MM/yyyy", "d MMM yyyy", "yy.M.d"};

struct Scope
{
    const char *name;
    ExportRequest request;
};

QList<Scope> scopes()
{
    ExportRequest every;
    every.supervisor = true;
    every.userId = "admin";
    ExportRequest rights;
    rights.userId = "u1";
    ExportRequest one;
    one.allDepartments = false;
    one.departmentNo = "D2";
    ExportRequest punch = every;
    punch.punchCardOnly = true;
    return {
        {"supervisor", every}, {"rights", rights}, {"one department", one}, {"punch card", punch}};
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<no file>");
}

// Rows as lines of their number and cells, for readable differences.
std::string joined(const QList<QStringList> &rows)
{
    QString text;
    for (const QStringList &r : rows)
        text += r.join(QStringLiteral(" | ")) + u'\n';
    return text.toStdString();
}

std::string workbookRows(const QString &path)
{
    zq::platform::WorkbookReader reader;
    QList<QStringList> rows;
    if (!reader.open(path))
        return "<unreadable> " + reader.errorText().toStdString();
    int row = 0;
    QStringList cells;
    while (reader.nextRow(row, cells))
        rows << (QStringList{QString::number(row)} + cells);
    return joined(rows);
}

} // namespace

class ExportDirectTest : public zq::test::FormTest
{
protected:
    void fillSite()
    {
        const Engine engine = GetParam();
        exec(
            {"INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D1', 'Sales, "
             "East')",
             "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D2', '\"Q\" Lab')",
             "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D3', '研發部')",
             "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D4', "
             "'  padded  ')",
             "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D5', NULL)",
             "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T1', 'Clerk; senior')",
             "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T2', '0042')",
             "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T3', 'tab\tin')",
             "INSERT INTO OccupationType (TypeNo, TypeName) VALUES ('Y1', 'Staff: day')",
             "INSERT INTO OccupationType (TypeNo, TypeName) VALUES ('Y2', '訪客')",
             "INSERT INTO OccupationType (TypeNo, TypeName) VALUES ('Y3', '')",
             "INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('u1', 'U', 0)",
             "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('u1', 'D1')",
             "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('u1', 'D3')"});
        const QStringList texts = textExpressions(engine);
        const QStringList dates = dateExpressions(engine);
        const QStringList pins{"'0012'", "''", "NULL", "'1,2'", "'\"9'", "' 77 '"};
        QStringList statements;
        const int holders = int(std::max(texts.size(), dates.size())) + 5;
        for (int i = 0; i < holders; ++i) {
            // Numbers as stored by other tools too: blanks after the key, wide, quoted.
            const QStringList numbers{QString("H%1").arg(i, 3, 10, QChar('0')),
                                      QString("H%1   ").arg(i, 3, 10, QChar('0')),
                                      QString::fromUtf8("陳%1").arg(i),
                                      QString("\"H%1").arg(i),
                                      QString("H,%1").arg(i)};
            const auto text = [&](int column) { return texts.at((i + 7 * column) % texts.size()); };
            const auto date = [&](int column) { return dates.at((i + 3 * column) % dates.size()); };
            statements << QString("INSERT INTO HolderData (HolderNo, HolderName, Email, Birthday, "
                                  "StartDate, ExpiredDate, Definable1, Definable2, Description, "
                                  "DepartmentNo, TitleNo, TypeNo, PIN, PunchCard) VALUES "
                                  "(%1, %2, %3, %4, %5, %6, %7, %8, %9, '%10', 'T%11', 'Y%12', "
                                  "%13, %14)")
                              .arg(literal(numbers.at(i % numbers.size())),
                                   text(0),
                                   text(1),
                                   date(0),
                                   date(1),
                                   date(2),
                                   text(2),
                                   text(3),
                                   text(4))
                              .arg(QString("D%1").arg(i % 5 + 1))
                              .arg(i % 3 + 1)
                              .arg(i % 3 + 1)
                              .arg(pins.at(i % pins.size()))
                              .arg(i % 2);
        }
        exec(statements);
    }

    // The file of the rows read through Qt's driver, each line built from QStrings.
    QByteArray driverText(const ExportRequest &request,
                          const QString &order,
                          const QString &format,
                          QChar separator)
    {
        HolderExport holders(&db(), request, order, format);
        zq::test::useBackend(db(), false);
        if (!holders.open())
            return "<not open> " + holders.errorText().toUtf8();
        const QString path = m_dir.filePath("driver.txt");
        zq::transfer::TextLineWriter file(path);
        file.open();
        holders.forEachRow([&](int, const QStringList &values) {
            return file.writeLine(zq::transfer::buildLine(values, separator));
        });
        file.commit();
        return readAll(path);
    }

    // The file writeTextFile writes; `direct` false: from rows read through the driver, as
    // where the engine cannot be read directly.
    QByteArray directText(const ExportRequest &request,
                          const QString &order,
                          const QString &format,
                          QChar separator,
                          bool direct = true)
    {
        HolderExport holders(&db(), request, order, format);
        zq::test::useBackend(db(), direct);
        if (!holders.open())
            return "<not open> " + holders.errorText().toUtf8();
        EXPECT_EQ(db().fallbacks(), 0) << db().backend().lastFallback().toStdString();
        const QString path = m_dir.filePath("direct.txt");
        QString error;
        if (!zq::transfer::writeTextFile(holders, path, {}, error, separator))
            return "<not written> " + error.toUtf8();
        return readAll(path);
    }

    QTemporaryDir m_dir;
};

TEST_P(ExportDirectTest, TextFilesAreTheBytesOfTheDriversValues)
{
    ZQ_FORM_DB();
    fillSite();
    int compared = 0;
    for (const Scope &scope : scopes()) {
        for (const QChar separator : zq::transfer::transferSeparators()) {
            for (const QString &order : kOrders) {
                for (const QString &format : {kFormats.at(0), kFormats.at(2)}) {
                    SCOPED_TRACE(QString("%1, separator %2, order %3, format %4")
                                     .arg(scope.name)
                                     .arg(separator.unicode())
                                     .arg(order, format)
                                     .toStdString());
                    const QByteArray expected = driverText(scope.request, order, format, separator);
                    ASSERT_FALSE(expected.startsWith("<"));
                    ASSERT_EQ(directText(scope.request, order, format, separator).toStdString(),
                              expected.toStdString());
                    compared += expected.isEmpty() ? 0 : 1;
                }
            }
        }
    }
    EXPECT_EQ(compared, 4 * 4 * 4 * 2);
}

// Where the engine cannot be read directly the writers take the driver's values.
TEST_P(ExportDirectTest, FilesOfTheDriversRowsAreTheSameToo)
{
    ZQ_FORM_DB();
    fillSite();
    const ExportRequest every = scopes().at(0).request;
    for (const QChar separator : zq::transfer::transferSeparators()) {
        SCOPED_TRACE(int(separator.unicode()));
        const QByteArray expected = driverText(every, kOrders.at(0), "d MMM yyyy", separator);
        EXPECT_EQ(directText(every, kOrders.at(0), "d MMM yyyy", separator, false).toStdString(),
                  expected.toStdString());
    }
}

TEST_P(ExportDirectTest, DatesInEveryFormatAreTheDriversDays)
{
    ZQ_FORM_DB();
    fillSite();
    const ExportRequest every = scopes().at(0).request;
    for (const QString &format : kFormats) {
        SCOPED_TRACE(format.toStdString());
        const QByteArray expected = driverText(every, "1456", format, u',');
        ASSERT_EQ(directText(every, "1456", format, u',').toStdString(), expected.toStdString());
    }
}

TEST_P(ExportDirectTest, TheValueListsAreTheDriversToo)
{
    ZQ_FORM_DB();
    fillSite();
    const ExportRequest every = scopes().at(0).request;
    const auto rows = [&](bool direct) {
        HolderExport holders(&db(), every, kOrders.at(0), "dd/MM/yyyy");
        zq::test::useBackend(db(), direct);
        EXPECT_TRUE(holders.open());
        EXPECT_EQ(db().fallbacks(), 0) << db().backend().lastFallback().toStdString();
        QList<QStringList> all;
        holders.forEachRow([&](int, const QStringList &values) {
            all << values;
            return true;
        });
        return all;
    };
    const QList<QStringList> expected = rows(false);
    EXPECT_GT(expected.size(), 30);
    EXPECT_EQ(joined(rows(true)), joined(expected));
}

TEST_P(ExportDirectTest, WorkbooksHoldTheDriversCells)
{
    ZQ_FORM_DB();
    fillSite();
    for (const Scope &scope : scopes()) {
        for (const QString &order : {kOrders.at(0), kOrders.at(1)}) {
            for (const QString &format : {kFormats.at(0), kFormats.at(2)}) {
                SCOPED_TRACE(QString("%1, order %2, format %3")
                                 .arg(scope.name, order, format)
                                 .toStdString());
                // The driver's QStrings cell by cell, as the export wrote them before.
                const QString expectedPath = m_dir.filePath("driver.xlsx");
                {
                    HolderExport holders(&db(), scope.request, order, format);
                    zq::test::useBackend(db(), false);
                    ASSERT_TRUE(holders.open());
                    zq::platform::WorkbookWriter book;
                    ASSERT_TRUE(book.create() && book.selectFirstSheet());
                    holders.forEachRow([&](int index, const QStringList &values) {
                        for (int j = 0; j < values.size(); ++j)
                            EXPECT_TRUE(book.setCell(index, j, values.at(j)));
                        return true;
                    });
                    ASSERT_TRUE(book.saveAs(expectedPath));
                }
                zq::test::useBackend(db(), true);
                HolderExport holders(&db(), scope.request, order, format);
                ASSERT_TRUE(holders.open());
                EXPECT_EQ(db().fallbacks(), 0) << db().backend().lastFallback().toStdString();
                const QString path = m_dir.filePath("direct.xlsx");
                QString error;
                ASSERT_TRUE(zq::transfer::writeWorkbook(holders, path, {}, error))
                    << error.toStdString();
                const std::string expected = workbookRows(expectedPath);
                EXPECT_GT(std::count(expected.begin(), expected.end(), '\n'), 3);
                EXPECT_EQ(workbookRows(path), expected);
            }
        }
    }
}

// A cancel part way leaves no file, and the connection serves the next statements (on
// PostgreSQL the copy it stopped is over).
TEST_P(ExportDirectTest, AStopPartWayLeavesNoFileAndTheLinkReady)
{
    ZQ_FORM_DB();
    fillSite();
    const ExportRequest every = scopes().at(0).request;
    for (const bool workbook : {false, true}) {
        SCOPED_TRACE(workbook ? "workbook" : "text");
        HolderExport holders(&db(), every, kOrders.at(0), "yyyy-MM-dd");
        ASSERT_TRUE(holders.open());
        const QString path = m_dir.filePath(workbook ? "stopped.xlsx" : "stopped.txt");
        QString error;
        const auto stop = [](int done) { return done < 3; };
        const bool written = workbook ? zq::transfer::writeWorkbook(holders, path, stop, error)
                                      : zq::transfer::writeTextFile(holders, path, stop, error);
        EXPECT_FALSE(written);
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_GT(count("SELECT COUNT(*) FROM HolderData"), 30);
    }
    const QByteArray expected = driverText(every, kOrders.at(0), "yyyy-MM-dd", u',');
    EXPECT_EQ(directText(every, kOrders.at(0), "yyyy-MM-dd", u',').toStdString(),
              expected.toStdString());
}

// The link cut while the rows stream in: the export fails with a reason and writes no file;
// the connection is closed as lost and the next export connects again.
TEST_P(ExportDirectTest, ALinkCutWhileTheRowsStreamFailsAndTheNextExportWorks)
{
    ZQ_FORM_DB();
    if (GetParam() != Engine::PostgreSQL)
        GTEST_SKIP() << "a link to cut is PostgreSQL's";
    fillSite();
    // Enough rows that the server is still sending when the link goes.
    exec({"INSERT INTO HolderData (HolderNo, HolderName, Email, DepartmentNo, TitleNo, TypeNo) "
          "SELECT 'N' || LPAD(n::text, 6, '0'), 'Holder name ' || n, 'holder' || n || "
          "'@example.com', 'D1', 'T1', 'Y1' FROM generate_series(1, 60000) AS n"});
    const QString pid = scalar("SELECT pg_backend_pid()");
    const ExportRequest every = scopes().at(0).request;
    const QString path = m_dir.filePath("cut.txt");
    {
        zq::test::useBackend(db(), true);
        HolderExport holders(&db(), every, kOrders.at(0), "yyyy-MM-dd");
        ASSERT_TRUE(holders.open());
        ASSERT_EQ(db().fallbacks(), 0);
        auto other = m_db->openAnother();
        bool cut = false;
        QString error;
        const bool written = zq::transfer::writeTextFile(
            holders,
            path,
            [&](int done) {
                if (done == 10 && !cut)
                    cut = other->execute("SELECT pg_terminate_backend(" + pid + ")");
                return true;
            },
            error);
        ASSERT_TRUE(cut);
        EXPECT_FALSE(written);
        EXPECT_FALSE(error.isEmpty());
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_FALSE(db().isConnected());
    }
    HolderExport again(&db(), every, "1", "yyyy-MM-dd");
    ASSERT_TRUE(again.open()) << again.errorText().toStdString();
    QString error;
    ASSERT_TRUE(zq::transfer::writeTextFile(again, path, {}, error)) << error.toStdString();
    EXPECT_EQ(readAll(path).count("\r\n"), again.rowCount());
}

// A cell the sheet cannot hold (over 32,767 characters, which only SQLite stores in a
// narrow column) stops the workbook with the library's reason and leaves no file, as the
// cell-by-cell writing did; the text file takes it whole. The connection's memory map is as
// it was after each export.
TEST_P(ExportDirectTest, ACellTooLongForTheSheetFailsTheWorkbookOnly)
{
    ZQ_FORM_DB();
    if (GetParam() != Engine::SQLite)
        GTEST_SKIP() << "PostgreSQL keeps the column's width";
    fillSite();
    const QString mapBefore = scalar("PRAGMA mmap_size");
    exec({"UPDATE HolderData SET HolderName = " + literal(QString(40000, u'x'))
          + " WHERE HolderNo = 'H020'"});
    const ExportRequest every = scopes().at(0).request;
    QString error;
    {
        HolderExport holders(&db(), every, kOrders.at(0), "yyyy-MM-dd");
        ASSERT_TRUE(holders.open());
        const QString path = m_dir.filePath("long.xlsx");
        EXPECT_FALSE(zq::transfer::writeWorkbook(holders, path, {}, error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_FALSE(QFile::exists(path));
    }
    EXPECT_EQ(scalar("PRAGMA mmap_size"), mapBefore);
    const QByteArray expected = driverText(every, kOrders.at(0), "yyyy-MM-dd", u',');
    EXPECT_TRUE(expected.contains(QByteArray(40000, 'x')));
    EXPECT_EQ(directText(every, kOrders.at(0), "yyyy-MM-dd", u',').toStdString(),
              expected.toStdString());
    EXPECT_EQ(scalar("PRAGMA mmap_size"), mapBefore);
}

// The byte test of plain UTF-8 that decides which values go the driver's way.
TEST(PlainUtf8, TellsTextThatEveryDecoderKeeps)
{
    using zq::data::isPlainUtf8;
    EXPECT_TRUE(isPlainUtf8(""));
    EXPECT_TRUE(isPlainUtf8("plain ASCII text, longer than one word"));
    EXPECT_TRUE(isPlainUtf8(QByteArrayView("nul\0inside", 10)));
    EXPECT_TRUE(isPlainUtf8("\xC2\x85\xE9\x99\xB3\xF0\x9F\x98\x80\xEF\xBF\xBD"));
    for (const char *bad : {"\xC0\xAF",         // over-long
                            "\xE0\x80\xAF",     // over-long
                            "\xED\xA0\x80",     // a surrogate
                            "\xF4\x90\x80\x80", // beyond U+10FFFF
                            "\xEF\xBB\xBF",     // the byte-order mark
                            "\xEF\xBF\xBE",
                            "\xEF\xBF\xBF",
                            "a\xFF"
                            "b",
                            "\x80",
                            "\xE9\x99",
                            "ends in \xF0\x9F\x98"})
        EXPECT_FALSE(isPlainUtf8(bad)) << QByteArray(bad).toHex().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         ExportDirectTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);
