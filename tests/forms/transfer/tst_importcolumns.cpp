// What an import writes into the columns a file does not carry: an overwrite leaves them as
// they are stored, a new holder starts on the day of the import with no birthday and no
// expiry. Through every way a holder is written (the engine's own library, Qt's driver by
// batch and line by line).
#include "FormTest.h"

#include "HolderImport.h"
#include "TransferFormat.h"

using namespace zq::transfer;

namespace {

const QString kToday = QStringLiteral("2026-05-04");

QString day(int y, int m, int d)
{
    return dateText(QDate(y, m, d).startOfDay(), transferDateFormat());
}

} // namespace

class ImportColumnsTest : public zq::test::FormTest
{
protected:
    void seed()
    {
        exec({"DELETE FROM HolderData",
              "DELETE FROM DepartmentData",
              "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D1', 'Sales')",
              "INSERT INTO HolderData (HolderNo, HolderName, Email, Birthday, StartDate, "
              "ExpiredDate, Definable1, Definable2, Description, DepartmentNo, TitleNo, TypeNo, "
              "PIN, SequenceNo) VALUES ('H1', 'Old', 'h1@site', '1980-01-02 00:00:00', "
              "'2020-01-01 00:00:00', '2030-12-31 00:00:00', 'x', 'y', 'kept', 'D1', 'T1', "
              "'Y1', '4321', 1)"});
    }

    HolderImport::Outcome importOne(const QString &order, const QString &line, bool direct)
    {
        ImportOptions options;
        options.columnOrder = order;
        options.cover = true;
        options.today = QDate::fromString(kToday, Qt::ISODate);
        zq::test::useBackend(db(), direct);
        HolderImport run(&db(), options);
        EXPECT_TRUE(run.start());
        const HolderImport::Outcome outcome = run.importLine(line, 1);
        EXPECT_TRUE(run.finish());
        return outcome;
    }

    QString row(const QString &number)
    {
        return rowTexts("SELECT HolderName, Email, Birthday, StartDate, ExpiredDate, "
                        "Definable1, Definable2, Description, DepartmentNo, TitleNo, TypeNo, PIN "
                        "FROM HolderData WHERE HolderNo = '"
                        + number + "'")
            .value(0);
    }
    QStringList rowTexts(const QString &sql) { return zq::test::rowTexts(db().database(), sql); }
};

TEST_P(ImportColumnsTest, AnOverwriteKeepsTheColumnsTheFileDoesNotCarry)
{
    ZQ_FORM_DB();
    for (const bool direct : {true, false}) {
        SCOPED_TRACE(direct ? "direct" : "through Qt's driver");
        seed();
        const QString before = row("H1");
        EXPECT_EQ(importOne("12", "H1,New name", direct), HolderImport::Outcome::Updated);
        QString expected = before;
        expected.replace("[Old]", "[New name]");
        EXPECT_EQ(row("H1"), expected);

        // A carried column is written, empty or not: an empty e-mail is '', an empty birthday
        // or expiry none, an empty start the day of the import.
        EXPECT_EQ(importOne("13456D", "H1,,,,,", direct), HolderImport::Outcome::Updated);
        EXPECT_EQ(scalar("SELECT Email FROM HolderData WHERE HolderNo = 'H1'"), "");
        EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'H1' AND Birthday IS "
                        "NULL AND ExpiredDate IS NULL"),
                  1);
        EXPECT_EQ(scalar("SELECT StartDate FROM HolderData WHERE HolderNo = 'H1'").left(10),
                  kToday);
        EXPECT_EQ(scalar("SELECT Description FROM HolderData WHERE HolderNo = 'H1'"), "kept");
        EXPECT_EQ(scalar("SELECT DepartmentNo FROM HolderData WHERE HolderNo = 'H1'"), "D1");

        // A file of numbers alone changes nothing.
        const QString now = row("H1");
        EXPECT_EQ(importOne("1", "H1", direct), HolderImport::Outcome::Kept);
        EXPECT_EQ(row("H1"), now);
    }
}

TEST_P(ImportColumnsTest, ANewHolderStartsTodayWithoutBirthdayOrExpiry)
{
    ZQ_FORM_DB();
    for (const bool direct : {true, false}) {
        SCOPED_TRACE(direct ? "direct" : "through Qt's driver");
        seed();
        EXPECT_EQ(importOne("12", "N1,New", direct), HolderImport::Outcome::Inserted);
        EXPECT_EQ(scalar("SELECT StartDate FROM HolderData WHERE HolderNo = 'N1'").left(10),
                  kToday);
        EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'N1' AND Birthday IS "
                        "NULL AND ExpiredDate IS NULL"),
                  1);
        // Carried and given, the dates are the file's; carried and empty, as above.
        EXPECT_EQ(importOne("1456", "N2," + day(1990, 3, 4) + ",," + day(2031, 1, 1), direct),
                  HolderImport::Outcome::Inserted);
        EXPECT_EQ(scalar("SELECT Birthday FROM HolderData WHERE HolderNo = 'N2'").left(10),
                  "1990-03-04");
        EXPECT_EQ(scalar("SELECT StartDate FROM HolderData WHERE HolderNo = 'N2'").left(10),
                  kToday);
        EXPECT_EQ(scalar("SELECT ExpiredDate FROM HolderData WHERE HolderNo = 'N2'").left(10),
                  "2031-01-01");
    }
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         ImportColumnsTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
