// zqsite, zqhost and zqtransfer as a site administrator uses them without a display: a site
// made, filled with users and rights and checked on both engines; bad input refused with
// status 2 and nothing changed; every folder and file they create private under a desktop
// umask; no password in any message.
#include "Connection.h"
#include "SiteRun.h"
#include "TestDatabase.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using zq::data::Engine;
using zq::test::modeOf;
using zq::test::Run;

namespace {

Run zqsite(const QStringList &args, const QStringList &env = {})
{
    return zq::test::runProgram(QString::fromUtf8(ZQ_SITE_BINARY), args, env);
}

Run zqtransfer(const QStringList &args, const QStringList &env = {})
{
    return zq::test::runProgram(QString::fromUtf8(ZQ_TRANSFER_BINARY), args, env);
}

QString show(const Run &r)
{
    return QStringLiteral("status %1\nout: %2\nerr: %3").arg(r.status).arg(r.out, r.err);
}

// A loopback port where nothing listens.
int closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

} // namespace

class ZqsiteTest : public testing::TestWithParam<Engine>
{
protected:
    void SetUp() override
    {
        m_db = std::make_unique<zq::test::TestDatabase>(GetParam(), false);
        if (!m_db->isAvailable()) {
            if (zq::test::postgresRequired())
                FAIL() << m_db->skipReason().toStdString();
            GTEST_SKIP() << m_db->skipReason().toStdString();
        }
        if (GetParam() == Engine::SQLite) {
            m_site = {"--db", m_db->folder() + "/made/ZQSite.db"};
            QDir().mkdir(m_db->folder() + "/made");
        } else {
            m_site = {"--pg", m_db->conninfo()};
        }
    }

    zq::data::Connection &connection()
    {
        if (GetParam() == Engine::PostgreSQL)
            return m_db->connection();
        if (!m_sqlite) {
            m_sqlite = std::make_unique<zq::data::Connection>();
            m_sqlite->setSQLiteFile(m_site.at(1));
            m_sqlite->open();
        }
        return *m_sqlite;
    }

    int count(const QString &sql)
    {
        QSqlQuery q(connection().database());
        return q.exec(sql) && q.next() ? q.value(0).toInt() : -1;
    }

    std::unique_ptr<zq::test::TestDatabase> m_db;
    std::unique_ptr<zq::data::Connection> m_sqlite;
    QStringList m_site;
};

TEST_P(ZqsiteTest, AnEmptySiteTakesTheSyncUserAndItsImport)
{
    Run r = zqsite(QStringList{"init"} + m_site);
    ASSERT_EQ(r.status, 0) << show(r).toStdString();
    EXPECT_EQ(count("SELECT COUNT(*) FROM UserData WHERE UserID = 'admin' AND Supervisor = 1"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 0);
    if (GetParam() == Engine::SQLite)
        EXPECT_EQ(modeOf(m_site.at(1)), 0600);

    // Before its right, zqtransfer refuses the user; after it, the import runs.
    r = zqsite(QStringList{"add-user", "hrsync", "--name", "HR export"} + m_site);
    ASSERT_EQ(r.status, 0) << show(r).toStdString();
    const QString hr = m_db->folder() + "/hr.csv";
    {
        QFile f(hr);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("E1,Ann Lee\r\nE2,Bo Chen\r\n");
    }
    Run sync = zqtransfer(QStringList{"import", hr, "--user", "hrsync", "--columns", "12"}
                          + m_site);
    EXPECT_EQ(sync.status, 2) << show(sync).toStdString();
    r = zqsite(QStringList{"grant", "hrsync", "--import"} + m_site);
    ASSERT_EQ(r.status, 0) << show(r).toStdString();
    sync = zqtransfer(QStringList{"import", hr, "--user", "hrsync", "--columns", "12"} + m_site);
    EXPECT_EQ(sync.status, 0) << show(sync).toStdString();
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 2);

    r = zqsite(QStringList{"check", "--user", "hrsync"} + m_site);
    EXPECT_EQ(r.status, 0) << show(r).toStdString();
    EXPECT_TRUE(r.out.contains("user hrsync: import yes, export no")) << show(r).toStdString();
    EXPECT_TRUE(r.out.contains(GetParam() == Engine::SQLite ? "engine: SQLite 3."
                                                            : "engine: PostgreSQL 15"))
        << show(r).toStdString();
}

