// The engine seam: one switch picks the backend of every connection; what a direct way hands
// to the reference way is counted and logged; both ways write and read the same values; the
// dialect's statements mean the same on both engines; and a connection leaves the process's
// time zone to its host.
#include "Backend.h"
#include "BulkWriter.h"
#include "Connection.h"
#include "Recordset.h"
#include "TestDatabase.h"
#include "TextRows.h"

#include <QDateTime>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <optional>

using namespace zq::data;

class BackendTest : public testing::TestWithParam<Engine>
{
};

namespace {

// Sets an environment variable for the scope, and puts back what was there.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const char *value)
        : m_name(name)
        , m_was(qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name))
                                                : std::nullopt)
    {
        if (value)
            qputenv(name, value);
        else
            qunsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_was)
            qputenv(m_name, *m_was);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    std::optional<QByteArray> m_was;
};

QStringList g_messages;
void keepMessage(QtMsgType, const QMessageLogContext &context, const QString &text)
{
    g_messages << QStringLiteral("%1: %2").arg(QLatin1String(context.category), text);
}

void write(Connection &c, const QString &table, const QString &key, bool update)
{
    // An insert names the key among its columns; an update finds its rows by it.
    const QStringList columns{"Name", "Stamp", "Amount"};
    BulkWriter w(
        &c, table, update ? columns : QStringList{key} + columns, update ? key : QString());
    ASSERT_TRUE(w.prepare()) << w.errorText().toStdString();
    const QList<QList<std::optional<QByteArray>>> rows{
        {"K1", "tab\there", "2024-02-29 00:00:00", "7"},
        {"K2", "", std::nullopt, std::nullopt},
        {"K3", std::nullopt, "1899-12-30 23:59:59", "-5"},
        {"K4", "back\\slash \\N", "2030-12-31 13:45:00", "0"},
    };
    for (const auto &row : rows) {
        for (int i = 0; i < row.size(); ++i) {
            if (!row.at(i))
                w.addNull();
            else if (i == 3 && !update)
                w.addInteger(row.at(i)->toLongLong());
            else
                w.addText(update && i == 1 && *row.at(i) != "" ? *row.at(i) + "!" : *row.at(i));
        }
        w.endRow();
    }
    ASSERT_TRUE(w.write()) << w.errorText().toStdString();
    EXPECT_EQ(w.writtenRows(), rows.size());
}

} // namespace

TEST_P(BackendTest, OneSwitchPicksTheBackendOfEveryConnection)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    const BackendKind own = Backend::ownKind(GetParam());
    const auto made = [&] {
        Connection c;
        if (GetParam() == Engine::SQLite)
            c.setSQLiteFile(db.folder() + "/other.db");
        else
            c.setPostgres(db.conninfo());
        return c.backend().kind();
    };
    {
        ScopedEnv env("ZQ_DATA_BACKEND", "reference");
        EXPECT_EQ(made(), BackendKind::Reference);
    }
    {
        ScopedEnv env("ZQ_DATA_BACKEND", nullptr);
        EXPECT_EQ(made(), own);
    }
    // A connection told its backend keeps it when its engine is set again.
    Connection &c = db.connection();
    c.setBackendKind(BackendKind::Reference);
    EXPECT_EQ(c.backend().kind(), BackendKind::Reference);
    EXPECT_EQ(c.backend().engine(), GetParam());
    c.setBackendKind(own);
    EXPECT_EQ(c.backend().kind(), own);
}

TEST_P(BackendTest, AHandOverIsCountedAndLogged)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    Connection &c = db.connection();
    zq::test::useBackend(c, true);
    db.exec({"INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T1', 'one')"});
    g_messages.clear();
    QLoggingCategory::setFilterRules(QStringLiteral("zq.data.fallback.info=true"));
    const QtMessageHandler before = qInstallMessageHandler(keepMessage);
    Recordset plain, withParameter;
    plain.setConnection(&c);
    plain.setStatement("SELECT TitleNo, TitleName FROM OccupationTitle");
    plain.open();
    EXPECT_EQ(c.fallbacks(), 0);
    withParameter.setConnection(&c);
    withParameter.setStatement("SELECT TitleName FROM OccupationTitle WHERE TitleNo = :no");
    withParameter.setParameter("no", "T1");
    withParameter.open();
    qInstallMessageHandler(before);
    QLoggingCategory::setFilterRules(QString());
    EXPECT_EQ(withParameter.text("TitleName"), "one");
    EXPECT_EQ(c.fallbacks(), 1);
    EXPECT_TRUE(c.backend().lastFallback().contains("parameters"));
    ASSERT_EQ(g_messages.size(), 1) << g_messages.join('\n').toStdString();
    EXPECT_TRUE(g_messages.first().startsWith("zq.data.fallback: "))
        << g_messages.first().toStdString();
    // The reference backend has no other way to hand anything to.
    zq::test::useBackend(c, false);
    withParameter.open();
    EXPECT_EQ(c.fallbacks(), 0);
}

