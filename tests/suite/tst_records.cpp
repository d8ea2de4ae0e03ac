#include "Connection.h"
#include "Recordset.h"
#include "SuiteHost.h"
#include "TestDatabase.h"

#include <QDateTime>

#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using zq::data::Connection;
using zq::data::Engine;
using zq::data::Recordset;
using zq::test::suiteEntry;
using zq::test::SuiteHost;
using zq::test::SuiteLib;

namespace {

QString userRow(const QString &id, int supervisor)
{
    return zq::test::insertRow(
        "UserData", {"UserID", "UserName", "Supervisor"}, {id, id, supervisor});
}

QString rightRow(const QString &id, const QString &key, int value)
{
    return zq::test::insertRow(
        "UserProgramRight", {"UserID", "RightKey", "RightValue"}, {id, key, value});
}

std::unique_ptr<Recordset> readBack(Connection &connection, const QString &sql)
{
    auto rows = std::make_unique<Recordset>();
    rows->setConnection(&connection);
    rows->setStatement(sql);
    rows->open();
    return rows;
}

class SuiteRecordsTest : public testing::TestWithParam<Engine>
{
protected:
    SuiteHost host;
    GetProgramRightFn programRight = suiteEntry<GetProgramRightFn>(SuiteLib::UserRight,
                                                                   "GetProgramRight");
};

} // namespace

TEST_P(SuiteRecordsTest, ProgramRightComesFromItsRowElseFromTheSupervisorFlag)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    db.exec({userRow("boss", 1),
             userRow("clerk", 0),
             userRow("o'neil", 1),
             rightRow("boss", "HolderI", 3),
             rightRow("clerk", "HolderI", 5),
             rightRow("clerk", "O'Key", 9)});
    host.connection = &db.connection();

    const std::tuple<const char *, const char *, int> cases[] = {
        {"boss", "HolderI", 3}, // a row narrows even a supervisor
        {"boss", "DepartmentI", 127},
        {"o'neil", "HolderI", 127},
        {"clerk", "HolderI", 5},
        {"clerk", "DepartmentI", 0},
        {"clerk", "O'Key", 9},
        // Were the key pasted into the statement, this would match the clerk's HolderI row.
        {"clerk", "x' OR RightKey = 'HolderI", 0},
        {"clerk", "x'; DELETE FROM UserProgramRight; --", 0},
        {"clerk", nullptr, 0},
        {"ghost", "HolderI", 0},
        {"", "HolderI", 0},
    };
    for (const auto &[user, key, expected] : cases) {
        host.loginUserId = user;
        ASSERT_TRUE(host.init());
        EXPECT_EQ(programRight(key), expected) << user << " / " << (key ? key : "(null)");
    }
    EXPECT_EQ(readBack(db.connection(), "SELECT * FROM UserProgramRight")->recordCount(), 3);

    host.loginUserId = "boss";
    ASSERT_TRUE(host.init());
    db.connection().close();
    EXPECT_EQ(programRight("DepartmentI"), 0);
}

TEST_P(SuiteRecordsTest, AuditEntriesAreStoredAsWrittenAndCommitted)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    host.connection = &db.connection();
    host.loginUserId = "o'neil";
    ASSERT_TRUE(host.init());
    auto addEntry = suiteEntry<AddProgramRunEditFn>(SuiteLib::UserRight, "AddProgramRunEdit");

    const QStringList entries{QStringLiteral("Holder 'A01' saved"),
                              QStringLiteral("x'); DROP TABLE UserData; --"),
                              QStringLiteral("持卡人 Müller \\n 100% \"ok\"")};
    const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
    for (const QString &entry : entries)
        addEntry("Key'1", entry.toUtf8().constData());
    const QDateTime after = QDateTime::currentDateTime().addSecs(2);

    // Another connection sees only what was committed.
    auto other = db.openAnother();
    ASSERT_TRUE(other->isConnected());
    EXPECT_TRUE(other->hasTable("UserData"));
    auto rows = readBack(*other, "SELECT RunTime, UserID, RightKey, Entry FROM ProgramRunEdit");
    ASSERT_EQ(rows->recordCount(), 3);
    std::vector<std::string> stored;
    for (int row = 0; row < rows->recordCount(); ++row) {
        rows->moveTo(row);
        stored.push_back(rows->text("Entry").toStdString());
        EXPECT_EQ(rows->text("UserID"), "o'neil");
        EXPECT_EQ(rows->text("RightKey"), "Key'1");
        const QDateTime at = rows->dateTime("RunTime");
        EXPECT_TRUE(at >= before && at <= after) << at.toString(Qt::ISODate).toStdString();
    }
    EXPECT_THAT(stored,
                testing::UnorderedElementsAre(
                    entries[0].toStdString(), entries[1].toStdString(), entries[2].toStdString()));
}

TEST_P(SuiteRecordsTest, CardDeletionIsJournalledForTheDevices)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    host.connection = &db.connection();
    host.loginUserId = "o'neil";
    ASSERT_TRUE(host.init());
    auto deleteCard = suiteEntry<DeviceCardDeleteFn>(SuiteLib::Com, "DeviceCardDelete");

    const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
    deleteCard(7, 2147483647);
    deleteCard(3, 12345);
    const QDateTime after = QDateTime::currentDateTime().addSecs(2);
    db.connection().close();
    deleteCard(9, 1); // no link: nothing to write to, and no crash

    auto other = db.openAnother();
    auto rows = readBack(
        *other,
        "SELECT DeviceNo, CardNo, DeletedAt, UserID FROM DeviceCardJournal ORDER BY DeviceNo");
    ASSERT_EQ(rows->recordCount(), 2);
    EXPECT_EQ(rows->value("DeviceNo").toInt(), 3);
    EXPECT_EQ(rows->value("CardNo").toLongLong(), 12345);
    EXPECT_EQ(rows->text("UserID"), "o'neil");
    const QDateTime at = rows->dateTime("DeletedAt");
    EXPECT_TRUE(at >= before && at <= after) << at.toString(Qt::ISODate).toStdString();
    rows->next();
    EXPECT_EQ(rows->value("DeviceNo").toInt(), 7);
    EXPECT_EQ(rows->value("CardNo").toLongLong(), 2147483647);
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         SuiteRecordsTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);

TEST(SuiteContext, EachInitReplacesTheContextAndAForeignVersionIsRefused)
{
    SuiteHost host;
    auto loginUser = suiteEntry<GetLoginUserIDFn>(SuiteLib::UserRight, "GetLoginUserID");
    auto programPath = suiteEntry<GetProgramPathFn>(SuiteLib::Common, "GetProgramPath");
    auto initRights = suiteEntry<ZQSuiteInitFn>(SuiteLib::UserRight, "ZQSuiteInit");

    host.loginUserId = "持卡人";
    ASSERT_TRUE(host.init());
    EXPECT_STREQ(loginUser(), "持卡人");
    EXPECT_EQ(QString::fromUtf8(programPath()), QString::fromUtf8(host.siteFolder) + '/');

    host.loginUserId = "second";
    host.siteFolder += '/';
    ASSERT_TRUE(host.init());
    EXPECT_STREQ(loginUser(), "second");
    EXPECT_EQ(QByteArray(programPath()), host.siteFolder); // not doubled

    ZQSuiteContext foreign{ZQ_SUITE_CONTEXT_VERSION + 1, nullptr, "/x", "third", "en", "", "", ""};
    EXPECT_EQ(initRights(&foreign), 0);
    EXPECT_EQ(initRights(nullptr), 0);
    EXPECT_STREQ(loginUser(), "second");
}
