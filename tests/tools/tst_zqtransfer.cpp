// zqtransfer run as its real binary without a display: exit statuses with one line saying
// why, the JSON counts, the refusal report, rights and department visibility, dry runs that
// leave the database as it was, and hostile files.
#include "Connection.h"
#include "Recordset.h"
#include "TestDatabase.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <zip.h>

using zq::data::Engine;

namespace {

struct ToolRun
{
    int status = -1;
    QString out;
    QString err;
    QStringList outLines() const { return out.split('\n', Qt::SkipEmptyParts); }
    QStringList errLines() const { return err.split('\n', Qt::SkipEmptyParts); }
    QJsonObject counts() const
    {
        return QJsonDocument::fromJson(outLines().value(outLines().size() - 1).toUtf8()).object();
    }
};

ToolRun runTool(const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // No display of any kind: the tool must not need one.
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert("LC_ALL", "C");
    p.setProcessEnvironment(env);
    p.start(QString::fromUtf8(ZQ_TRANSFER_BINARY), args);
    ToolRun run;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return run;
    }
    run.out = QString::fromUtf8(p.readAllStandardOutput());
    run.err = QString::fromUtf8(p.readAllStandardError());
    run.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    return run;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

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

// Columns: number, name, birthday, department.
const QString kColumns = QStringLiteral("124A");

} // namespace

class ToolTest : public testing::TestWithParam<Engine>
{
protected:
    void SetUp() override
    {
        m_db = std::make_unique<zq::test::TestDatabase>(GetParam());
        if (!m_db->isAvailable())
            return;
        m_db->exec(
            {"INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('admin', 'A', 1)",
             "INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('clerk', 'C', 0)",
             "INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('nobody', 'N', 0)",
             // The clerk may search: he may import, not export.
             "INSERT INTO UserProgramRight (UserID, RightKey, RightValue) "
             "VALUES ('clerk', 'BasicDataHolderB', 2)",
             "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D1', 'Sales')",
             "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D2', 'Lab')",
             "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T1', 'Clerk')",
             "INSERT INTO OccupationType (TypeNo, TypeName) VALUES ('Y1', 'Staff')",
             "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('admin', 'D1')",
             // The lead may do everything, in his department D1.
             "INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('lead', 'L', 0)",
             "INSERT INTO UserProgramRight (UserID, RightKey, RightValue) "
             "VALUES ('lead', 'BasicDataHolderB', 127)",
             "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('lead', 'D1')",
             "INSERT INTO HolderData (HolderNo, HolderName, Birthday, DepartmentNo, TitleNo, "
             "TypeNo, PunchCard, SequenceNo) VALUES ('H1', 'First', '2001-02-03 00:00:00', "
             "'D1', 'T1', 'Y1', 1, 1)",
             "INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, TitleNo, TypeNo, "
             "PunchCard, SequenceNo) VALUES ('H2', 'Second', 'D1', 'T1', 'Y1', 0, 2)",
             "INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, TitleNo, TypeNo, "
             "SequenceNo) VALUES ('H3', 'Lab man', 'D2', 'T1', 'Y1', 3)"});
    }

    QStringList site() const
    {
        if (GetParam() == Engine::PostgreSQL)
            return {"--pg", m_db->conninfo()};
        return {"--db", m_db->folder() + "/site.db"};
    }

    ToolRun tool(const QString &command, const QString &file, const QStringList &more)
    {
        return runTool(QStringList{command, file} + site() + more);
    }

    QString path(const QString &name) const { return m_db->folder() + "/" + name; }

    QString scalar(const QString &sql)
    {
        zq::data::Recordset rs;
        rs.setConnection(&m_db->connection());
        rs.setStatement(sql);
        rs.open();
        return rs.isEmpty() ? QString() : zq::data::Recordset::textOf(rs.valueAt(0, 0));
    }
    int count(const QString &sql) { return scalar(sql).toInt(); }