TEST_P(ZqsiteTest, BadInputChangesNothing)
{
    ASSERT_EQ(zqsite(QStringList{"init", "--demo"} + m_site).status, 0);
    ASSERT_EQ(count("SELECT COUNT(*) FROM HolderData"), 50);
    ASSERT_EQ(zqsite(QStringList{"add-user", "hrsync"} + m_site).status, 0);
    ASSERT_EQ(zqsite(QStringList{"grant", "hrsync", "--import"} + m_site).status, 0);
    const int users = count("SELECT COUNT(*) FROM UserData");
    const int rights = count("SELECT COUNT(*) FROM UserProgramRight");
    const int departments = count("SELECT COUNT(*) FROM UserRightDept");

    struct Case
    {
        QStringList args;
        const char *says;
    };
    const QList<Case> cases{
        {{"init"}, "--force"},
        {{"init", "--demo"}, "--force"},
        {{"add-user", "hr'sync"}, "quote"},
        {{"add-user", QString("hr") + QChar(7) + "x"}, "control"},
        {{"add-user", "hrsync"}, "exists already"},
        {{"grant", "hrsync", "--import"}, "already"},
        // One grant of the command is held already: the department before it is not kept.
        {{"grant", "hrsync", "--department", "D01", "--import"}, "nothing was granted"},
        {{"grant", "hrsync", "--department", "D99"}, "no department D99"},
        {{"grant", "nobody", "--import"}, "no user nobody"},
        {{"grant", "hrsync", "--right", "Basic'Data=1"}, "KEY=BITS"},
    };
    for (const Case &c : cases) {
        const Run r = zqsite(c.args + m_site);
        EXPECT_EQ(r.status, 2) << c.args.join(' ').toStdString() << '\n' << show(r).toStdString();
        EXPECT_TRUE(r.err.contains(c.says)) << c.args.join(' ').toStdString() << '\n'
                                            << show(r).toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << show(r).toStdString();
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 50);
    EXPECT_EQ(count("SELECT COUNT(*) FROM UserData"), users);
    EXPECT_EQ(count("SELECT COUNT(*) FROM UserProgramRight"), rights);
    EXPECT_EQ(count("SELECT COUNT(*) FROM UserRightDept"), departments);

    // Replaced only when asked, and then told.
    const Run forced = zqsite(QStringList{"init", "--force"} + m_site);
    EXPECT_EQ(forced.status, 0) << show(forced).toStdString();
    EXPECT_TRUE(forced.out.contains("replaced")) << show(forced).toStdString();
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 0);
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         ZqsiteTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);

TEST(ZqsiteSite, MissingFoldersLinksAndOpenFilesAreTold)
{
    QTemporaryDir dir;
    Run r = zqsite({"init", "--db", dir.filePath("no/such/ZQSite.db")});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("does not exist")) << show(r).toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("no")));
    // A folder nobody may create a file in, root included.
    r = zqsite({"init", "--db", "/proc/1/ZQSite.db"});
    EXPECT_EQ(r.status, 2) << show(r).toStdString();

    const QString db = dir.filePath("ZQSite.db");
    ASSERT_EQ(zqsite({"init", "--db", db}).status, 0);
    ASSERT_TRUE(QFile::link(db, dir.filePath("link.db")));
    for (const char *command : {"check", "init"}) {
        r = zqsite({command, "--db", dir.filePath("link.db")});
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.err.contains("symbolic link")) << show(r).toStdString();
    }
    r = zqtransfer(
        {"export", dir.filePath("out.csv"), "--db", dir.filePath("link.db"), "--user", "admin"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("symbolic link")) << show(r).toStdString();

    ::chmod(QFile::encodeName(dir.path()).constData(), 0700);
    r = zqsite({"check", "--db", db});
    EXPECT_EQ(r.status, 0) << show(r).toStdString();
    ::chmod(QFile::encodeName(db).constData(), 0644);
    r = zqsite({"check", "--db", db});
    EXPECT_EQ(r.status, 1) << show(r).toStdString();
    EXPECT_TRUE(r.out.contains("chmod 600 '" + db + "'")) << show(r).toStdString();
    EXPECT_EQ(modeOf(db), 0644); // told, not changed
}

