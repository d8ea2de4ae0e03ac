#include "ComboFill.h"
#include "Connection.h"
#include "Helpers.h"
#include "Recordset.h"
#include "TestDatabase.h"

#include <QComboBox>
#include <QSqlQuery>
#include <QWidget>

#include <gtest/gtest.h>

using namespace zq::data;

class HelpersTest : public testing::TestWithParam<Engine>
{
protected:
    void TearDown() override { setModuleConnection(nullptr); }
};

TEST_P(HelpersTest, RunQueryModesAndItsRefusals)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    db.exec({"INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T1', 'a')"});
    Recordset q;
    q.setConnection(&db.connection());
    EXPECT_EQ(RunQuery(&q, "SELECT * FROM OccupationTitle", 0), 1);
    EXPECT_TRUE(q.isOpen());
    EXPECT_EQ(q.text("TitleNo"), "T1");

    EXPECT_EQ(RunQuery(&q, "", 0), 0);
    EXPECT_FALSE(q.isOpen());

    EXPECT_EQ(RunQuery(&q, "UPDATE OccupationTitle SET TitleName = 'b'", 1), 1);
    EXPECT_FALSE(q.isOpen());
    EXPECT_EQ(RunQuery(&q, "DELETE FROM OccupationTitle", 2), 1); // only prepared
    EXPECT_TRUE(q.isPrepared());
    EXPECT_EQ(RunQuery(&q, "SELECT TitleName FROM OccupationTitle", 0), 1);
    EXPECT_EQ(q.text("TitleName"), "b");

    // A plain statement error keeps the connection.
    EXPECT_EQ(RunQuery(&q, "SELEC nothing", 0), 0);
    EXPECT_FALSE(q.isOpen());
    EXPECT_TRUE(db.connection().isConnected());
    EXPECT_EQ(RunQuery(&q, "SELECT * FROM NoSuchTable", 0), 0);
    EXPECT_EQ(RunQuery(&q, "INSERT INTO OccupationTitle (TitleNo) VALUES ('T1')", 1), 0);
    EXPECT_TRUE(db.connection().isConnected());

    // A closed connection is not touched.
    db.connection().close();
    EXPECT_EQ(RunQuery(&q, "SELECT * FROM OccupationTitle", 0), 0);
    EXPECT_FALSE(db.connection().isConnected());
}

// The probe asks the link, not a table: a site without the optional UserData table still
// answers; a closed or lost link does not.
TEST_P(HelpersTest, CheckConnectionProbesTheLinkNotATable)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    EXPECT_EQ(CheckConnection(), 0); // no module connection
    setModuleConnection(&db.connection());
    EXPECT_EQ(CheckConnection(), 1);
    db.exec({"DROP TABLE UserData"});
    EXPECT_EQ(CheckConnection(), 1);
    EXPECT_TRUE(db.connection().isConnected());
    db.connection().close();
    EXPECT_EQ(CheckConnection(), 0);
    setModuleConnection(nullptr);
}

