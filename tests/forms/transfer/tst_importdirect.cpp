// The import writes its holders through the engine's own library (a prepared statement fed
// UTF-8 on SQLite, COPY on PostgreSQL); through the reference backend it writes them through Qt's
// driver as it always did. Both ways must store the same rows and codes, refuse the same
// lines for the same reasons and write the same audit entries, on data that other tools
// wrote (blanks after keys, NULL where the module writes '') and on values that the COPY
// text format and SQL patterns treat specially: tabs, line ends, backslashes, "\N", quotes,
// % and _.
#include "FormTest.h"
#include "RefusingSite.h"

#include "Backend.h"
#include "HolderImport.h"

#include <QSqlQuery>
#include <QSqlRecord>

using namespace zq::transfer;

namespace {

const QString kOrder = QStringLiteral("123456789ABCD");

// The file: every reason of refusal, a number twice, values of every awkward kind.
QStringList fileLines()
{
    QStringList lines{
        "N001,O'Neil 100%,a_b%c@example.com,1990-05-17,,,back\\slash,\\N,desc,Dept 1,Title "
        "1,Type 1,0001,",
        "N002   ,  blanks around  ,,,,,,,,Dept 1,,,,",
        "N001,second N001,,,,,,,,,,,,",
        ",no number,,,,,,,,,,,,",
        "N003," + QString(41, u'x') + ",,,,,,,,,,,,",
        "N004,bad date,,31-02-2020,,,,,,,,,,",
        "N005,\"say \"\"hi\"\", twice\",,,,,,,,,,,,",
        "N006,Refused,,,,,,,,,,,,",
        "N007,\"tab\tand\nline end\r\nin one\",,1899-12-30,2024-02-29,2030-12-31,,,,Dept "
        "\"Two\",Title 'Q',Type \\,,",
        "N008,中文名字 😀,,,,,,,,部門,,,,",
        "N009,too,many,fields,,,,,,,,,,,x,",
        "N\x01X,control in the number,,,,,,,,,,,,",
        QStringLiteral("N010,nul") + QChar(0) + QStringLiteral(",,,,,,,,,,,,"),
        "E001,over E001,,,,,,,,Seeded dept,,,,",
        "E002,over E002 with blanks after its number in the table,,,,,,,,,,,,",
        "N006,stored now: its first line was refused,,,,,,,,,,,,",
        "E003,Refused,,,,,,,,,,,,",
        "N011,%,_,,,,\\,\\\\,'',Dept 1,Title 1,Type 1,",
    };
    // Enough plain holders that PostgreSQL writes batches of many rows, twice refused.
    for (int i = 0; i < 60; ++i)
        lines << QStringLiteral("M%1,Plain %1,,,,,,,,Dept %2,,,%1,").arg(i).arg(i % 3);
    return lines;
}

} // namespace

class ImportDirectTest : public zq::test::RefusingSiteTest
{
protected:
    // Holders and codes as another tool left them: a key and a department number with
    // blanks after them, NULL in text columns, a name the trigger refuses on update.
    void seed()
    {
        exec({"DELETE FROM HolderData",
              "DELETE FROM DepartmentData",
              "DELETE FROM OccupationTitle",
              "DELETE FROM OccupationType",
              "DELETE FROM UserRightDept",
              "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, Description) VALUES "
              "('SD  ', 'Seeded dept', NULL)",
              "INSERT INTO HolderData (HolderNo, HolderName, Email, DepartmentNo, SequenceNo) "
              "VALUES ('E001', 'Seeded one', NULL, 'SD  ', 1)",
              "INSERT INTO HolderData (HolderNo, HolderName, Email, SequenceNo) VALUES ('E002  ', "
              "'', '', 2)",
              "INSERT INTO HolderData (HolderNo, HolderName, SequenceNo) VALUES ('E003', 'Seeded "
              "three', 3)"});
    }

    // Every row of `sql`, NULL told from '' and every value as text.
    QStringList rows(const QString &sql) { return zq::test::rowTexts(db().database(), sql); }