TEST(ZqsiteSite, NoPasswordInAnyMessage)
{
    const QString secret = "Sekr1t-pw";
    QStringList conninfos{
        QStringLiteral("host=127.0.0.1 port=%1 user=zq password=%2 dbname=x connect_timeout=3")
            .arg(closedPort())
            .arg(secret)};
    const QString server = zq::test::postgresConnInfo();
    if (!server.isEmpty())
        conninfos << server + " user=no_such_role password=" + secret;
    QTemporaryDir dir;
    const QString file = dir.filePath("hr.csv");
    QFile(file).open(QIODevice::WriteOnly);
    for (const QString &c : conninfos) {
        for (const Run &r : {zqsite({"init", "--pg", c}),
                             zqsite({"check", "--pg", c}),
                             zqtransfer({"import",
                                         file,
                                         "--pg",
                                         c,
                                         "--user",
                                         "x",
                                         "--refusals",
                                         dir.filePath("r.csv")})}) {
            EXPECT_EQ(r.status, 2) << show(r).toStdString();
            EXPECT_FALSE(r.err.isEmpty());
            EXPECT_FALSE((r.out + r.err).contains(secret)) << show(r).toStdString();
            EXPECT_FALSE(QFile(dir.filePath("r.csv")).exists()
                         && QFile(dir.filePath("r.csv")).size() > 0
                         && QString::fromUtf8([&] {
                                QFile f(dir.filePath("r.csv"));
                                f.open(QIODevice::ReadOnly);
                                return f.readAll();
                            }())
                                .contains(secret));
        }
    }
}

TEST(ZqsiteSite, ConninfoFromAFileOrTheEnvironment)
{
    const QString server = zq::test::postgresConnInfo();
    if (server.isEmpty()) {
        if (zq::test::postgresRequired())
            FAIL() << "no PostgreSQL server";
        GTEST_SKIP() << "no PostgreSQL server";
    }
    zq::test::TestDatabase db(Engine::PostgreSQL, false);
    ASSERT_TRUE(db.isAvailable());
    QTemporaryDir dir;
    const QString file = dir.filePath("site.conninfo");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("# the test site\n" + db.conninfo().toUtf8() + "\n");
    }
    Run r = zqsite({"init", "--pg-file", file});
    ASSERT_EQ(r.status, 0) << show(r).toStdString();
    r = zqsite({"check"}, {"ZQ_PG_CONNINFO=" + db.conninfo()});
    EXPECT_EQ(r.status, 0) << show(r).toStdString();
    EXPECT_TRUE(r.out.contains("PostgreSQL")) << show(r).toStdString();
    r = zqsite({"check", "--pg-file", file, "--db", dir.filePath("x.db")});
    EXPECT_EQ(r.status, 2);
}

TEST(ZqsiteSite, NoWidgetLibraryIsLinked)
{
    QProcess readelf;
    readelf.start("readelf", {"-d", QString::fromUtf8(ZQ_SITE_BINARY)});
    ASSERT_TRUE(readelf.waitForFinished());
    const QString dynamic = QString::fromUtf8(readelf.readAllStandardOutput());
    ASSERT_TRUE(dynamic.contains("NEEDED")) << dynamic.toStdString();
    EXPECT_FALSE(dynamic.contains("Widgets")) << dynamic.toStdString();
}

