// The import engine's report: every refused line with its number, holder number and reason,
// the codes it creates, its audit entries, and the dry run that judges the same file the
// same way without writing anything.
#include "FormTest.h"

#include "HolderImport.h"
#include "HolderImportFile.h"
#include "Recordset.h"

#include <QFile>

using namespace zq::transfer;

namespace {

// Columns: number, name, birthday, department, title.
const QString kOrder = QStringLiteral("124AB");

const char kRaw[] = "H1,Kept Already,2001-02-03,Sales,Clerk,\r\n"             // 1 kept
                    "\r\n"                                                    // 2 blank
                    "N1,New One,1999-12-31,Yard,Clerk,\r\n"                   // 3 new, Yard
                    ",No Number,,,,\r\n"                                      // 4 empty number
                    "N1,Again,,,,\r\n"                                        // 5 duplicate
                    "N2,This name is far longer than forty characters,,,\r\n" // 6
                    "N3,Bad Date,31.31.2020,,,\r\n"                           // 7
                    "N4,Nul\0Name,,,,\r\n"                                    // 8
                    "N5,a,b,c,d,e,f\r\n"                                      // 9 too many
                    "N6,Long Code,,Departmentabc,,\r\n"                       // 10 code too long
                    "N7,Fine,,Dock,Guard,\r\n";                               // 11 new, Dock, Guard
const QByteArray kFile(kRaw, sizeof(kRaw) - 1);

struct Expected
{
    qint64 line;
    const char *holderNo;
    RefusalReason reason;
    const char *column;
    const char *detail;
};

const Expected kRefused[] = {
    {4, "", RefusalReason::EmptyNumber, "", ""},
    {5, "N1", RefusalReason::Duplicate, "", "3"},
    {6, "N2", RefusalReason::TooLong, "HolderName", "40"},
    {7, "N3", RefusalReason::BadDate, "Birthday", "31.31.2020"},
    {8, "N4", RefusalReason::Nul, "HolderName", ""},
    {9, "N5", RefusalReason::TooManyFields, "", "5"},
    {10, "N6", RefusalReason::TooLong, "DepartmentNo", "10"},
};

} // namespace

class ImportReportTest : public zq::test::FormTest
{
protected:
    void fillSite()
    {
        exec({"INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D1', 'Sales')",
              "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T1', 'Clerk')",
              "INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, SequenceNo) "
              "VALUES ('H1', 'First', 'D1', 1)"});
    }

    QString writeImportFile()
    {
        const QString path = m_db->folder() + "/report.txt";
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(kFile);
        return path;
    }

    // Every row of the tables an import writes, as text, in key order.
    QStringList tableRows()
    {
        QStringList rows;
        for (const char *sql : {"SELECT * FROM HolderData ORDER BY HolderNo",
                                "SELECT * FROM DepartmentData ORDER BY DepartmentNo",
                                "SELECT * FROM OccupationTitle ORDER BY TitleNo",
                                "SELECT * FROM OccupationType ORDER BY TypeNo"}) {
            zq::data::Recordset rs;
            rs.setConnection(&db());
            rs.setStatement(sql);
            rs.open();
            for (int r = 0; r < rs.recordCount(); ++r) {
                QStringList values;
                for (int c = 0; c < rs.fieldCount(); ++c)
                    values << zq::data::Recordset::textOf(rs.valueAt(r, c));
                rows << values.join('|');
            }
        }
        return rows;
    }

    std::unique_ptr<HolderImport> run(bool dryRun)
    {
        ImportOptions options;
        options.columnOrder = kOrder;
        options.dateFormat = "yyyy-MM-dd";
        options.dryRun = dryRun;
        auto import = std::make_unique<HolderImport>(&db(), options);
        EXPECT_TRUE(import->start());
        const ImportFileResult result = importFile(
            *import, writeImportFile(), ImportFileKind::Text);
        EXPECT_EQ(result.status, ImportFileResult::Status::Complete) << result.error.toStdString();
        return import;
    }

