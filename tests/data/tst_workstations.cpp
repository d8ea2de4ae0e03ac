// Two workstations on one database: each connection reads a row, the other writes it in
// between. A write never overwrites what the other one committed without having seen it.
#include "Connection.h"
#include "Helpers.h"
#include "Recordset.h"
#include "TestDatabase.h"

#include <gtest/gtest.h>

#include <memory>

using namespace zq::data;
using zq::test::TestDatabase;

class WorkstationsTest : public testing::TestWithParam<Engine>
{
};

namespace {

QString valueOf(Connection &c, const QString &sql)
{
    Recordset rs;
    rs.setConnection(&c);
    rs.setStatement(sql);
    rs.open();
    return rs.isEmpty() ? QStringLiteral("<none>") : rs.text(rs.fieldName(0));
}

std::unique_ptr<Recordset> openTitle(Connection &c, const QString &key)
{
    auto rs = std::make_unique<Recordset>();
    rs->setConnection(&c);
    rs->setStatement("Select * From OccupationTitle Where TitleNo = '" + key + "'");
    rs->open();
    return rs;
}

// What a window's save does: every input field set again, changed or not.
void setAll(Recordset &rs, const QString &name, const QString &description)
{
    rs.edit();
    rs.setField("TitleNo", rs.text("TitleNo"));
    rs.setField("TitleName", name);
    rs.setField("Description", description);
}

} // namespace

TEST_P(WorkstationsTest, EditsOfDifferentFieldsBothStay)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    db.exec({"INSERT INTO OccupationTitle (TitleNo, TitleName, Description) VALUES ('T1', 'old', "
             "'d')"});
    auto other = db.openAnother();
    auto mine = openTitle(db.connection(), "T1");
    auto theirs = openTitle(*other, "T1");

    setAll(*theirs, "renamed", "d");
    theirs->post();
    setAll(*mine, "old", "described"); // the name as this workstation read it
    EXPECT_NO_THROW(mine->post());

    EXPECT_EQ(valueOf(*other, "SELECT TitleName FROM OccupationTitle"), "renamed");
    EXPECT_EQ(valueOf(*other, "SELECT Description FROM OccupationTitle"), "described");
}

TEST_P(WorkstationsTest, TheSameValueWrittenMeanwhileIsNoConflict)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    db.exec({"INSERT INTO HolderData (HolderNo, HolderName, CheckMark) VALUES ('H1', 'n', NULL)"});
    auto other = db.openAnother();
    ASSERT_TRUE(other->execute("UPDATE HolderData SET CheckMark = 1, HolderName = 'theirs'"));
    Recordset mine;
    mine.setConnection(&db.connection());
    mine.setStatement("Select * From HolderData");
    mine.open(); // read before: as the other workstation's commit had not happened
    mine.setReadValue("CheckMark", QVariant());
    mine.setReadValue("HolderName", "n");
    mine.edit();
    mine.setField("CheckMark", 1);
    mine.setField("Email", "e");
    EXPECT_NO_THROW(mine.post());
    EXPECT_EQ(valueOf(*other, "SELECT Email FROM HolderData"), "e");
    EXPECT_EQ(valueOf(*other, "SELECT HolderName FROM HolderData"), "theirs");
}