    // Every row of every table, as text, in a fixed order.
    QStringList allRows()
    {
        QStringList rows;
        for (const QString &table : m_db->connection().userTables()) {
            zq::data::Recordset rs;
            rs.setConnection(&m_db->connection());
            rs.setStatement("SELECT * FROM " + table);
            rs.open();
            for (int r = 0; r < rs.recordCount(); ++r) {
                QStringList values{table.toLower()};
                for (int c = 0; c < rs.fieldCount(); ++c)
                    values << zq::data::Recordset::textOf(rs.valueAt(r, c));
                rows << values.join('|');
            }
        }
        rows.sort();
        return rows;
    }

    std::unique_ptr<zq::test::TestDatabase> m_db;
};

#define ZQ_TOOL_DB() \
    if (!m_db->isAvailable()) { \
        if (::zq::test::postgresRequired()) \
            FAIL() << m_db->skipReason().toStdString(); \
        GTEST_SKIP() << m_db->skipReason().toStdString(); \
    }

TEST_P(ToolTest, NothingDoneEndsWithStatusTwoAndOneLineSayingWhy)
{
    ZQ_TOOL_DB();
    const QString good = path("good.txt");
    writeFile(good, "N1,New,1990-01-01,Sales,\r\n");
    const struct
    {
        const char *name;
        QStringList args;
        const char *why;
    } rows[] = {
        {"no user", {"import", good}, "--user"},
        {"no command", {good}, "command"},
        {"unknown command", {"merge", good, "--user", "admin"}, "unknown command"},
        {"bad columns", {"import", good, "--user", "admin", "--columns", "11"}, "--columns"},
        {"bad delimiter", {"import", good, "--user", "admin", "--delimiter", "ab"}, "--delimiter"},
        {"export option", {"import", good, "--user", "admin", "--department", "D1"}, "export"},
        {"import option", {"export", good, "--user", "admin", "--dry-run"}, "import"},
        {"missing file", {"import", path("gone.txt"), "--user", "admin"}, "cannot read"},
        {"no right", {"import", good, "--user", "nobody"}, "no right to import"},
        {"unknown user", {"import", good, "--user", "ghost"}, "no right to import"},
        {"report folder missing",
         {"import", good, "--user", "admin", "--refusals", path("no/such/folder/r.csv")},
         "refusal report"},
        {"no export right", {"export", path("out.txt"), "--user", "clerk"}, "no right to export"},
        {"department not held",
         {"export", path("out.txt"), "--user", "lead", "--department", "D2"},
         "department D2"},
        {"legacy workbook written", {"export", path("out.xls"), "--user", "admin"}, ".xls"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const ToolRun run = runTool(row.args + site());
        EXPECT_EQ(run.status, 2);
        ASSERT_EQ(run.errLines().size(), 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith("zqtransfer: "));
        EXPECT_TRUE(run.err.contains(QString::fromUtf8(row.why))) << run.err.toStdString();
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 3) << "nothing was stored";
    EXPECT_EQ(count("SELECT COUNT(*) FROM ProgramRunEdit"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData"), 2);
    EXPECT_FALSE(QDir(path("no")).exists());

    // A site database that is not there is not created.
    const ToolRun missing = runTool({"import", good, "--db", path("nosite.db"), "--user", "admin"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_FALSE(QFile::exists(path("nosite.db")));
}

TEST_P(ToolTest, AnImportStoresReportsRefusalsAndWritesAuditEntries)
{
    ZQ_TOOL_DB();
    const QString file = path("in.txt");
    writeFile(file,
              "N1,New One,1990-01-01,Yard,\r\n"
              "H1,Kept,,Sales,\r\n"
              ",No number,,,\r\n"
              "N1,\"Twice, again\",,,\r\n"
              "N2,Bad date,1990-13-01,,\r\n"
              "N3,Ok,,,\r\n");
    const QString csv = path("refused.csv");
    const ToolRun run = tool(
        "import", file, {"--user", "clerk", "--columns", kColumns, "--refusals", csv});
    EXPECT_EQ(run.status, 1) << run.err.toStdString();
    ASSERT_EQ(run.errLines().size(), 1);
    EXPECT_TRUE(run.err.contains("3 lines refused")) << run.err.toStdString();
    ASSERT_EQ(run.outLines().size(), 1) << "quiet without --progress or --dry-run";
    const QJsonObject counts = run.counts();
    EXPECT_EQ(counts.value("stored").toInt(), 2);
    EXPECT_EQ(counts.value("new").toInt(), 2);
    EXPECT_EQ(counts.value("overwritten").toInt(), 0);
    EXPECT_EQ(counts.value("kept").toInt(), 1);
    EXPECT_EQ(counts.value("refused").toInt(), 3);
    EXPECT_EQ(counts.value("codes_created").toInt(), 1);

    const QStringList report = QString::fromUtf8(readFile(csv)).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(report.size(), 4);
    EXPECT_EQ(report.at(0), "Line,Holder No,Code,Reason");
    EXPECT_EQ(report.at(1), "3,,empty_number,Empty holder number");
    EXPECT_TRUE(report.at(2).startsWith("4,N1,")) << report.at(2).toStdString();
    EXPECT_EQ(report.at(3), "5,N2,bad_date,\"Not a date in Birthday: \"\"1990-13-01\"\"\"");

    EXPECT_EQ(scalar("SELECT DepartmentNo FROM HolderData WHERE HolderNo = 'N1'"), "Yard");
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'H1'"), "First");
    EXPECT_EQ(scalar("SELECT SequenceNo FROM HolderData WHERE HolderNo = 'N3'"), "5");
    EXPECT_EQ(count("SELECT COUNT(*) FROM ProgramRunEdit WHERE UserID = 'clerk' AND "
                    "RightKey = 'BasicDataHolderB' AND Entry IN ('A N1', 'A N3', 'A Yard')"),
              3);

    // Overwriting, with every line good: status 0.
    writeFile(file, "H1;Renamed;2000-01-01;Lab;\r\nH2;Also;;;\r\n");
    const ToolRun again = tool("import",
                               file,
                               {"--user",
                                "admin",
                                "--columns",
                                kColumns,
                                "--delimiter",
                                ";",
                                "--overwrite",
                                "--progress"});
    EXPECT_EQ(again.status, 0) << again.err.toStdString();
    EXPECT_EQ(again.counts().value("overwritten").toInt(), 2);
    EXPECT_TRUE(again.err.contains("100% read")) << again.err.toStdString();
    EXPECT_EQ(scalar("SELECT DepartmentNo FROM HolderData WHERE HolderNo = 'H1'"), "D2");
    EXPECT_EQ(count("SELECT COUNT(*) FROM ProgramRunEdit WHERE Entry = 'E H2'"), 1);
}

TEST_P(ToolTest, ADryRunPrintsWhatTheImportWillDoAndLeavesTheDatabaseAsItWas)
{
    ZQ_TOOL_DB();
    const QString file = path("in.txt");
    writeFile(file,
              "N1,New One,1990-01-01,Yard,\r\n"
              "H1,Over,,Dock,\r\n"
              "N2,Bad,1990-13-01,,\r\n");
    const QString db = path("site.db");
    const QByteArray bytesBefore = GetParam() == Engine::SQLite ? readFile(db) : QByteArray();
    const QStringList rowsBefore = allRows();
    const ToolRun dry = tool("import",
                             file,
                             {"--user",
                              "admin",
                              "--columns",
                              kColumns,
                              "--overwrite",
                              "--dry-run",
                              "--refusals",
                              path("dry.csv")});
    EXPECT_EQ(dry.status, 1) << dry.err.toStdString();
    if (GetParam() == Engine::SQLite) {
        EXPECT_TRUE(readFile(db) == bytesBefore) << "the database file is byte-identical";
    }
    EXPECT_EQ(allRows(), rowsBefore);
    const QStringList out = dry.outLines();
    EXPECT_TRUE(out.contains("new: 1"));
    EXPECT_TRUE(out.contains("overwritten: 1"));
    EXPECT_TRUE(out.contains("refused: 1"));
    EXPECT_TRUE(out.contains("refused line 3 (N2): Not a date in Birthday: \"1990-13-01\""));
    EXPECT_TRUE(out.contains("would create department: Yard"));
    EXPECT_TRUE(out.contains("would create department: Dock"));
    EXPECT_EQ(readFile(path("dry.csv")).count('\n'), 2);

    const ToolRun real = tool(
        "import", file, {"--user", "admin", "--columns", kColumns, "--overwrite"});
    EXPECT_EQ(real.status, 1);
    EXPECT_EQ(real.outLines().constLast(), dry.outLines().constLast())
        << "the dry run counted what the import then did";
    EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData"), 4);
}

TEST_P(ToolTest, AnExportTakesTheUsersDepartmentsAndReadsBack)
{
    ZQ_TOOL_DB();
    const QString out = path("out.txt");
    writeFile(out, "stale");
    // The lead is no supervisor: his rights rows limit him to D1.
    ToolRun run = tool("export", out, {"--user", "lead", "--columns", "12A", "--delimiter", ";"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.counts().value("exported").toInt(), 2) << "lead holds a right on D1 only";
    EXPECT_EQ(readFile(out), "H1;First;Sales;\r\nH2;Second;Sales;\r\n");

    // A supervisor, as in the window: every holder, whatever his rights rows say (he has
    // one, on D1).
    run = tool("export", out, {"--user", "admin", "--columns", "12A", "--delimiter", ";"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(readFile(out), "H1;First;Sales;\r\nH2;Second;Sales;\r\nH3;Lab man;Lab;\r\n");
    run = tool("export", out, {"--user", "admin", "--department", "D2"});
    EXPECT_EQ(run.status, 0) << "a supervisor needs no rights row on the department";
    EXPECT_EQ(run.counts().value("exported").toInt(), 1);

    run = tool("export", out, {"--user", "admin", "--department", "D1", "--punch-card-only"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.counts().value("exported").toInt(), 1);

    const QString book = path("out.xlsx");
    run = tool("export", book, {"--user", "admin"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(readFile(book).startsWith("PK"));
    m_db->exec({"DELETE FROM HolderData"});
    run = tool("import", book, {"--user", "admin"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.counts().value("new").toInt(), 3) << "a workbook is told by its content";
    EXPECT_EQ(scalar("SELECT Birthday FROM HolderData WHERE HolderNo = 'H1'").left(10),
              "2001-02-03");

    m_db->exec({"DELETE FROM HolderData"});
    run = tool("export", out, {"--user", "admin"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains("no holders"));
    EXPECT_FALSE(QFile::exists(out)) << "as in the window, no file is left";
}

TEST_P(ToolTest, HostileFilesEndInRefusalsOrStatusTwoNeverACrash)
{
    ZQ_TOOL_DB();
    QByteArray garbage;
    for (int i = 0; i < 300000; ++i)
        garbage += char((i * 7919 + i / 13) % 256);
    QByteArray longLine(3 * 1024 * 1024, 'x');
    longLine += ",name,\r\nN9,After the long line,\r\n";
    QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
    laughs += "<!ENTITY l1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">";
    for (int i = 2; i < 10; ++i)
        laughs += QStringLiteral("<!ENTITY l%1 \"&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;"
                                 "&l%2;\">")
                      .arg(i)
                      .arg(i - 1)
                      .toUtf8();
    laughs += "]><sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
              "<si><t>&l9;</t></si></sst>";
    const QByteArray workbookXml
        = "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
          "<sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
    const QByteArray rels
        = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"rId1\" Target=\"worksheets/sheet1.xml\" "
          "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
          "worksheet\"/></Relationships>";
    const QByteArray sheet
        = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
          "<sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row></sheetData></worksheet>";
    ASSERT_TRUE(writeZip(path("laughs.xlsx"),
                         {{"xl/workbook.xml", workbookXml},
                          {"xl/_rels/workbook.xml.rels", rels},
                          {"xl/worksheets/sheet1.xml", sheet},
                          {"xl/sharedStrings.xml", laughs}}));
    writeFile(path("garbage.bin"), garbage);
    writeFile(path("utf8.txt"), "N1,\xC3\x28\xA0\xA1 bad,\r\nN2,\xFF\xFE\xFD,\r\nN3,Good,\r\n");
    writeFile(path("long.txt"), longLine);
    writeFile(path("truncated.xlsx"), "PK\x03\x04 not really a workbook");
    writeFile(path("nul.txt"), QByteArray("N4,Nul\0Inside,\r\n", 16));
    for (const char *name :
         {"garbage.bin", "utf8.txt", "long.txt", "truncated.xlsx", "laughs.xlsx", "nul.txt"}) {
        SCOPED_TRACE(name);
        const ToolRun run = tool("import", path(name), {"--user", "admin", "--columns", "12"});
        EXPECT_TRUE(run.status == 1 || run.status == 2)
            << run.status << " " << run.err.toStdString();
        EXPECT_EQ(run.errLines().size(), 1) << run.err.toStdString();
    }
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'N9'"),
              "After the long line");
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'N4'"), 0);

    // The office program's workbooks, new and legacy, read the same by their content.
    for (const char *name : {"office-book.xlsx", "office-book.xls"}) {
        SCOPED_TRACE(name);
        m_db->exec({"DELETE FROM HolderData WHERE HolderNo = 'H1'"});
        const ToolRun run = tool("import",
                                 QString::fromUtf8(ZQ_PLATFORM_DATA) + name,
                                 {"--user", "admin", "--columns", "1249"});
        EXPECT_TRUE(run.status == 0 || run.status == 1) << run.err.toStdString();
        EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'H1'"), "Ann Lee");
    }
}

TEST_P(ToolTest, FilesOfNoHolderLineAreRefusedAsAWhole)
{
    ZQ_TOOL_DB();
    const QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x02\0\0\0X\r\n@",
                         36);
    writeFile(path("e4.txt"), "\xE4");
    writeFile(path("empty.txt"), "");
    writeFile(path("blank.txt"), "  \r\n\r\n\t\r\n");
    writeFile(path("picture.png"), png);
    // No NUL, but every line holds control bytes that stripping would hide.
    writeFile(path("controls.bin"), "\x01X\r\n\x02@\x03\r\n\x1b[0m\r\n");
    for (const char *name : {"e4.txt", "empty.txt", "blank.txt", "picture.png", "controls.bin"}) {
        SCOPED_TRACE(name);
        const ToolRun run = tool("import", path(name), {"--user", "admin", "--columns", "12"});
        EXPECT_EQ(run.status, 2) << run.err.toStdString();
        EXPECT_EQ(run.errLines().size(), 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("nothing was imported")) << run.err.toStdString();
        EXPECT_EQ(run.counts().value("stored").toInt(), 0) << "the counts are printed all the same";
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 3);

    // One line of garbage among holder lines is refused with its own reason; the rest stay.
    writeFile(path("mixed.txt"), "N1,Good,\r\n\x01N2,Hidden,\r\nN3,Bad \xEF\xBF\xBD here,\r\n");
    const ToolRun mixed = tool("import",
                               path("mixed.txt"),
                               {"--user", "admin", "--columns", "12", "--refusals", path("r.csv")});
    EXPECT_EQ(mixed.status, 1) << mixed.err.toStdString();
    EXPECT_EQ(mixed.counts().value("stored").toInt(), 1);
    const QString report = QString::fromUtf8(readFile(path("r.csv")));
    EXPECT_TRUE(report.contains("\r\n2,,control,")) << report.toStdString();
    EXPECT_TRUE(report.contains("\r\n3,N3,undecodable,")) << report.toStdString();
}

// A workbook that fails after its first rows are stored: what was stored stays, and the
// status says so (1, not 2).
TEST_P(ToolTest, AFilePartlyStoredBeforeItFailsEndsWithStatusOne)
{
    ZQ_TOOL_DB();
    const QByteArray workbookXml
        = "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
          "<sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
    const QByteArray rels
        = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"rId1\" Target=\"worksheets/sheet1.xml\" "
          "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
          "worksheet\"/></Relationships>";
    const auto sheet = [](const QByteArray &rows) {
        return "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
               "<sheetData>"
               + rows + "</sheetData></worksheet>";
    };
    const QByteArray first = "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>W1</t></is></c>"
                             "<c r=\"B1\" t=\"inlineStr\"><is><t>First</t></is></c></row>";
    ASSERT_TRUE(writeZip(path("overflow.xlsx"),
                         {{"xl/workbook.xml", workbookXml},
                          {"xl/_rels/workbook.xml.rels", rels},
                          {"xl/worksheets/sheet1.xml",
                           sheet(first
                                 + "<row r=\"2147483647\"><c r=\"A2147483647\" "
                                   "t=\"inlineStr\"><is><t>W2</t></is></c></row>")}}));
    ToolRun run = tool("import", path("overflow.xlsx"), {"--user", "admin", "--columns", "12"});
    EXPECT_EQ(run.status, 1) << run.err.toStdString();
    EXPECT_EQ(run.errLines().size(), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("1 holders stored")) << run.err.toStdString();
    EXPECT_EQ(run.counts().value("stored").toInt(), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'W1'"), 1);

    // A shared string that is not there: no row holds a holder, the file is refused.
    ASSERT_TRUE(
        writeZip(path("sst.xlsx"),
                 {{"xl/workbook.xml", workbookXml},
                  {"xl/_rels/workbook.xml.rels", rels},
                  {"xl/worksheets/sheet1.xml",
                   sheet("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>2147483646</v></c></row>")}}));
    run = tool("import", path("sst.xlsx"), {"--user", "admin", "--columns", "12"});
    EXPECT_EQ(run.status, 2) << run.err.toStdString();
    EXPECT_EQ(run.errLines().size(), 1) << run.err.toStdString();
}

TEST_P(ToolTest, AnOverwriteKeepsWhatTheFileDoesNotCarry)
{
    ZQ_TOOL_DB();
    writeFile(path("names.txt"), "H1,Renamed\r\nN1,New\r\n");
    const ToolRun run = tool(
        "import", path("names.txt"), {"--user", "admin", "--columns", "12", "--overwrite"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'H1'"), "Renamed");
    EXPECT_EQ(scalar("SELECT Birthday FROM HolderData WHERE HolderNo = 'H1'").left(10),
              "2001-02-03");
    EXPECT_EQ(scalar("SELECT DepartmentNo FROM HolderData WHERE HolderNo = 'H1'"), "D1");
    EXPECT_EQ(scalar("SELECT StartDate FROM HolderData WHERE HolderNo = 'N1'").left(10),
              QDate::currentDate().toString(Qt::ISODate));
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'N1' AND Birthday IS NULL "
                    "AND ExpiredDate IS NULL"),
              1);
}

// Holders that a headless import stored without title or type, or with a code no table
// holds, are exported all the same, each once.
TEST_P(ToolTest, AnExportListsHoldersWithoutCodesOnce)
{
    ZQ_TOOL_DB();
    m_db->exec({"INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, TitleNo, TypeNo) "
                "VALUES ('H4', 'No codes', 'D1', NULL, NULL)",
                "INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, TitleNo, TypeNo) "
                "VALUES ('H5', 'Unknown codes', 'D1', 'T9', '')",
                "INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo) "
                "VALUES ('H6', 'Unknown department', 'D7')"});
    const QString out = path("out.txt");
    ToolRun run = tool("export", out, {"--user", "admin", "--columns", "1ABC"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(readFile(out),
              "H1,Sales,Clerk,Staff,\r\nH2,Sales,Clerk,Staff,\r\nH4,Sales,,,\r\nH5,Sales,,,\r\n"
              "H3,Lab,Clerk,Staff,\r\nH6,,,,\r\n");
    run = tool("export", out, {"--user", "admin", "--columns", "1", "--department", "D1"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(readFile(out), "H1,\r\nH2,\r\nH4,\r\nH5,\r\n");
    // A user limited by rights rows sees his departments' holders, codes or not.
    run = tool("export", out, {"--user", "lead", "--columns", "1"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(readFile(out), "H1,\r\nH2,\r\nH4,\r\nH5,\r\n");
}

TEST_P(ToolTest, AReasonFromTheEngineIsOneLine)
{
    ZQ_TOOL_DB();
    if (GetParam() != Engine::PostgreSQL)
        GTEST_SKIP() << "libpq's messages span lines";
    writeFile(path("in.txt"), "N1,New\r\n");
    // A port where nothing listens: libpq says so in several lines.
    const QStringList nowhere{"--pg", "host=127.0.0.1 port=1 user=postgres dbname=postgres"};
    ToolRun run = runTool(QStringList{"import", path("in.txt"), "--user", "admin"} + nowhere);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.errLines().size(), 1) << run.err.toStdString();
    run = runTool(QStringList{"import", path("in.txt"), "--user", "admin", "--verbose"} + nowhere);
    EXPECT_EQ(run.status, 2);
    EXPECT_GT(run.errLines().size(), 1) << run.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         ToolTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);
