#include "Connection.h"
#include "Recordset.h"
#include "Schema.h"
#include "TestDatabase.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace zq::data;
using zq::test::TestDatabase;

class RecordsetTest : public testing::TestWithParam<Engine>
{
};

namespace {
void fillTitles(TestDatabase &db)
{
    db.exec(
        {"INSERT INTO OccupationTitle (TitleNo, TitleName, Description) VALUES ('T2', 'beta', 'b')",
         "INSERT INTO OccupationTitle (TitleNo, TitleName, Description) VALUES ('T1', 'Alpha', "
         "NULL)",
         "INSERT INTO OccupationTitle (TitleNo, TitleName, Description) VALUES ('T3', 'gamma', "
         "'c')"});
}

int countOf(Connection &c, const QString &sql)
{
    Recordset rs;
    rs.setConnection(&c);
    rs.setStatement(sql);
    rs.open();
    return rs.value(rs.fieldName(0)).toInt();
}
} // namespace

TEST_P(RecordsetTest, AppendEditDeleteWriteThroughThePrimaryKey)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    fillTitles(db);
    Recordset rs;
    rs.setConnection(&db.connection());
    rs.setStatement("Select * From OccupationTitle Order By TitleNo");
    rs.open();
    ASSERT_EQ(rs.recordCount(), 3);
    EXPECT_EQ(rs.text("titleno"), "T1"); // names answer in any case
    EXPECT_TRUE(rs.isNull("Description"));

    QSignalSpy changed(&rs, &Recordset::dataChanged);
    rs.append();
    rs.setField("TitleNo", "T0");
    rs.setField("TitleName", "new");
    rs.post();
    EXPECT_GE(changed.count(), 1);
    EXPECT_EQ(rs.recordCount(), 4);
    EXPECT_EQ(rs.text("TitleNo"), "T0");

    ASSERT_TRUE(rs.moveTo(1)); // T2
    rs.edit();
    rs.setField("TitleName", "renamed");
    rs.post();
    rs.moveTo(0);
    rs.deleteCurrent();
    EXPECT_EQ(rs.recordCount(), 3);

    Recordset check;
    check.setConnection(&db.connection());
    check.setStatement("SELECT * FROM OccupationTitle ORDER BY TitleNo");
    check.open();
    QStringList rows;
    for (; !check.eof(); check.next())
        rows << check.text("TitleNo") + "=" + check.text("TitleName");
    EXPECT_EQ(rows.join(","), "T0=new,T2=renamed,T3=gamma");
}

TEST_P(RecordsetTest, AFailedPostLeavesEditingAndTheTableAsTheyWere)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    fillTitles(db);
    Recordset rs;
    rs.setConnection(&db.connection());
    rs.setStatement("SELECT * FROM OccupationTitle");
    rs.open();
    rs.append();
    rs.setField("TitleNo", "T1"); // duplicate key
    EXPECT_THROW(rs.post(), DbError);
    EXPECT_EQ(rs.state(), Recordset::State::Insert);
    ASSERT_FALSE(db.connection().errors().isEmpty());
    EXPECT_NE(db.connection().errors().first().nativeCode, 0);
    EXPECT_TRUE(db.connection().isConnected());
    rs.cancel();
    EXPECT_EQ(rs.recordCount(), 3);
    EXPECT_EQ(countOf(db.connection(), "SELECT COUNT(*) FROM OccupationTitle"), 3);
}

TEST_P(RecordsetTest, AnUpdateOfARowDeletedMeanwhileIsReported)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    fillTitles(db);
    Recordset rs;
    rs.setConnection(&db.connection());
    rs.setStatement("SELECT * FROM OccupationTitle WHERE TitleNo = 'T2'");
    rs.open();
    db.exec({"DELETE FROM OccupationTitle WHERE TitleNo = 'T2'"});
    rs.edit();
    rs.setField("TitleName", "lost");
    EXPECT_THROW(rs.post(), DbError);
    EXPECT_EQ(countOf(db.connection(), "SELECT COUNT(*) FROM OccupationTitle"), 2);
}