TEST_P(WorkstationsTest, SameFieldChangedMeanwhileIsAConflict)
{
    struct Case
    {
        const char *name;
        const char *readDescription; // nullptr: NULL
        const char *theirs;
        const char *mine;
    };
    const Case cases[] = {
        {"text", "d", "theirs", "mine"},
        {"read NULL, then set", nullptr, "theirs", "mine"},
        {"read NULL, then empty", nullptr, "", "mine"},
        {"case only", "d", "D", "mine"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ZQ_OPEN_TEST_DB(db, GetParam());
        db.exec({QString("INSERT INTO OccupationTitle (TitleNo, TitleName, Description) "
                         "VALUES ('T1', 'n', %1)")
                     .arg(c.readDescription ? Connection::quoted(c.readDescription) : "NULL")});
        auto other = db.openAnother();
        auto mine = openTitle(db.connection(), "T1");
        auto theirs = openTitle(*other, "T1");
        setAll(*theirs, "n", c.theirs);
        theirs->post();

        setAll(*mine, "mine too", c.mine);
        try {
            mine->post();
            ADD_FAILURE() << "the update went through";
        } catch (const DbError &e) {
            EXPECT_TRUE(e.isConflict()) << e.what();
        }
        EXPECT_TRUE(isRowConflict(db.connection().errors()));
        // Nothing of the update is written, not even the column nobody else touched, and the
        // input is still in the edit buffer.
        EXPECT_EQ(valueOf(*other, "SELECT TitleName FROM OccupationTitle"), "n");
        EXPECT_EQ(valueOf(*other, "SELECT Description FROM OccupationTitle"), c.theirs);
        EXPECT_EQ(mine->state(), Recordset::State::Edit);
        EXPECT_EQ(mine->text("Description"), c.mine);
        // Reading again shows the other workstation's version, and a save then succeeds.
        mine->cancel();
        mine->open();
        EXPECT_EQ(mine->text("Description"), c.theirs);
        setAll(*mine, "mine too", c.mine);
        EXPECT_NO_THROW(mine->post());
        EXPECT_EQ(valueOf(*other, "SELECT Description FROM OccupationTitle"), c.mine);
    }
}

TEST_P(WorkstationsTest, DeleteOfARowChangedOrDeletedMeanwhileIsAConflict)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    db.exec(
        {"INSERT INTO OccupationTitle (TitleNo, TitleName, Description) VALUES ('T1', 'n', NULL)",
         "INSERT INTO OccupationTitle (TitleNo, TitleName, Description) VALUES ('T2', 'n', 'd')"});
    auto other = db.openAnother();
    Recordset mine;
    mine.setConnection(&db.connection());
    mine.setStatement("Select * From OccupationTitle Order By TitleNo");
    mine.open();
    ASSERT_TRUE(
        other->execute("UPDATE OccupationTitle SET Description = 'new' WHERE TitleNo = 'T1'"));
    ASSERT_TRUE(other->execute("DELETE FROM OccupationTitle WHERE TitleNo = 'T2'"));

    for (int row : {0, 1}) {
        mine.moveTo(row);
        try {
            mine.deleteCurrent();
            ADD_FAILURE() << "row " << row << " was deleted";
        } catch (const DbError &e) {
            EXPECT_TRUE(e.isConflict()) << e.what();
        }
    }
    EXPECT_EQ(mine.recordCount(), 2);
    EXPECT_EQ(valueOf(*other, "SELECT Description FROM OccupationTitle WHERE TitleNo = 'T1'"),
              "new");
    // An edit of the row deleted meanwhile is a conflict too, not a silent no-op.
    mine.moveTo(1);
    mine.edit();
    mine.setField("TitleName", "again");
    EXPECT_THROW(mine.post(), DbError);
    EXPECT_TRUE(isRowConflict(db.connection().errors()));
    // Unchanged rows still delete.
    mine.cancel();
    mine.open();
    mine.deleteCurrent();
    EXPECT_EQ(valueOf(*other, "SELECT COUNT(*) FROM OccupationTitle"), "0");
}

TEST_P(WorkstationsTest, DatesStoredByOtherProgramsAreNoConflict)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    const bool sqlite = GetParam() == Engine::SQLite;
    // Forms other programs write: a bare date and a 'T' (SQLite keeps the text), fractions.
    const QStringList stored = sqlite ? QStringList{"'2024-03-01'",
                                                    "'2024-03-01T08:00:00'",
                                                    "'2024-03-01 08:00:00.250'"}
                                      : QStringList{"'2024-03-01 08:00:00.250'"};
    for (const QString &value : stored) {
        SCOPED_TRACE(value.toStdString());
        db.exec({"DELETE FROM HolderData",
                 "INSERT INTO HolderData (HolderNo, HolderName, StartDate) VALUES ('H1', 'n', "
                     + value + ")"});
        Recordset rs;
        rs.setConnection(&db.connection());
        rs.setStatement("Select * From HolderData");
        rs.open();
        rs.edit();
        rs.setField("StartDate", QDate(2025, 1, 2));
        rs.setField("HolderName", "m");
        EXPECT_NO_THROW(rs.post());
        EXPECT_EQ(valueOf(db.connection(), "SELECT HolderName FROM HolderData"), "m");
        rs.open();
        EXPECT_EQ(rs.dateTime("StartDate"), QDate(2025, 1, 2).startOfDay());
        EXPECT_NO_THROW(rs.deleteCurrent());
    }
}

TEST_P(WorkstationsTest, ConflictInATransactionReachesTheCallerAndNothingIsWritten)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    db.exec(
        {"INSERT INTO OccupationTitle (TitleNo, TitleName, Description) VALUES ('T1', 'n', 'd')",
         "CREATE TABLE Audit (Entry varchar(20))"});
    auto other = db.openAnother();
    auto mine = openTitle(db.connection(), "T1");
    ASSERT_TRUE(other->execute("UPDATE OccupationTitle SET TitleName = 'theirs'"));
    Connection &c = db.connection();
    const bool committed = WriteInTransaction(&c, [&] {
        Recordset audit;
        audit.setConnection(&c);
        audit.setStatement("INSERT INTO Audit (Entry) VALUES ('E T1')");
        audit.execute();
        setAll(*mine, "mine", "d");
        mine->post();
    });
    EXPECT_FALSE(committed);
    EXPECT_TRUE(isRowConflict(c.errors()));
    EXPECT_TRUE(c.isConnected());
    EXPECT_EQ(valueOf(*other, "SELECT COUNT(*) FROM Audit"), "0");
    EXPECT_EQ(valueOf(*other, "SELECT TitleName FROM OccupationTitle"), "theirs");
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         WorkstationsTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);
