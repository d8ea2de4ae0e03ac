// The fetched rows of a recordset read back exactly what the driver gave, whatever way they
// are kept in memory: types, texts of any script, empty and NULL apart, date-times in the
// forms the engines write, and rows changed after the fetch.
#include "Connection.h"
#include "Recordset.h"
#include "TestDatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <gtest/gtest.h>

using namespace zq::data;

class RecordsetRowsTest : public testing::TestWithParam<Engine>
{
};

namespace {

const QString kName = QStringLiteral("\u9673\u5927\u6587 Ångström");

void fillHolders(zq::test::TestDatabase &db, int count)
{
    Connection &c = db.connection();
    ASSERT_TRUE(c.begin());
    QSqlQuery q(c.database());
    ASSERT_TRUE(q.prepare("INSERT INTO HolderData (HolderNo, HolderName, ShowText, SequenceNo, "
                          "Enabled, StartDate) VALUES (?, ?, ?, ?, ?, ?)"));
    for (int i = 0; i < count; ++i) {
        q.addBindValue(QStringLiteral("H%1").arg(i, 5, 10, QLatin1Char('0')));
        q.addBindValue(i % 3 == 0 ? kName + QString::number(i) : QStringLiteral("n%1").arg(i));
        q.addBindValue(i % 4 == 0 ? QVariant() : QVariant(i % 4 == 1 ? QString("") : QString("s")));
        q.addBindValue(i);
        q.addBindValue(i % 2);
        q.addBindValue(
            QStringLiteral("2024-%1-01 08:30:15").arg(1 + i % 12, 2, 10, QLatin1Char('0')));
        ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
    }
    ASSERT_TRUE(c.commit());
}

Recordset *openOn(Recordset &rs, zq::test::TestDatabase &db, const QString &sql)
{
    rs.setConnection(&db.connection());
    rs.setStatement(sql);
    rs.open();
    return &rs;
}

} // namespace

TEST_P(RecordsetRowsTest, EveryValueReadsAsTheDriverGaveIt)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    fillHolders(db, 3000);
    const QString sql = QStringLiteral(
        "SELECT HolderNo, HolderName, ShowText, SequenceNo, Enabled, Photo, StartDate "
        "FROM HolderData ORDER BY HolderNo");
    Recordset rs;
    openOn(rs, db, sql);
    QSqlQuery q(db.connection().database());
    ASSERT_TRUE(q.exec(sql));
    const int dateColumn = rs.fieldIndex("StartDate");
    int row = 0;
    while (q.next()) {
        ASSERT_LT(row, rs.recordCount());
        for (int c = 0; c < q.record().count(); ++c) {
            const QVariant driver = q.value(c);
            const QVariant ours = rs.valueAt(row, c);
            if (driver.isNull()) {
                EXPECT_FALSE(ours.isValid()) << row << "/" << c;
            } else if (c == dateColumn) {
                ASSERT_EQ(ours.metaType().id(), QMetaType::QDateTime);
                EXPECT_EQ(ours.toDateTime(),
                          QDateTime(QDate(2024, 1 + row % 12, 1), QTime(8, 30, 15)));
            } else {
                EXPECT_EQ(ours.metaType(), driver.metaType()) << row << "/" << c;
                EXPECT_EQ(ours, driver) << row << "/" << c;
            }
        }
        ++row;
    }
    EXPECT_EQ(row, rs.recordCount());
    ASSERT_TRUE(rs.moveTo(0));
    EXPECT_TRUE(rs.isNull("ShowText"));
    EXPECT_EQ(rs.text("HolderName"), kName + "0");
    ASSERT_TRUE(rs.moveTo(1));
    EXPECT_FALSE(rs.isNull("ShowText")); // empty, not NULL
    EXPECT_EQ(rs.text("ShowText"), "");
}

TEST_P(RecordsetRowsTest, DateTimeTextsOfEveryFormReadAsLocalDateTimes)
{
    if (GetParam() != Engine::SQLite)
        GTEST_SKIP() << "only SQLite keeps the date-time texts as they were written";
    ZQ_OPEN_TEST_DB(db, GetParam());
    db.exec({"INSERT INTO HolderData (HolderNo, StartDate) VALUES ('A', '2025-01-02 03:04:05')",
             "INSERT INTO HolderData (HolderNo, StartDate) VALUES ('B', '2025-01-02T03:04:05.250')",
             "INSERT INTO HolderData (HolderNo, StartDate) VALUES ('C', '2025-01-02 03:04')",
             "INSERT INTO HolderData (HolderNo, StartDate) VALUES ('D', ' 2025-01-02')",
             "INSERT INTO HolderData (HolderNo, StartDate) VALUES ('E', '2025-02-30 00:00:00')",
             "INSERT INTO HolderData (HolderNo, StartDate) VALUES ('F', 'someday')"});
    Recordset rs;
    openOn(rs, db, "SELECT HolderNo, StartDate FROM HolderData ORDER BY HolderNo");
    ASSERT_EQ(rs.recordCount(), 6);
    const QDateTime seconds(QDate(2025, 1, 2), QTime(3, 4, 5));
    EXPECT_EQ(rs.valueAt(0, 1), QVariant(seconds));
    EXPECT_EQ(rs.valueAt(1, 1), QVariant(seconds));
    EXPECT_EQ(rs.valueAt(2, 1), QVariant(QDateTime(QDate(2025, 1, 2), QTime(3, 4))));
    EXPECT_EQ(rs.valueAt(3, 1), QVariant(QDate(2025, 1, 2).startOfDay()));
    EXPECT_EQ(rs.valueAt(4, 1), QVariant(QString("2025-02-30 00:00:00")));
    EXPECT_EQ(rs.valueAt(5, 1), QVariant(QString("someday")));
    EXPECT_EQ(rs.valueAt(0, 1).toDateTime().timeSpec(), Qt::LocalTime);
    rs.moveTo(1);
    EXPECT_EQ(rs.dateTime("StartDate"), seconds);
    EXPECT_EQ(rs.text("StartDate"), "2025-01-02 03:04:05");
}

