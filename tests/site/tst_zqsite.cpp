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
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using zq::data::Engine;
using zq::test::modeOf;
using zq::test::ProgramRun;

namespace {

ProgramRun zqsite(const QStringList &args, const QStringList &env = {})
{
    return zq::test::runProgram(QString::fromUtf8(ZQ_SITE_BINARY), args, env);
}

ProgramRun zqtransfer(const QStringList &args, const QStringList &env = {})
{
    return zq::test::runProgram(QString::fromUtf8(ZQ_TRANSFER_BINARY), args, env);
}

QString show(const ProgramRun &r)
{
    return QStringLiteral("status %1\nout: %2\nerr: %3").arg(r.status).arg(r.out, r.err);
}

// A loopback port where nothing listens (the one of a socket just closed).
int closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
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
            // The folder of a site, as its owner keeps it.
            QDir().mkdir(m_db->folder() + "/made");
            ::chmod(QFile::encodeName(m_db->folder() + "/made").constData(), 0700);
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
    ProgramRun r = zqsite(QStringList{"init"} + m_site);
    ASSERT_EQ(r.status, 0) << show(r).toStdString();
    EXPECT_EQ(count("SELECT COUNT(*) FROM UserData WHERE UserID = 'admin' AND Supervisor = 1"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 0);
    if (GetParam() == Engine::SQLite) {
        EXPECT_EQ(modeOf(m_site.at(1)), 0600);
    }

    // Before its right, zqtransfer refuses the user; after it, the import runs.
    r = zqsite(QStringList{"add-user", "hrsync", "--name", "HR export"} + m_site);
    ASSERT_EQ(r.status, 0) << show(r).toStdString();
    const QString hr = m_db->folder() + "/hr.csv";
    {
        QFile f(hr);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("E1,Ann Lee\r\nE2,Bo Chen\r\n");
    }
    ProgramRun sync = zqtransfer(QStringList{"import", hr, "--user", "hrsync", "--columns", "12"}
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
        const ProgramRun r = zqsite(c.args + m_site);
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
    const ProgramRun forced = zqsite(QStringList{"init", "--force"} + m_site);
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
    ProgramRun r = zqsite({"init", "--db", dir.filePath("no/such/ZQSite.db")});
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
        for (const ProgramRun &r : {zqsite({"init", "--pg", c}),
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
    ProgramRun r = zqsite({"init", "--pg-file", file});
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
    const ProgramRun r = zqtransfer({"import",
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

    const ProgramRun help = zqtransfer({"--help"});
    EXPECT_TRUE(help.out.simplified().contains(
        "the --refusals report is still written, the only file a dry run writes"))
        << help.out.toStdString();
}

TEST(ZqtransferLanguage, MessagesAndRefusalReasonsInTheChosenLanguage)
{
    QTemporaryDir dir;
    const QString db = dir.filePath("ZQSite.db");
    ASSERT_EQ(zqsite({"init", "--db", db}).status, 0);
    ASSERT_EQ(zqsite({"add-user", "clerk", "--db", db}).status, 0);
    const QString hr = dir.filePath("hr.csv");
    {
        QFile f(hr);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("E1,Ann Lee\r\n,no number\r\n");
    }
    const auto readAll = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };
    const QStringList import{"import", hr, "--db", db, "--columns", "12"};

    ProgramRun r = zqtransfer(import + QStringList{"--user", "clerk", "--lang", "zh_TW"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains(QString::fromUtf8("沒有匯入持卡人的權限"))) << show(r).toStdString();
    r = zqtransfer(import + QStringList{"--user", "clerk"});
    EXPECT_TRUE(r.err.contains("holds no right to import holders")) << show(r).toStdString();

    r = zqtransfer(
        import
        + QStringList{"--user", "admin", "--lang", "zh_TW", "--refusals", dir.filePath("zh.csv")});
    EXPECT_EQ(r.status, 1) << show(r).toStdString();
    EXPECT_TRUE(r.err.contains(QString::fromUtf8("拒絕 1 行"))) << show(r).toStdString();
    const QString zh = readAll(dir.filePath("zh.csv"));
    EXPECT_TRUE(zh.contains(QString::fromUtf8("持卡人編號空白"))) << zh.toStdString();
    EXPECT_TRUE(zh.startsWith(QString::fromUtf8("行號"))) << zh.toStdString();

    // The same file again in English: every line but the refused one is kept now.
    r = zqtransfer(import + QStringList{"--user", "admin", "--refusals", dir.filePath("en.csv")});
    EXPECT_EQ(r.status, 1) << show(r).toStdString();
    EXPECT_TRUE(r.err.contains("1 lines refused")) << show(r).toStdString();
    EXPECT_FALSE(readAll(dir.filePath("en.csv")).contains(QString::fromUtf8("持卡人")));

    r = zqtransfer(import + QStringList{"--user", "admin", "--lang", "fr"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("--lang must be en or zh_TW")) << show(r).toStdString();
}