TEST_P(RecordsetTest, ATableWithoutKeyIsWrittenByTheOriginalValues)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    db.exec({"INSERT INTO ProgramRunEdit (UserID, RightKey, Entry) VALUES ('u', 'K', 'A 1')",
             "INSERT INTO ProgramRunEdit (UserID, RightKey, Entry) VALUES ('u', 'K', 'A 2')"});
    Recordset rs;
    rs.setConnection(&db.connection());
    rs.setStatement("SELECT * FROM ProgramRunEdit WHERE Entry = 'A 2'");
    rs.open();
    rs.edit();
    rs.setField("Entry", "E 2");
    rs.post();
    EXPECT_EQ(countOf(db.connection(), "SELECT COUNT(*) FROM ProgramRunEdit WHERE Entry = 'A 1'"),
              1);
    EXPECT_EQ(countOf(db.connection(), "SELECT COUNT(*) FROM ProgramRunEdit WHERE Entry = 'E 2'"),
              1);
    rs.deleteCurrent();
    EXPECT_EQ(countOf(db.connection(), "SELECT COUNT(*) FROM ProgramRunEdit"), 1);
}

TEST_P(RecordsetTest, JoinsCanBeReadButNotWritten)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    fillTitles(db);
    db.exec({"INSERT INTO HolderData (HolderNo, HolderName, TitleNo) VALUES ('H1', 'n', 'T1')"});
    Recordset rs;
    rs.setConnection(&db.connection());
    rs.setStatement("SELECT HolderData.*, OccupationTitle.TitleName FROM (HolderData LEFT JOIN "
                    "OccupationTitle ON HolderData.TitleNo = OccupationTitle.TitleNo)");
    rs.open();
    EXPECT_EQ(rs.text("TitleName"), "Alpha");
    rs.edit();
    rs.setField("HolderName", "x");
    EXPECT_THROW(rs.post(), DbError);
}

TEST_P(RecordsetTest, SortKeepsTheCurrentRecordAndEmptyRestoresTheFetchedOrder)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    fillTitles(db);
    db.exec({"INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T4', NULL)"});
    Recordset rs;
    rs.setConnection(&db.connection());
    rs.setStatement("SELECT * FROM OccupationTitle ORDER BY TitleNo");
    rs.open();
    rs.moveTo(2); // T3
    rs.setSort("TitleName");
    EXPECT_EQ(rs.text("TitleNo"), "T3");
    QStringList order;
    for (int i = 0; i < rs.recordCount(); ++i)
        order << Recordset::textOf(rs.valueAt(i, rs.fieldIndex("TitleNo")));
    EXPECT_EQ(order.join(","), "T4,T1,T2,T3"); // NULL first, case ignored
    rs.setSort("TitleName DESC");
    EXPECT_EQ(Recordset::textOf(rs.valueAt(0, 0)), "T3");
    rs.setSort("");
    EXPECT_EQ(Recordset::textOf(rs.valueAt(0, 0)), "T1");
    EXPECT_THROW(rs.setSort("NoSuchField"), DbError);
}

TEST_P(RecordsetTest, BlobsAndDatesRoundTripWithoutShifting)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    QByteArray photo(70000, '\0');
    for (int i = 0; i < photo.size(); ++i)
        photo[i] = char(i * 7);
    const QDateTime birthday(QDate(2005, 3, 1), QTime(0, 0));
    {
        Recordset rs;
        rs.setConnection(&db.connection());
        rs.setStatement("SELECT * FROM HolderData");
        rs.open();
        rs.append();
        rs.setField("HolderNo", "H1");
        rs.setField("Photo", photo);
        rs.setField("Birthday", birthday);
        rs.setField("StartDate", QDate(1999, 12, 31));
        rs.setField("SequenceNo", 7);
        rs.post();
    }
    Recordset rs;
    rs.setConnection(&db.connection());
    rs.setStatement("SELECT * FROM HolderData WHERE Birthday = :date1");
    rs.setParameter(":date1", birthday);
    rs.open();
    ASSERT_EQ(rs.recordCount(), 1);
    EXPECT_EQ(rs.bytes("Photo"), photo);
    EXPECT_EQ(rs.dateTime("Birthday"), birthday);
    EXPECT_EQ(rs.text("StartDate"), "1999-12-31 00:00:00");
    EXPECT_EQ(rs.text("SequenceNo"), "7");
    EXPECT_TRUE(rs.isNull("ExpiredDate"));
}

