// On PostgreSQL a batch of updates is written by the server while the import judges the next
// lines. What the import decides must not depend on it: a number whose earlier line sits in
// the batch being written is judged by that line's outcome, a refused line of that batch is
// written again alone and refused at its place, and a progress callback may use the
// connection. Each run is compared with the same run through Qt's driver alone, which writes
// every batch before it goes on.
#include "FormTest.h"
#include "RefusingSite.h"

#include "HolderImport.h"
#include "HolderImportFile.h"

#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>

using namespace zq::transfer;

namespace {

const QString kOrder = QStringLiteral("123D");

QString number(int i)
{
    return QStringLiteral("U%1").arg(i, 4, 10, QLatin1Char('0'));
}

// 1,200 updates in two batches, each refusing a line by the trigger, then numbers met
// before: refused ones (stored now), stored ones (duplicates), one new holder.
QStringList fileLines()
{
    QStringList lines;
    for (int i = 1; i <= 1200; ++i) {
        QString name = QStringLiteral("Name %1").arg(i);
        if (i == 300 || i == 1100)
            name = QStringLiteral("Refused");
        else if (i % 7 == 0)
            name = QStringLiteral("\"O'Neil, \"\"%1\"\"\"").arg(i);
        // Every third leaves the e-mail empty: '' where the site holds NULL.
        lines << QStringLiteral("%1,%2,%3,%4")
                     .arg(number(i), name, i % 3 ? QStringLiteral("u%1@site").arg(i) : QString())
                     .arg(i % 10);
    }
    lines << number(300) + ",Refused first,again@site,1";
    lines << number(500) + ",Twice,,";
    lines << number(1100) + ",Refused first too,,2";
    lines << "N0001,\"New, one\",,";
    lines << number(1150) + ",Twice too,,";
    return lines;
}

class ImportAheadTest : public zq::test::RefusingSiteTest
{
protected:
    // 1,200 holders as another tool left them: NULL e-mails and PINs.
    void seed()
    {
        exec({"DELETE FROM HolderData"});
        QSqlQuery q(db().database());
        ASSERT_TRUE(q.prepare("INSERT INTO HolderData (HolderNo, HolderName, SequenceNo) VALUES "
                              "(?, 'Old', ?)"));
        db().begin();
        for (int i = 1; i <= 1200; ++i) {
            q.bindValue(0, number(i));
            q.bindValue(1, i);
            ASSERT_TRUE(q.exec());
        }
        db().commit();
    }

    QString writeFile()
    {
        const QString path = m_dir.filePath("holders.txt");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(fileLines().join("\r\n").toUtf8() + "\r\n");
        return path;
    }

    ImportOptions options(bool direct) const
    {
        ImportOptions o;
        o.columnOrder = kOrder;
        o.cover = true;
        o.dateFormat = "yyyy-MM-dd";
        o.today = QDate(2026, 1, 2);
        o.userId = "admin";
        return o;
    }

    struct Outcome
    {
        QStringList holders;
        QStringList refusals;
        QList<int> counts;
        QStringList audit;
        int stored = 0;
        ImportFileResult::Status status = ImportFileResult::Status::Complete;
    };