TEST(PrivateSite, HostAndToolsCreateOnlyPrivateFiles)
{
    QTemporaryDir dir;
    // The host's first start on a new --home, under umask 022.
    const QString home = dir.filePath("home/site");
    Run r = zq::test::runProgram(QString::fromUtf8(ZQ_HOST_BINARY),
                                 {"--home", home, "--screenshot", dir.filePath("shot.png")},
                                 {},
                                 true);
    ASSERT_EQ(r.status, 0) << show(r).toStdString();
    EXPECT_EQ(modeOf(dir.filePath("home")), 0700);
    EXPECT_EQ(modeOf(home), 0700);
    for (const QFileInfo &f : QDir(home).entryInfoList(QDir::Files | QDir::Hidden))
        EXPECT_EQ(modeOf(f.filePath()), 0600) << f.filePath().toStdString();
    const QString db = home + "/ZQSite.db";
    EXPECT_EQ(modeOf(db), 0600);
    EXPECT_FALSE(r.out.contains("warning") || r.err.contains("warning")) << show(r).toStdString();

    // Exports and refusal reports carry PINs and names: 0600 wherever they are put.
    const QString holders = dir.filePath("holders.csv");
    r = zqtransfer({"export", holders, "--db", db, "--user", "admin"});
    ASSERT_EQ(r.status, 0) << show(r).toStdString();
    EXPECT_EQ(modeOf(holders), 0600);
    r = zqtransfer({"export", dir.filePath("holders.xlsx"), "--db", db, "--user", "admin"});
    ASSERT_EQ(r.status, 0) << show(r).toStdString();
    EXPECT_EQ(modeOf(dir.filePath("holders.xlsx")), 0600);
    const QString bad = dir.filePath("bad.csv");
    {
        QFile f(bad);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(",no number\r\n");
    }
    r = zqtransfer(
        {"import", bad, "--db", db, "--user", "admin", "--refusals", dir.filePath("refused.csv")});
    EXPECT_EQ(r.status, 1) << show(r).toStdString();
    EXPECT_EQ(modeOf(dir.filePath("refused.csv")), 0600);

    // A site other users can read is told once, with the command, and left as it is.
    ::chmod(QFile::encodeName(home).constData(), 0755);
    r = zq::test::runProgram(QString::fromUtf8(ZQ_HOST_BINARY),
                             {"--home", home, "--screenshot", dir.filePath("shot.png")},
                             {},
                             true);
    ASSERT_EQ(r.status, 0) << show(r).toStdString();
    EXPECT_EQ(r.err.count("warning"), 1) << show(r).toStdString();
    EXPECT_TRUE(r.err.contains("chmod 700 '" + home + "/'")
                || r.err.contains("chmod 700 '" + home + "'"))
        << show(r).toStdString();
    EXPECT_EQ(modeOf(home), 0755);

    // A --home that is a link is refused before anything is made.
    ASSERT_TRUE(QFile::link(home, dir.filePath("linked")));
    r = zq::test::runProgram(
        QString::fromUtf8(ZQ_HOST_BINARY),
        {"--home", dir.filePath("linked"), "--screenshot", dir.filePath("shot2.png")},
        {},
        true);
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE((r.out + r.err).contains("symbolic link")) << show(r).toStdString();
}

TEST(ZqtransferDryRun, WritesOnlyItsRefusalReport)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("site");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString db = folder + "/ZQSite.db";
    ASSERT_EQ(zqsite({"init", "--demo", "--db", db}).status, 0);
    const auto bytes = [&] {
        QFile f(db);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray before = bytes();
    const QStringList filesBefore = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    const QString hr = dir.filePath("hr.csv");
    {
        QFile f(hr);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("N1,New person\r\n,no number\r\nH0001,Anna Changed\r\n");
    }
    QDir().mkdir(dir.filePath("out"));
    const Run r = zqtransfer({"import",
                              hr,
                              "--db",
                              db,
                              "--user",
                              "admin",
                              "--columns",
                              "12",
                              "--overwrite",
                              "--dry-run",
                              "--refusals",
                              dir.filePath("out/refused.csv")});
    EXPECT_EQ(r.status, 1) << show(r).toStdString();
    EXPECT_TRUE(r.out.contains("dry run")) << show(r).toStdString();
    EXPECT_EQ(bytes(), before);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), filesBefore);
    EXPECT_EQ(QDir(dir.filePath("out")).entryList(QDir::Files | QDir::Hidden),
              QStringList{"refused.csv"});
    QFile report(dir.filePath("out/refused.csv"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    EXPECT_EQ(report.readAll().count('\n'), 2); // the header and the line without a number

    const Run help = zqtransfer({"--help"});
    EXPECT_TRUE(help.out.simplified().contains(
        "the --refusals report is still written, the only file a dry run writes"))
        << help.out.toStdString();
}