TEST_P(HelpersTest, LocateFillAndOpenHelpers)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    Recordset q;
    q.setConnection(&db.connection());
    EXPECT_FALSE(LocateRecord(&q, "TitleNo", "T1")); // closed
    OpenTableOrdered(&q, "OccupationTitle", "TitleNo");
    EXPECT_FALSE(LocateRecord(&q, "TitleNo", "T1")); // empty

    QComboBox combo;
    QStringList keys{"kept"};
    zq::widgets::FillComboFromDataSet(&q, "TitleNo", "TitleName", &combo, keys);
    EXPECT_EQ(combo.count(), 1);
    EXPECT_EQ(combo.currentIndex(), 0);
    EXPECT_EQ(keys, QStringList{"kept"});

    db.exec({"INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES (' T2 ', ' two ')",
             "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T1', 'one')",
             "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('t1', 'lower')"});
    OpenTableOrdered(&q, "OccupationTitle", "TitleNo");
    keys.clear();
    combo.clear();
    zq::widgets::FillComboFromDataSet(&q, "TitleNo", "TitleName", &combo, keys);
    ASSERT_EQ(combo.count(), 4);
    EXPECT_EQ(combo.itemText(0), "");
    EXPECT_EQ(keys.size(), 3);
    EXPECT_EQ(combo.itemText(1 + int(keys.indexOf("T2"))), "T2 : two");
    EXPECT_EQ(TextBeforeSeparator(combo.itemText(1 + int(keys.indexOf("T1"))), ":"), "T1");

    EXPECT_TRUE(LocateRecord(&q, "TitleNo", "t1"));
    EXPECT_EQ(q.text("TitleName"), "lower"); // exact case
    const int row = q.currentRow();
    EXPECT_FALSE(LocateRecord(&q, "TitleNo", "T"));
    EXPECT_EQ(q.currentRow(), 0); // went to the first row before searching

    OpenQueryText(&q, "SELECT * FROM OccupationTitle WHERE TitleNo = 'T1'");
    EXPECT_EQ(q.recordCount(), 1);
    EXPECT_THROW(OpenQueryText(&q, "SELECT * FROM Missing"), DbError);
    EXPECT_THROW(OpenTableOrdered(&q, "OccupationTitle", "NoColumn"), DbError);
    Q_UNUSED(row)
}

TEST(Helpers, TextBeforeSeparator)
{
    EXPECT_EQ(TextBeforeSeparator(" D01  : Sales : x", ":"), "D01");
    EXPECT_EQ(TextBeforeSeparator("  no separator  ", ":"), "  no separator  ");
    EXPECT_EQ(TextBeforeSeparator(": name", ":"), "");
}

TEST_P(HelpersTest, BindFormDataSetsAttachesAndDetachesEveryQuery)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    setModuleConnection(&db.connection());
    QWidget window;
    auto *a = new Recordset("adoDB", &window);
    auto *inner = new QWidget(&window);
    auto *b = new Recordset("adqTmp", inner);
    BindFormDataSets(&window, 0);
    EXPECT_EQ(a->connection(), &db.connection());
    EXPECT_EQ(b->connection(), &db.connection());
    EXPECT_EQ(RunQuery(b, "SELECT * FROM UserData", 0), 1);
    BindFormDataSets(&window, 1);
    EXPECT_FALSE(b->isOpen());
    EXPECT_EQ(a->connection(), nullptr);
    EXPECT_EQ(RunQuery(b, "SELECT * FROM UserData", 0), 0);
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         HelpersTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);

// The holder window's fix-up of missing dates runs on every open; the partial indexes keep
// it from reading the whole table, and they must not hide a holder that needs the fix-up.
TEST_P(HelpersTest, MissingDateFixUpFindsUndatedHoldersThroughItsIndex)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    db.exec({"INSERT INTO HolderData (HolderNo, Birthday, StartDate) VALUES "
             "('H1', '2001-02-03 00:00:00', NULL), ('H2', NULL, '2001-02-03 00:00:00')"});
    Connection &c = db.connection();
    QSqlQuery q(c.database());
    if (GetParam() == Engine::SQLite) {
        ASSERT_TRUE(q.exec("EXPLAIN QUERY PLAN UPDATE HolderData SET Birthday = '2020-01-01' "
                           "WHERE Birthday IS NULL"));
        QString plan;
        while (q.next())
            plan += q.value(3).toString() + '\n';
        EXPECT_TRUE(plan.contains("ix_HolderData_NoBirthday")) << plan.toStdString();
    }
    ASSERT_TRUE(
        c.execute("UPDATE HolderData SET Birthday = '2020-01-01 00:00:00' WHERE Birthday IS NULL"));
    ASSERT_TRUE(c.execute(
        "UPDATE HolderData SET StartDate = '2020-01-01 00:00:00' WHERE StartDate IS NULL"));
    ASSERT_TRUE(
        q.exec("SELECT HolderNo FROM HolderData WHERE Birthday IS NULL OR StartDate IS NULL"));
    EXPECT_FALSE(q.next());
    ASSERT_TRUE(q.exec("SELECT COUNT(*) FROM HolderData WHERE Birthday = '2020-01-01 00:00:00'"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 1);
}