TEST_P(RecordsetRowsTest, DateTimesSortByTheirReading)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    db.exec({"INSERT INTO HolderData (HolderNo, StartDate) VALUES ('A', '2025-03-01 10:00:00')",
             "INSERT INTO HolderData (HolderNo, StartDate) VALUES ('B', NULL)",
             "INSERT INTO HolderData (HolderNo, StartDate) VALUES ('C', '2024-12-31 23:59:59')",
             "INSERT INTO HolderData (HolderNo, StartDate) VALUES ('D', '2025-03-01 09:59:59')"});
    Recordset rs;
    openOn(rs, db, "SELECT HolderNo, StartDate FROM HolderData ORDER BY HolderNo");
    rs.moveTo(3);
    rs.setSort("StartDate DESC");
    QStringList order;
    for (int r = 0; r < rs.recordCount(); ++r)
        order << Recordset::textOf(rs.valueAt(r, 0));
    EXPECT_EQ(order, QStringList({"A", "D", "C", "B"}));
    EXPECT_EQ(rs.text("HolderNo"), "D");
    EXPECT_EQ(rs.valueAt(0, 1).toDateTime(), QDateTime(QDate(2025, 3, 1), QTime(10, 0)));
}

TEST_P(RecordsetRowsTest, ChangedRowsReadBackAsPostedAndTheOthersStay)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    fillHolders(db, 3000);
    Recordset rs;
    openOn(rs, db, "SELECT * FROM HolderData ORDER BY HolderNo");
    ASSERT_EQ(rs.recordCount(), 3000);
    const QString wide = QStringLiteral("\u9f8d") + QString(29, QChar(0x5e73));
    ASSERT_TRUE(rs.moveTo(1500));
    rs.edit();
    rs.setField("HolderName", wide);
    rs.setField("ShowText", QVariant());
    rs.setField("StartDate", QDateTime(QDate(2030, 5, 6), QTime(7, 8, 9)));
    rs.post();
    EXPECT_EQ(rs.text("HolderName"), wide);
    EXPECT_TRUE(rs.isNull("ShowText"));
    EXPECT_EQ(rs.text("StartDate"), "2030-05-06 07:08:09");
    EXPECT_EQ(rs.text("HolderNo"), "H01500");
    EXPECT_EQ(Recordset::textOf(rs.valueAt(1499, rs.fieldIndex("HolderName"))), "n1499");
    EXPECT_EQ(Recordset::textOf(rs.valueAt(1501, rs.fieldIndex("HolderName"))), "n1501");

    rs.append();
    rs.setField("HolderNo", "Z1");
    rs.setField("HolderName", "");
    rs.post();
    EXPECT_EQ(rs.recordCount(), 3001);
    EXPECT_FALSE(rs.isNull("HolderName"));
    rs.setSort("HolderName DESC");
    EXPECT_EQ(Recordset::textOf(rs.valueAt(0, 0)), "H01500");
    rs.setSort("");
    EXPECT_EQ(Recordset::textOf(rs.valueAt(3000, 0)), "Z1");
    rs.moveTo(0);
    rs.deleteCurrent();
    EXPECT_EQ(rs.recordCount(), 3000);
    EXPECT_EQ(rs.text("HolderNo"), "H00001");

    Recordset again;
    openOn(again, db, "SELECT HolderName FROM HolderData WHERE HolderNo = 'H01500'");
    EXPECT_EQ(again.text("HolderName"), wide);
}

TEST_P(RecordsetRowsTest, AValueLargerThanABlockReadsWhole)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    QString big;
    for (int i = 0; i < 100000; ++i)
        big += QChar(u'a' + i % 26);
    Recordset rs;
    openOn(rs,
           db,
           QStringLiteral("SELECT ") + Connection::quoted(big) + QStringLiteral(" AS Big, ")
               + Connection::quoted(QStringLiteral("after")) + QStringLiteral(" AS Small"));
    ASSERT_EQ(rs.recordCount(), 1);
    EXPECT_EQ(rs.text("Big"), big);
    EXPECT_EQ(rs.text("Small"), "after");
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         RecordsetRowsTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);