    void expectReport(const HolderImport &import)
    {
        EXPECT_EQ(import.count(HolderImport::Outcome::Inserted), 2);
        EXPECT_EQ(import.count(HolderImport::Outcome::Kept), 1);
        EXPECT_EQ(import.count(HolderImport::Outcome::Updated), 0);
        EXPECT_EQ(import.count(HolderImport::Outcome::Failed), int(std::size(kRefused)));
        ASSERT_EQ(import.refusals().size(), qsizetype(std::size(kRefused)));
        for (qsizetype i = 0; i < import.refusals().size(); ++i) {
            const Refusal &got = import.refusals().at(i);
            const Expected &want = kRefused[i];
            SCOPED_TRACE(want.line);
            EXPECT_EQ(got.line, want.line);
            EXPECT_EQ(got.holderNo, QString::fromUtf8(want.holderNo));
            EXPECT_EQ(got.reason, want.reason);
            EXPECT_EQ(got.column, QString::fromUtf8(want.column));
            EXPECT_EQ(got.detail, QString::fromUtf8(want.detail));
            EXPECT_FALSE(refusalText(got).isEmpty());
        }
        QStringList codes;
        for (const CreatedCode &c : import.createdCodes())
            codes << QString::number(c.table) + ":" + c.name;
        EXPECT_EQ(codes, (QStringList{"0:Yard", "0:Dock", "1:Guard"}));
    }
};

TEST_P(ImportReportTest, EveryRefusedLineIsReportedAndNothingOfItWritten)
{
    ZQ_FORM_DB();
    fillSite();
    const auto import = run(false);
    expectReport(*import);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 3);
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'N1'"), "New One");
    EXPECT_EQ(scalar("SELECT SequenceNo FROM HolderData WHERE HolderNo = 'N7'"), "3");
    EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData"), 3) << "Sales, Yard and Dock";
    EXPECT_EQ(d.auditEntries(),
              (QStringList{"BasicDataHolderB|A Yard",
                           "BasicDataHolderB|A N1",
                           "BasicDataHolderB|A Dock",
                           "BasicDataHolderB|A Guard",
                           "BasicDataHolderB|A N7"}));
}

TEST_P(ImportReportTest, ADryRunJudgesTheSameAndWritesNothing)
{
    ZQ_FORM_DB();
    fillSite();
    const QStringList before = tableRows();
    const auto dry = run(true);
    expectReport(*dry);
    EXPECT_EQ(tableRows(), before);
    EXPECT_TRUE(d.auditEntries().isEmpty());
    // No transaction was left open: another workstation writes at once.
    auto other = m_db->openAnother();
    ASSERT_TRUE(other->execute("INSERT INTO OccupationType (TypeNo, TypeName) VALUES ('Y9', 'x')"));
}

TEST_P(ImportReportTest, OverwritingCountsOverwrittenHolders)
{
    ZQ_FORM_DB();
    fillSite();
    ImportOptions options;
    options.columnOrder = "12";
    options.cover = true;
    HolderImport import(&db(), options);
    ASSERT_TRUE(import.start());
    EXPECT_EQ(import.importLine("H1,Renamed,", 1), HolderImport::Outcome::Updated);
    EXPECT_EQ(import.importLine("H1,Twice,", 2), HolderImport::Outcome::Failed);
    EXPECT_EQ(import.importLine("X1,New,", 3), HolderImport::Outcome::Inserted);
    ASSERT_TRUE(import.finish());
    EXPECT_EQ(import.stored(), 2);
    EXPECT_EQ(import.refusals().value(0).reason, RefusalReason::Duplicate);
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'H1'"), "Renamed");
    EXPECT_EQ(d.auditEntries(), (QStringList{"BasicDataHolderB|E H1", "BasicDataHolderB|A X1"}));
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         ImportReportTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
