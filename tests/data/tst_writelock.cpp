// Another workstation writing the same SQLite file: a transaction waits for its write lock
// as long as the busy timeout allows, also when it reads before it writes.
#include "Connection.h"
#include "Recordset.h"
#include "TestDatabase.h"
#include "WriteLock.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace zq::data;
using zq::test::TestDatabase;
using zq::test::WriteLock;

namespace {

int countOf(Connection &c, const QString &table)
{
    Recordset rs;
    rs.setConnection(&c);
    rs.setStatement("SELECT COUNT(*) AS n FROM " + table);
    rs.open();
    return rs.text("n").toInt();
}

} // namespace

TEST(WriteLock, ATransactionThatReadsFirstWaitsForAShortLock)
{
    ZQ_OPEN_TEST_DB(db, Engine::SQLite);
    Connection &c = db.connection();
    WriteLock other(db.folder() + "/site.db",
                    1500ms,
                    "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('theirs', 't')");
    ASSERT_TRUE(other.held());
    QElapsedTimer waited;
    waited.start();
    ASSERT_TRUE(c.begin()) << c.errors().value(0).text.toStdString();
    // A save reads (its duplicate test) before it writes: the lock must be its own by now.
    EXPECT_EQ(countOf(c, "OccupationTitle"), 1);
    EXPECT_TRUE(c.execute("INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('mine', 'm')"))
        << c.errors().value(0).text.toStdString();
    EXPECT_TRUE(c.commit());
    EXPECT_GE(waited.elapsed(), 1000);
    EXPECT_TRUE(other.release());
    EXPECT_EQ(countOf(c, "OccupationTitle"), 2);
}

TEST(WriteLock, ALockLongerThanTheBusyTimeoutFailsTheBeginAsLocked)
{
    ZQ_OPEN_TEST_DB(db, Engine::SQLite);
    Connection &c = db.connection();
    WriteLock other(db.folder() + "/site.db",
                    7000ms,
                    "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('theirs', 't')");
    ASSERT_TRUE(other.held());
    EXPECT_FALSE(c.begin());
    ASSERT_FALSE(c.errors().isEmpty());
    EXPECT_EQ(c.errors().first().nativeCode & 0xff, 5); // SQLITE_BUSY
    EXPECT_FALSE(c.inTransaction());
    // Nothing of this connection is left half begun: once the lock is gone it writes.
    EXPECT_TRUE(other.release());
    ASSERT_TRUE(c.begin());
    EXPECT_TRUE(c.execute("INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('mine', 'm')"));
    EXPECT_TRUE(c.commit());
    EXPECT_EQ(countOf(c, "OccupationTitle"), 2);
}