TEST_P(RecordsetTest, QuotedValuesRoundTripAndTouchNoOtherRow)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    const QStringList values{"O'Brien",
                             "''; DROP TABLE HolderData; --",
                             "100%",
                             "a_b",
                             "C:\\path\\",
                             "\\'",
                             QString::fromUtf8("陳大文 Ünïcødé"),
                             QString(4000, QChar(u'長'))};
    db.exec({"INSERT INTO HolderData (HolderNo, HolderName) VALUES ('keep', 'untouched')"});
    int n = 0;
    for (const QString &v : values) {
        const QString no = QStringLiteral("q%1").arg(n++);
        db.exec({"INSERT INTO HolderData (HolderNo, Description) VALUES (" + Connection::quoted(no)
                 + ", " + Connection::quoted(v.left(40)) + ")"});
        db.exec({"UPDATE HolderData SET HolderName = " + Connection::quoted(v.left(40))
                 + " WHERE HolderNo = " + Connection::quoted(no)});
        Recordset rs;
        rs.setConnection(&db.connection());
        rs.setStatement("SELECT * FROM HolderData WHERE HolderName = "
                        + Connection::quoted(v.left(40)));
        rs.open();
        ASSERT_EQ(rs.recordCount(), 1) << v.toStdString();
        EXPECT_EQ(rs.text("HolderName"), v.left(40));
        EXPECT_EQ(rs.text("HolderNo"), no);
    }
    // A long text in a wide column and a LIKE pattern built from a quoted value.
    db.exec({"INSERT INTO ProgramRunEdit (Entry) VALUES ("
             + Connection::quoted(values.last().left(200)) + ")"});
    EXPECT_EQ(countOf(db.connection(),
                      "SELECT COUNT(*) FROM ProgramRunEdit WHERE Entry = "
                          + Connection::quoted(values.last().left(200))),
              1);
    EXPECT_EQ(countOf(db.connection(),
                      "SELECT COUNT(*) FROM HolderData WHERE HolderName LIKE "
                          + Connection::quoted("%'%")),
              3);
    EXPECT_EQ(
        countOf(
            db.connection(),
            "SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'keep' AND HolderName = 'untouched'"),
        1);
    EXPECT_EQ(countOf(db.connection(), "SELECT COUNT(*) FROM HolderData"), int(values.size()) + 1);
    EXPECT_THROW(Connection::quoted(QString("a") + QChar(0)), std::invalid_argument);
}

TEST_P(RecordsetTest, ASecondStatementNeverRuns)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    EXPECT_FALSE(db.connection().execute("DELETE FROM UserData; DROP TABLE HolderData"));
    EXPECT_NE(db.connection().errors().value(0).nativeCode, 0);
    Recordset rs;
    rs.setConnection(&db.connection());
    rs.setStatement("SELECT 1; DROP TABLE HolderData");
    EXPECT_THROW(rs.open(), DbError);
    EXPECT_TRUE(db.connection().hasTable("HolderData"));
    EXPECT_TRUE(db.connection().isConnected());
}

TEST_P(RecordsetTest, SchemaIsCreatedOnceAndTablesAnswerInAnyCase)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    EXPECT_TRUE(createSchema(db.connection()));
    EXPECT_TRUE(db.connection().hasTable("userrightdept"));
    EXPECT_TRUE(db.connection().hasTable("HOLDERDATA"));
    for (const QString &t : db.connection().userTables())
        EXPECT_FALSE(t.startsWith("sqlite_"));
    db.exec({"INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('u', 'D1')"});
    EXPECT_FALSE(db.connection().execute(
        "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('u', 'D1')"));
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         RecordsetTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);