    struct Outcome
    {
        QStringList holders;
        QStringList codes;
        QStringList refusals;
        QList<int> counts;
        QStringList audit;
    };

    Outcome run(bool direct, bool cover)
    {
        seed();
        d.calls.clear();
        ImportOptions options;
        options.columnOrder = kOrder;
        options.cover = cover;
        options.dateFormat = "yyyy-MM-dd";
        options.today = QDate(2026, 1, 2);
        options.userId = "admin";
        zq::test::useBackend(db(), direct);
        HolderImport import(&db(), options);
        Outcome o;
        EXPECT_TRUE(import.start());
        qint64 line = 0;
        for (const QString &text : fileLines())
            import.importLine(text, ++line);
        EXPECT_TRUE(import.finish());
        // Every way the import reads and writes is the engine's own. The one hand-over allowed
        // is PostgreSQL's: a number judged again inside the import's own transaction is read
        // through the driver, counted, since a failed direct read there would abort the batch.
        if (direct && db().fallbacks() > 0) {
            const QString reason = db().backend().lastFallback();
            EXPECT_TRUE(GetParam() == zq::data::Engine::PostgreSQL
                        && reason.contains(QLatin1String("a transaction is open")))
                << db().fallbacks() << " fell back: " << reason.toStdString();
        }
        o.refusals = refusalTexts(import);
        o.counts = outcomeCounts(import);
        o.holders = rows("SELECT HolderNo, HolderName, Email, Birthday, StartDate, ExpiredDate, "
                         "Definable1, Definable2, Description, DepartmentNo, TitleNo, TypeNo, "
                         "PIN, SequenceNo FROM HolderData ORDER BY HolderNo");
        o.codes = rows("SELECT DepartmentNo, DepartmentName, Description FROM DepartmentData "
                       "ORDER BY DepartmentNo")
                  + rows("SELECT TitleNo, TitleName FROM OccupationTitle ORDER BY TitleNo")
                  + rows("SELECT TypeNo, TypeName FROM OccupationType ORDER BY TypeNo")
                  + rows("SELECT UserID, DepartmentNo FROM UserRightDept ORDER BY 1, 2");
        o.audit = d.auditEntries();
        return o;
    }
};

TEST_P(ImportDirectTest, StoresAndRefusesAsTheDriverDoes)
{
    ZQ_FORM_DB();
    refuseByTrigger();
    for (const bool cover : {false, true}) {
        SCOPED_TRACE(cover ? "overwriting" : "keeping");
        const Outcome before = run(false, cover);
        const Outcome direct = run(true, cover);
        EXPECT_EQ(direct.refusals, before.refusals);
        EXPECT_EQ(direct.counts, before.counts);
        EXPECT_EQ(direct.holders, before.holders);
        EXPECT_EQ(direct.codes, before.codes);
        EXPECT_EQ(direct.audit, before.audit);

        // What both must hold, so that they cannot agree on a fault.
        // Refused on update only: E003 is kept unless the holders are overwritten.
        EXPECT_EQ(direct.counts.at(int(HolderImport::Outcome::Failed)), cover ? 9 : 8);
        EXPECT_EQ(scalar("SELECT Definable2 FROM HolderData WHERE HolderNo = 'N001'"), "\\N");
        EXPECT_EQ(scalar("SELECT Definable1 FROM HolderData WHERE HolderNo = 'N001'"),
                  "back\\slash");
        EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'N007'"),
                  "tab\tand\nline end\r\nin one");
        EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'N007' AND Birthday "
                        "IS NULL"),
                  1);
        EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'N008'"),
                  QStringLiteral("中文名字 😀"));
        EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'N002' AND Email = ''"),
                  1);
        EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'N006'"),
                  "stored now: its first line was refused");
        EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'E001'"),
                  cover ? "over E001" : "Seeded one");
        EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'E003'"),
                  "Seeded three");
    }
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         ImportDirectTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