TEST_P(BackendTest, BulkWritesStoreTheSameBothWays)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    Connection &c = db.connection();
    for (const char *t : {"D", "R"})
        db.exec({QStringLiteral("CREATE TABLE %1 (K varchar(10) NOT NULL PRIMARY KEY, Name "
                                "varchar(20), Stamp timestamp, Amount integer)")
                     .arg(QLatin1String(t))});
    for (const bool update : {false, true}) {
        SCOPED_TRACE(update ? "updates" : "inserts");
        const QList<QPair<bool, QString>> ways{{true, "D"}, {false, "R"}};
        for (const auto &[direct, table] : ways) {
            zq::test::useBackend(c, direct);
            ASSERT_TRUE(c.begin());
            write(c, table, "K", update);
            ASSERT_TRUE(c.commit());
            EXPECT_EQ(c.fallbacks(), 0) << c.backend().lastFallback().toStdString();
        }
        const QString select = "SELECT K, Name, Stamp, Amount FROM %1 ORDER BY K";
        const QStringList d = zq::test::rowTexts(c.database(), select.arg("D"));
        EXPECT_EQ(d.size(), 4);
        EXPECT_EQ(d, zq::test::rowTexts(c.database(), select.arg("R")));
    }
}

TEST_P(BackendTest, TextRowsReadTheSameBothWays)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    Connection &c = db.connection();
    db.exec({"INSERT INTO HolderData (HolderNo, HolderName, Email, StartDate, SequenceNo) "
             "VALUES ('H1', '中文 é', '', '2024-02-29 08:30:00', 1)",
             "INSERT INTO HolderData (HolderNo, HolderName, SequenceNo) VALUES ('H2', NULL, 2)"});
    const QString sql = "SELECT HolderNo, HolderName, Email, StartDate FROM HolderData "
                        "ORDER BY HolderNo";
    QStringList seen[2];
    for (const bool direct : {true, false}) {
        zq::test::useBackend(c, direct);
        TextRows rows(&c);
        ASSERT_TRUE(rows.exec(sql)) << rows.errorText().toStdString();
        EXPECT_EQ(c.fallbacks(), 0) << c.backend().lastFallback().toStdString();
        EXPECT_EQ(rows.columnName(1).toLower(), "holdername"); // PostgreSQL folds names
        while (rows.next()) {
            QStringList cells;
            // A NULL reads as NULL both ways; whether it also counts as text is the way's.
            for (int i = 0; i < rows.columnCount(); ++i)
                cells << (rows.isNull(i)
                              ? QStringLiteral("NULL")
                              : QStringLiteral("%1/%2")
                                    .arg(rows.isText(i) ? QString::fromUtf8(rows.text(i)) : "-")
                                    .arg(rows.value(i).toString()));
            seen[direct] << cells.join('|');
        }
        EXPECT_FALSE(rows.failed());
    }
    EXPECT_EQ(seen[0].size(), 2);
    EXPECT_EQ(seen[1].join('\n').toStdString(), seen[0].join('\n').toStdString());
}

TEST_P(BackendTest, TheDialectsStatementsMeanTheSameOnBothEngines)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    Connection &c = db.connection();
    db.exec({"INSERT INTO HolderData (HolderNo, HolderName, StartDate, SequenceNo) "
             "VALUES ('H1', 'Ab Cd', '2024-02-29 08:30:00', 17)"});
    const Dialect &d = c.dialect();
    EXPECT_EQ(d.engine(), GetParam());
    QSqlQuery q(c.database());
    ASSERT_TRUE(q.exec("SELECT HolderNo FROM HolderData WHERE "
                       + d.likeIgnoringCase("HolderName", "'%b c%'") + " AND "
                       + d.likeIgnoringCase(d.asText("SequenceNo"), "'%7'")));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), "H1");
    ASSERT_TRUE(q.prepare("SELECT HolderNo FROM HolderData WHERE " + d.sameSecond("StartDate")));
    q.addBindValue("2024-02-29 08:30:00");
    ASSERT_TRUE(q.exec());
    EXPECT_TRUE(q.next());
}

// A library must not change its host's environment: the zone stays as the host left it,
// and a stored wall-clock time reads back unchanged.
TEST(BackendZone, APostgresConnectionLeavesTheZoneAlone)
{
    ZQ_OPEN_TEST_DB(db, Engine::PostgreSQL);
    ScopedEnv unset("TZ", nullptr);
    Connection c;
    c.setPostgres(db.conninfo());
    ASSERT_TRUE(c.open());
    EXPECT_FALSE(qEnvironmentVariableIsSet("TZ"));
    ASSERT_TRUE(c.execute("INSERT INTO HolderData (HolderNo, StartDate, SequenceNo) "
                          "VALUES ('H1', '2024-03-31 02:30:00', 1)"));
    for (const bool direct : {true, false}) {
        zq::test::useBackend(c, direct);
        Recordset rs;
        rs.setConnection(&c);
        rs.setStatement("SELECT StartDate FROM HolderData");
        rs.open();
        EXPECT_EQ(rs.dateTime("StartDate"), QDateTime(QDate(2024, 3, 31), QTime(2, 30))) << direct;
    }
    EXPECT_FALSE(qEnvironmentVariableIsSet("TZ"));
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         BackendTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);
