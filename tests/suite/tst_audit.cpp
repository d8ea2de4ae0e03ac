// Audit entries kept for a transaction and written just before it commits, against the
// same entries written each at once: the same rows, committed and rolled back with their
// transaction; and the RunTime text of a second made once against the local zone's own.
#include "AuditEntries.h"
#include "Connection.h"
#include "TestDatabase.h"

#include <QDateTime>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <ctime>

using zq::data::Connection;
using zq::data::Engine;
using zq::suite::AuditWrites;

namespace {

int countOf(Connection &c, const QString &sql)
{
    QSqlQuery q(c.database());
    return q.exec(sql) && q.next() ? q.value(0).toInt() : -1;
}

// Restores the way of writing in force when the test ends.
struct WritesScope
{
    explicit WritesScope(AuditWrites writes) { zq::suite::setAuditWrites(writes); }
    ~WritesScope() { zq::suite::setAuditWrites(was); }
    AuditWrites was = zq::suite::auditWrites();
};

class AuditEntriesTest : public testing::TestWithParam<Engine>
{
};

} // namespace

// One script of entries inside and outside transactions, committed and rolled back, run
// both ways: the stored rows are the same, and kept entries are not in the table before
// their transaction commits (the many-row way was taken, not the plain one).
TEST_P(AuditEntriesTest, KeptEntriesAreTheRowsOfEntriesWrittenAtOnce)
{
    QStringList stored[2];
    for (const AuditWrites writes : {AuditWrites::AtOnce, AuditWrites::Deferred}) {
        ZQ_OPEN_TEST_DB(db, GetParam());
        Connection &c = db.connection();
        const WritesScope scope(writes);
        const bool kept = writes == AuditWrites::Deferred;
        const int fallbacks = zq::suite::auditFallbacks();
        const auto record = [&c](const QString &entry, const QString &user = "o'neil") {
            return zq::suite::recordAuditEntry(c, user, QStringLiteral("Key'1"), entry);
        };
        EXPECT_TRUE(record(QStringLiteral("outside")));
        // More entries than one statement of many rows takes, and a rest.
        ASSERT_TRUE(c.begin());
        for (int i = 0; i < 600; ++i)
            EXPECT_TRUE(record(QStringLiteral("A N%1").arg(i, 4, 10, QLatin1Char('0'))));
        EXPECT_TRUE(record(QStringLiteral("持卡人 'x'); DROP TABLE UserData; --"), QString()));
        EXPECT_EQ(zq::suite::keptAuditEntries(c), kept ? 601 : 0);
        EXPECT_EQ(countOf(c, "SELECT COUNT(*) FROM ProgramRunEdit"), kept ? 1 : 602);
        ASSERT_TRUE(c.commit());
        EXPECT_EQ(zq::suite::keptAuditEntries(c), 0);
        // Rolled back: its entries go with it.
        ASSERT_TRUE(c.begin());
        for (int i = 0; i < 10; ++i)
            record(QStringLiteral("gone %1").arg(i));
        ASSERT_TRUE(c.rollback());
        EXPECT_EQ(zq::suite::keptAuditEntries(c), 0);
        // A transaction of a few entries, after one rolled back.
        ASSERT_TRUE(c.begin());
        EXPECT_TRUE(record(QStringLiteral("E N0001")));
        ASSERT_TRUE(c.commit());
        EXPECT_EQ(zq::suite::auditFallbacks(), fallbacks);

        auto other = db.openAnother();
        QSqlQuery rows(other->database());
        ASSERT_TRUE(rows.exec("SELECT RunTime, UserID, RightKey, Entry FROM ProgramRunEdit"));
        const QDateTime now = QDateTime::currentDateTime();
        while (rows.next()) {
            const QDateTime at = QDateTime::fromString(rows.value(0).toString().left(19),
                                                       Qt::ISODate);
            EXPECT_LE(qAbs(at.secsTo(now)), 30) << rows.value(0).toString().toStdString();
            stored[kept] << rows.value(1).toString() + '|' + rows.value(2).toString() + '|'
                                + rows.value(3).toString();
        }
        stored[kept].sort();
    }
    EXPECT_EQ(stored[0].size(), 603);
    EXPECT_EQ(stored[1], stored[0]);
}

// Kept entries that cannot be written when the transaction commits take its other writes
// with them: the commit fails and rolls back. An entry the engine holds too wide for its
// column is refused where it is made, as when written at once.
TEST_P(AuditEntriesTest, AnEntryThatCannotBeWrittenRefusesItsTransaction)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    Connection &c = db.connection();
    const WritesScope scope(AuditWrites::Deferred);
    ASSERT_TRUE(c.begin());
    ASSERT_TRUE(c.execute("INSERT INTO UserData (UserID, UserName, Supervisor) "
                          "VALUES ('w1', 'W', 0)"));
    EXPECT_TRUE(zq::suite::recordAuditEntry(c, "u", "k", "A W1"));
    ASSERT_TRUE(c.execute("DROP TABLE ProgramRunEdit"));
    EXPECT_FALSE(c.commit());
    EXPECT_FALSE(c.errors().isEmpty());
    EXPECT_FALSE(c.inTransaction());
    EXPECT_EQ(countOf(c, "SELECT COUNT(*) FROM UserData WHERE UserID = 'w1'"), 0);
    EXPECT_EQ(countOf(c, "SELECT COUNT(*) FROM ProgramRunEdit"), 0);

    ASSERT_TRUE(c.begin());
    EXPECT_EQ(zq::suite::recordAuditEntry(c, "u", "k", QString(201, u'z')),
              GetParam() == Engine::SQLite);
    EXPECT_EQ(zq::suite::keptAuditEntries(c), GetParam() == Engine::SQLite ? 1 : 0);
    c.rollback();
    EXPECT_EQ(zq::suite::keptAuditEntries(c), 0);
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         AuditEntriesTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);

// The text of a second made once is the local zone's text of every instant in it, across
// the changes to and from summer time.
TEST(AuditRunTime, TheTextOfASecondIsTheZonesTextOfEveryInstantInIt)
{
    const QByteArray zoneWas = qgetenv("TZ");
    for (const char *zone : {"Europe/Berlin", "America/Sao_Paulo", "Asia/Taipei"}) {
        qputenv("TZ", zone);
        tzset();
        const WritesScope scope(AuditWrites::Deferred);
        // Around 2026-03-29 01:00 and 2026-10-25 01:00 UTC, and some instants before 1970.
        for (const qint64 middle : {1774746000000LL, 1792890000000LL, -86400500LL}) {
            for (qint64 ms = middle - 3000; ms <= middle + 3000; ms += 250) {
                const QString plain = Connection::dateTimeText(QDateTime::fromMSecsSinceEpoch(ms));
                ASSERT_EQ(zq::suite::runTimeText(ms), plain) << zone << ' ' << ms;
            }
            const qint64 hourLater = middle + 3600 * 1000;
            EXPECT_EQ(zq::suite::runTimeText(hourLater),
                      Connection::dateTimeText(QDateTime::fromMSecsSinceEpoch(hourLater)));
        }
    }
    if (zoneWas.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", zoneWas);
    tzset();
}
