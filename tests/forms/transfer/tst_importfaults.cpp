// What an import reports when the database does not play along: a link that breaks in the
// middle, another writer holding the file, a holder another writer added meanwhile. The
// counts always equal what was committed, and no line is called refused that the database
// never refused.
#include "FormTest.h"

#include "HolderImport.h"
#include "PrivateServer.h"
#include "Recordset.h"
#include "Schema.h"
#include "WriteLock.h"

#include <QSqlQuery>
#include <QThread>

using namespace std::chrono_literals;
using namespace zq::transfer;
using Outcome = HolderImport::Outcome;

namespace {

QString line(int i)
{
    return QStringLiteral("L%1,Holder %1").arg(i, 6, 10, QLatin1Char('0'));
}

int holders(zq::data::Connection &c)
{
    zq::data::Recordset rs;
    rs.setConnection(&c);
    rs.setStatement("SELECT COUNT(*) AS n FROM HolderData");
    rs.open();
    return rs.text("n").toInt();
}

// Feeds lines from `from` on as importFile() does: until the run can store no further line.
int feed(HolderImport &run, int from, int to)
{
    int fed = 0;
    for (int i = from; i <= to && run.canContinue(); ++i, ++fed)
        run.importLine(line(i), i);
    return fed;
}

// After a broken link: the counts are what the database holds, the lines after the last
// commit are told as lost (at their places, each once), and none is called refused.
void expectOnlyCommittedCounted(const HolderImport &run, int fed, int inDatabase)
{
    EXPECT_EQ(run.stored(), inDatabase);
    EXPECT_EQ(run.count(Outcome::Failed), 0);
    EXPECT_GE(run.count(Outcome::Lost), 1);
    EXPECT_EQ(run.stored() + run.count(Outcome::Lost), fed);
    ASSERT_EQ(run.refusals().size(), run.count(Outcome::Lost));
    for (int k = 0; k < run.refusals().size(); ++k) {
        const Refusal &r = run.refusals().at(k);
        EXPECT_EQ(r.reason, RefusalReason::LinkLost) << r.line;
        EXPECT_FALSE(isRefused(r.reason));
        EXPECT_EQ(r.line, inDatabase + 1 + k) << "the lost lines follow the committed ones";
    }
}

} // namespace

class ImportFaultsTest : public zq::test::FormTest
{
};

// Another writer stores a number after the run read the table: with overwrite the line
// overwrites it, without it keeps it; the key is never a refusal.
TEST_P(ImportFaultsTest, AHolderStoredMeanwhileIsJudgedAgain)
{
    ZQ_FORM_DB();
    for (const bool cover : {false, true}) {
        for (const bool direct : {true, false}) {
            SCOPED_TRACE(QString("cover %1, direct %2").arg(cover).arg(direct).toStdString());
            exec({"DELETE FROM HolderData"});
            ImportOptions options;
            options.columnOrder = "12";
            options.cover = cover;
            zq::test::useBackend(db(), direct);
            HolderImport run(&db(), options);
            ASSERT_TRUE(run.start());
            // What another workstation stores now, the run's snapshot does not know.
            ASSERT_TRUE(db().execute("INSERT INTO HolderData (HolderNo, HolderName, Email) "
                                     "VALUES ('M1', 'Theirs', 'm1@site')"));
            run.importLine("N1,Mine", 1);
            run.importLine("M1,Mine too", 2);
            run.importLine("N2,Mine", 3);
            ASSERT_TRUE(run.finish());
            EXPECT_EQ(run.count(Outcome::Failed), 0);
            EXPECT_TRUE(run.refusals().isEmpty());
            EXPECT_EQ(run.count(Outcome::Inserted), 2);
            EXPECT_EQ(run.count(Outcome::Updated), cover ? 1 : 0);
            EXPECT_EQ(run.count(Outcome::Kept), cover ? 0 : 1);
            EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'M1'"),
                      cover ? "Mine too" : "Theirs");
            // The overwrite sets what the file carries only.
            EXPECT_EQ(scalar("SELECT Email FROM HolderData WHERE HolderNo = 'M1'"), "m1@site");
            EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 3);
        }
    }
}