    Outcome outcomeOf(const HolderImport &import)
    {
        Outcome o;
        o.refusals = refusalTexts(import);
        o.counts = outcomeCounts(import);
        o.stored = import.storedLines();
        o.holders = zq::test::rowTexts(db().database(),
                                       "SELECT HolderNo, HolderName, Email, PIN FROM "
                                       "HolderData ORDER BY HolderNo");
        o.audit = d.auditEntries();
        return o;
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_P(ImportAheadTest, LinesAfterABatchBeingWrittenAreJudgedByItsOutcome)
{
    ZQ_FORM_DB();
    refuseByTrigger();
    Outcome runs[2];
    for (const bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "engine's library" : "driver");
        seed();
        d.calls.clear();
        zq::test::useBackend(db(), direct);
        HolderImport import(&db(), options(direct));
        ASSERT_TRUE(import.start());
        qint64 line = 0;
        for (const QString &text : fileLines())
            import.importLine(text, ++line);
        ASSERT_TRUE(import.finish());
        runs[direct] = outcomeOf(import);
    }
    const Outcome &direct = runs[1];
    EXPECT_EQ(direct.refusals, runs[0].refusals);
    EXPECT_EQ(direct.counts, runs[0].counts);
    EXPECT_EQ(direct.holders, runs[0].holders);
    EXPECT_EQ(direct.audit, runs[0].audit);

    // What both must hold, so that they cannot agree on a fault.
    QStringList refused; // without the engine's message
    for (const QString &r : direct.refusals)
        refused << r.section(u'|', 0, 2);
    EXPECT_EQ(refused,
              (QStringList{"300|U0300|database",
                           "1100|U1100|database",
                           "1202|U0500|duplicate",
                           "1205|U1150|duplicate"}));
    EXPECT_TRUE(direct.refusals.at(2).endsWith("|500"));
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'U0300'"),
              "Refused first");
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'U1100'"),
              "Refused first too");
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'U0500'"), "Name 500");
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'U0007'"),
              "O'Neil, \"7\"");
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'U0003' AND Email = '' "
                    "AND PIN = '3'"),
              1);
    EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'N0001'"), "New, one");
    EXPECT_EQ(direct.counts.at(int(HolderImport::Outcome::Updated)), 1200);
    EXPECT_EQ(direct.counts.at(int(HolderImport::Outcome::Inserted)), 1);
    EXPECT_EQ(direct.audit.count(), 1201);
}

// The callback runs statements of its own on the import's connection, as a window's events
// may, and stops the import in the middle of the second batch; with ProgressAccess::Settles
// it lets the import's writes end first itself. Either way the lines before the cancel are
// stored exactly as through the driver.
TEST_P(ImportAheadTest, AProgressCallbackMayUseTheConnectionAndCancel)
{
    ZQ_FORM_DB();
    refuseByTrigger();
    const QString path = writeFile();
    for (const ProgressAccess access : {ProgressAccess::Statements, ProgressAccess::Settles}) {
        SCOPED_TRACE(access == ProgressAccess::Statements ? "statements" : "settles");
        Outcome runs[2];
        for (const bool direct : {false, true}) {
            SCOPED_TRACE(direct ? "engine's library" : "driver");
            seed();
            d.calls.clear();
            zq::test::useBackend(db(), direct);
            HolderImport import(&db(), options(direct));
            ASSERT_TRUE(import.start());
            int calls = 0;
            int failedStatements = 0;
            const ImportFileResult result = importFile(
                import,
                path,
                ImportFileKind::Text,
                [&](qint64, qint64) {
                    ++calls;
                    if (calls % 50 == 0) {
                        if (access == ProgressAccess::Settles)
                            import.settle();
                        QSqlQuery q(db().database());
                        if (!q.exec("SELECT COUNT(*) FROM HolderData WHERE HolderName = 'Old'")
                            || !q.next())
                            ++failedStatements;
                    }
                    return calls < 1150;
                },
                access);
            EXPECT_EQ(failedStatements, 0);
            runs[direct] = outcomeOf(import);
            runs[direct].status = result.status;
        }
        EXPECT_EQ(runs[1].status, ImportFileResult::Status::Cancelled);
        EXPECT_EQ(runs[1].status, runs[0].status);
        EXPECT_EQ(runs[1].refusals, runs[0].refusals);
        EXPECT_EQ(runs[1].counts, runs[0].counts);
        EXPECT_EQ(runs[1].holders, runs[0].holders);
        EXPECT_EQ(runs[1].audit, runs[0].audit);
        EXPECT_EQ(runs[1].stored, 1148);
        EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderName = 'Old'"), 52);
    }
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         ImportAheadTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
