// Other tools and older imports store holder numbers with blanks after them. The holder
// window does not tell 'M1  ' from M1, and neither may an import: an imported M1 finds that
// holder, overwrites or keeps it by the number as stored, and adds no second M1. Where the
// bare number is stored as well, that row is the one found.
#include "FormTest.h"
#include "RefusingSite.h"

#include "HolderImport.h"

using namespace zq::transfer;

namespace {

const QStringList kLines{
    "M1,New one,one@site",
    "M2,New two,",
    "M3,New three,",
    "M1,Again,",
    "M4,Fresh,",
};

} // namespace

using ImportNumbersTest = zq::test::RefusingSiteTest;

TEST_P(ImportNumbersTest, ANumberStoredWithBlanksAfterItIsFoundByItsBareForm)
{
    ZQ_FORM_DB();
    for (const bool cover : {false, true}) {
        QStringList stored[2];
        for (const bool direct : {false, true}) {
            SCOPED_TRACE(
                QStringLiteral("%1, %2")
                    .arg(cover ? "overwriting" : "keeping", direct ? "engine's library" : "driver")
                    .toStdString());
            exec({"DELETE FROM HolderData",
                  "INSERT INTO HolderData (HolderNo, HolderName, SequenceNo) VALUES ('M1  ', "
                  "'Blank one', 1)",
                  "INSERT INTO HolderData (HolderNo, HolderName, Email, SequenceNo) VALUES "
                  "('M2', 'Bare two', 'two@site', 2)",
                  "INSERT INTO HolderData (HolderNo, HolderName, SequenceNo) VALUES ('M2   ', "
                  "'Blank two', 3)",
                  "INSERT INTO HolderData (HolderNo, HolderName, SequenceNo) VALUES ('M3 ', "
                  "'Blank three', 4)"});
            d.calls.clear();
            ImportOptions options;
            options.columnOrder = "123";
            options.cover = cover;
            zq::test::useBackend(db(), direct);
            HolderImport import(&db(), options);
            ASSERT_TRUE(import.start());
            qint64 line = 0;
            for (const QString &text : kLines)
                import.importLine(text, ++line);
            ASSERT_TRUE(import.finish());

            using O = HolderImport::Outcome;
            EXPECT_EQ(outcomeCounts(import), (QList<int>{0, 1, cover ? 3 : 0, cover ? 0 : 3, 1}));
            ASSERT_EQ(import.refusals().size(), 1);
            EXPECT_EQ(import.refusals().at(0).reason, RefusalReason::Duplicate);
            EXPECT_EQ(import.refusals().at(0).detail, "1");
            EXPECT_EQ(import.count(O::Inserted), 1);
            stored[direct] = zq::test::rowTexts(db().database(),
                                                "SELECT HolderNo, HolderName, Email, SequenceNo "
                                                "FROM HolderData ORDER BY HolderNo");
            EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 5);
            EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'M1  '"),
                      cover ? "New one" : "Blank one");
            EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'M3 '"),
                      cover ? "New three" : "Blank three");
            EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'M2'"),
                      cover ? "New two" : "Bare two");
            EXPECT_EQ(scalar("SELECT HolderName FROM HolderData WHERE HolderNo = 'M2   '"),
                      "Blank two");
            EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo IN ('M1', 'M3')"), 0);
            // The new holder is numbered after every stored row, blanks or not.
            EXPECT_EQ(count("SELECT SequenceNo FROM HolderData WHERE HolderNo = 'M4'"), 5);
            if (cover) {
                EXPECT_EQ(scalar("SELECT Email FROM HolderData WHERE HolderNo = 'M1  '"),
                          "one@site");
                EXPECT_EQ(d.auditEntries(),
                          (QStringList{"BasicDataHolderB|E M1",
                                       "BasicDataHolderB|E M2",
                                       "BasicDataHolderB|E M3",
                                       "BasicDataHolderB|A M4"}))
                    << d.auditEntries().join('\n').toStdString();
            }
        }
        EXPECT_EQ(stored[1], stored[0]);
    }
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         ImportNumbersTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
