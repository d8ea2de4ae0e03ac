#include "Connection.h"
#include "Recordset.h"
#include "SuiteHost.h"
#include "TestDatabase.h"
#include "UserRights.h"

#include <QDateTime>

#include <stdexcept>
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

// The audit entry through the statement prepared once per connection and through a
// statement text of its own store the same rows and refuse the same entries; the prepared
// one survives its connection closing and opening again.
TEST_P(SuiteRecordsTest, AuditEntriesPreparedOnceAreTheRowsOfTheirOwnStatements)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    Connection &c = db.connection();
    const QStringList entries{QStringLiteral("E H000001"),
                              QStringLiteral("x'); DROP TABLE UserData; --"),
                              QStringLiteral("持卡人 Müller \\n 100% _ \"ok\" \t"),
                              QString(),
                              QString(200, u'y'),
                              QString(201, u'z')};
    using Write = bool (*)(Connection &, const QString &, const QString &, const QString &);
    const auto run = [&](Write write, QList<bool> &results) {
        c.execute(QStringLiteral("DELETE FROM ProgramRunEdit"));
        results.clear();
        for (const QString &entry : entries)
            results << write(c, QStringLiteral("o'neil"), QStringLiteral("Key'1"), entry);
        // A user and key never set are written as '' too.
        results << write(c, QString(), QString(), QStringLiteral("nobody"));
        // A NUL is refused before anything is written.
        EXPECT_THROW(write(c, "u", "k", QStringLiteral("a") + QChar(0)), std::invalid_argument);
        QStringList rows;
        auto back = readBack(c,
                             "SELECT RunTime, UserID, RightKey, Entry, CASE WHEN UserID IS NULL "
                             "OR RightKey IS NULL OR Entry IS NULL THEN 'NULL' ELSE '' END AS N "
                             "FROM ProgramRunEdit");
        const QDateTime now = QDateTime::currentDateTime();
        for (int row = 0; row < back->recordCount(); ++row) {
            back->moveTo(row);
            EXPECT_LE(qAbs(back->dateTime("RunTime").secsTo(now)), 5);
            rows << back->text("UserID") + "|" + back->text("RightKey") + "|" + back->text("Entry")
                        + "|" + back->text("N");
        }
        rows.sort();
        return rows;
    };
    QList<bool> byStatement, prepared;
    const QStringList expected = run(&zq::suite::addProgramRunEditStatement, byStatement);
    EXPECT_EQ(run(&zq::suite::addProgramRunEdit, prepared), expected);
    EXPECT_EQ(prepared, byStatement);
    // PostgreSQL holds the entry to its width.
    EXPECT_EQ(byStatement.at(entries.size() - 1), GetParam() == Engine::SQLite);
    EXPECT_EQ(expected.size(), GetParam() == Engine::SQLite ? 7 : 6);
    EXPECT_TRUE(expected.contains("||nobody|"));
    EXPECT_TRUE(expected.contains("o'neil|Key'1||"));

    c.close();
    ASSERT_TRUE(c.open());
    EXPECT_EQ(run(&zq::suite::addProgramRunEdit, prepared), expected);
    EXPECT_EQ(prepared, byStatement);
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
