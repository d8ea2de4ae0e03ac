// The import writes its holders a batch at a time; a batch the database refuses is written
// again line by line, so that the same lines are stored and refused as when every line is
// written alone. The database here refuses one holder name by a trigger, which the import
// cannot judge beforehand.
#include "FormTest.h"
#include "RefusingSite.h"

#include "HolderImport.h"

#include <QSqlQuery>

using namespace zq::transfer;

namespace {

QString lineFor(int i, const QString &name)
{
    return QStringLiteral("B%1,%2,").arg(i, 5, 10, QLatin1Char('0')).arg(name);
}

} // namespace

using ImportBatchTest = zq::test::RefusingSiteTest;

// 2,500 lines span three batches; the refused ones sit in the first and the third, and the
// number of a refused line comes again later: that line is stored, not a duplicate. The
// second run overwrites the holders of the first (B02222 is new then).
TEST_P(ImportBatchTest, ARefusedBatchIsWrittenAgainLineByLine)
{
    ZQ_FORM_DB();
    refuseByTrigger();
    for (const bool cover : {false, true}) {
        SCOPED_TRACE(cover ? "over the stored holders" : "new holders");
        ImportOptions options;
        options.columnOrder = "12";
        options.cover = cover;
        HolderImport import(&db(), options);
        ASSERT_TRUE(import.start());
        qint64 line = 0;
        for (int i = 0; i < 2500; ++i) {
            const bool refused = i == 7 || i == 2222;
            import.importLine(lineFor(i, refused ? "Refused" : QStringLiteral("Holder %1").arg(i)),
                              ++line);
        }
        import.importLine(lineFor(7, QStringLiteral("Seventh again")), ++line);
        ASSERT_TRUE(import.finish());

        // Line 2501 is stored either way: its number's first line was refused.
        EXPECT_EQ(import.stored(), 2499);
        EXPECT_EQ(import.count(HolderImport::Outcome::Failed), 2);
        ASSERT_EQ(import.refusals().size(), 2);
        EXPECT_EQ(import.refusals().at(0).line, 8);
        EXPECT_EQ(import.refusals().at(0).reason, RefusalReason::Database);
        EXPECT_EQ(import.refusals().at(1).line, 2223);
        EXPECT_EQ(import.refusals().at(1).holderNo, "B02222");
        EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 2499);
        EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderName = 'Refused'"), 0);
        EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'B00007'"),
                  "Seventh again");
        EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'B02499'"),
                  "Holder 2499");
    }
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         ImportBatchTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