TEST_P(ImportFaultsTest, ABackendKilledMidImportCountsOnlyTheCommittedLines)
{
    if (GetParam() != zq::data::Engine::PostgreSQL)
        GTEST_SKIP() << "a backend of its own is PostgreSQL's";
    ZQ_FORM_DB();
    ImportOptions options;
    options.columnOrder = "12";
    options.commitEveryMs = 200;
    HolderImport run(&db(), options);
    ASSERT_TRUE(run.start());
    int fed = feed(run, 1, 50);
    QThread::msleep(250);
    fed += feed(run, 51, 51); // commits the batch of lines 1 to 51
    fed += feed(run, 52, 400);
    {
        auto other = m_db->openAnother();
        ASSERT_TRUE(other->execute("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
                                   "datname = current_database() AND pid <> pg_backend_pid()"));
    }
    fed += feed(run, 401, 3000);
    EXPECT_FALSE(run.finish());
    EXPECT_FALSE(run.canContinue());
    auto other = m_db->openAnother();
    const int stored = holders(*other);
    EXPECT_GE(stored, 51);
    expectOnlyCommittedCounted(run, fed, stored);
}

TEST_P(ImportFaultsTest, AServerRestartedMidImportCountsOnlyTheCommittedLines)
{
    if (GetParam() != zq::data::Engine::PostgreSQL)
        GTEST_SKIP() << "a server to restart is PostgreSQL's";
    zq::test::PrivateServer server;
    if (!server.isRunning()) {
        if (zq::test::postgresRequired())
            FAIL() << server.why().toStdString();
        GTEST_SKIP() << server.why().toStdString();
    }
    zq::data::Connection c;
    c.setPostgres(server.conninfo());
    ASSERT_TRUE(c.open());
    ASSERT_TRUE(zq::data::createSchema(
        c, {"HolderData", "DepartmentData", "OccupationTitle", "OccupationType"}));
    {
        ImportOptions options;
        options.columnOrder = "12";
        options.commitEveryMs = 0; // each line commits at once
        HolderImport run(&c, options);
        ASSERT_TRUE(run.start());
        int fed = feed(run, 1, 20);
        ASSERT_TRUE(server.restart());
        fed += feed(run, 21, 100);
        EXPECT_FALSE(run.finish());
        zq::data::Connection after;
        after.setPostgres(server.conninfo());
        ASSERT_TRUE(after.open());
        EXPECT_EQ(holders(after), 20);
        expectOnlyCommittedCounted(run, fed, 20);
    }
    c.close();
}

// SQLite: a writer that holds the file shorter than the busy timeout is waited for; one that
// holds it longer stops the import with one reason, and what was committed stays.
TEST_P(ImportFaultsTest, ALockIsWaitedForAsLongAsTheBusyTimeout)
{
    if (GetParam() != zq::data::Engine::SQLite)
        GTEST_SKIP() << "file locks are SQLite's";
    ZQ_FORM_DB();
    const QString file = m_db->folder() + "/site.db";
    ImportOptions options;
    options.columnOrder = "12";
    {
        zq::test::WriteLock other(file, 2s, "INSERT INTO OccupationTitle (TitleNo) VALUES ('T')");
        ASSERT_TRUE(other.held());
        HolderImport run(&db(), options);
        ASSERT_TRUE(run.start()) << run.errorText().toStdString();
        feed(run, 1, 10);
        EXPECT_TRUE(run.finish());
        EXPECT_EQ(run.stored(), 10);
        EXPECT_TRUE(other.release());
    }
    {
        zq::test::WriteLock other(file, 7s, "INSERT INTO OccupationTitle (TitleNo) VALUES ('U')");
        ASSERT_TRUE(other.held());
        HolderImport run(&db(), options);
        EXPECT_FALSE(run.start());
        EXPECT_TRUE(run.isBusy());
        EXPECT_FALSE(run.canContinue());
        EXPECT_EQ(run.stored(), 0);
        EXPECT_TRUE(other.release());
    }
    // A reader that keeps the file past the busy timeout lets no commit through: the batch
    // is not stored, told so, and the import stops with the lines committed before.
    options.commitEveryMs = 0;
    HolderImport run(&db(), options);
    ASSERT_TRUE(run.start());
    feed(run, 101, 101);
    zq::test::WriteLock reader(
        file, 7s, "SELECT HolderNo FROM HolderData", zq::test::WriteLock::Kind::Read);
    ASSERT_TRUE(reader.held());
    feed(run, 102, 110);
    EXPECT_TRUE(reader.release());
    EXPECT_FALSE(run.canContinue());
    EXPECT_TRUE(run.isBusy());
    EXPECT_EQ(run.stored(), 1);
    EXPECT_EQ(run.count(Outcome::Lost), 1);
    ASSERT_EQ(run.refusals().size(), 1);
    EXPECT_EQ(run.refusals().first().line, 102);
    EXPECT_EQ(run.refusals().first().reason, RefusalReason::NotCommitted);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo LIKE 'L%'"), 11);
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         ImportFaultsTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
