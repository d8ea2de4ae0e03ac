// The site kit: conninfo texts that never show a password, user IDs a script can carry,
// the modes of what it creates under a desktop umask, and a site made all or nothing.
#include "Conninfo.h"
#include "SiteAccess.h"
#include "SiteRun.h"
#include "SiteSetup.h"
#include "TestDatabase.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using zq::data::Engine;
using zq::test::modeOf;
namespace site = zq::site;

namespace {

// Runs `body` with the umask of a desktop session.
template<typename F>
void underUmask022(F body)
{
    const mode_t before = ::umask(022);
    body();
    ::umask(before);
}

int rows(zq::data::Connection &c, const QString &sql)
{
    QSqlQuery q(c.database());
    return q.exec(sql) && q.next() ? q.value(0).toInt() : -1;
}

} // namespace

TEST(Conninfo, PasswordsAreNeverShown)
{
    const QStringList withPassword{
        "host=db user=sync password=Sekr1t dbname=access",
        "password=Sekr1t host=db",
        "host=db PASSWORD = Sekr1t",
        "host=db password='Sek r1t\\'s' dbname=access",
    };
    for (const QString &c : withPassword) {
        const QString shown = site::shownConninfo(c);
        EXPECT_FALSE(shown.contains("Sekr1t") || shown.contains("Sek r1t")) << shown.toStdString();
        EXPECT_TRUE(shown.contains("***")) << shown.toStdString();
        EXPECT_TRUE(shown.contains("host=db")) << shown.toStdString();
    }
    EXPECT_EQ(site::shownConninfo("service=site"), "service=site");
    // A key that merely ends in "password" is another key.
    EXPECT_EQ(site::shownConninfo("host=db sslpassword=x"), "host=db sslpassword=x");

    const QString message = "FATAL: password authentication failed (tried Sek r1t's)";
    const QString clean = site::withoutPassword(message, withPassword.at(3));
    EXPECT_FALSE(clean.contains("Sek r1t")) << clean.toStdString();
    EXPECT_EQ(site::withoutPassword(message, "host=db"), message);
}

TEST(Conninfo, ReadFromAFile)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("site.conninfo");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("# the access site\n\n  service=access  \nhost=ignored\n");
    }
    QString conninfo, error;
    ASSERT_TRUE(site::readConninfoFile(file, conninfo, error)) << error.toStdString();
    EXPECT_EQ(conninfo, "service=access");
    EXPECT_FALSE(site::readConninfoFile(dir.filePath("none"), conninfo, error));
    EXPECT_TRUE(error.contains("none"));
}

TEST(UserIds, QuotesBlanksAndControlCharactersAreRefused)
{
    for (const QString &bad : {QString(),
                               QString("hr'sync"),
                               QString("hr\"sync"),
                               QString("hr sync"),
                               QString("hr\tsync"),
                               QString("hr\\sync"),
                               QString("hr") + QChar(1),
                               QString("hr") + QChar(0x200B) + "x",
                               QString(21, u'a')})
        EXPECT_FALSE(site::userIdProblem(bad).isEmpty()) << bad.toStdString();
    for (const QString &good :
         {QString("hrsync"), QString("hr.sync-1"), QString("m.ü@site"), QString(20, u'a')})
        EXPECT_TRUE(site::userIdProblem(good).isEmpty()) << good.toStdString();
}

TEST(PrivateFiles, ModesHoldUnderADesktopUmask)
{
    QTemporaryDir dir;
    underUmask022([&] {
        const QString deep = dir.filePath("a/b/site");
        ASSERT_EQ(site::makePrivateFolder(deep), QString());
        EXPECT_EQ(modeOf(dir.filePath("a")), 0700);
        EXPECT_EQ(modeOf(deep), 0700);
        // A folder that exists is the user's choice: left as it is.
        QDir().mkdir(dir.filePath("open"));
        ::chmod(QFile::encodeName(dir.filePath("open")).constData(), 0755);
        ASSERT_EQ(site::makePrivateFolder(dir.filePath("open")), QString());
        EXPECT_EQ(modeOf(dir.filePath("open")), 0755);

        QFile plain(dir.filePath("export.csv"));
        ASSERT_TRUE(site::openPrivate(plain));
        plain.close();
        EXPECT_EQ(modeOf(plain.fileName()), 0600);

        QSaveFile fresh(dir.filePath("new.ini"));
        ASSERT_TRUE(site::openPrivate(fresh));
        fresh.write("x");
        ASSERT_TRUE(fresh.commit());
        EXPECT_EQ(modeOf(fresh.fileName()), 0600);

        // A replaced file keeps the mode its owner gave it.
        ::chmod(QFile::encodeName(fresh.fileName()).constData(), 0640);
        QSaveFile again(fresh.fileName());
        ASSERT_TRUE(site::openPrivate(again));
        again.write("y");
        ASSERT_TRUE(again.commit());
        EXPECT_EQ(modeOf(fresh.fileName()), 0640);
    });
}

TEST(PrivateFiles, LinksAndOpenSitesAreTold)
{
    QTemporaryDir dir;
    const QString db = dir.filePath("ZQSite.db");
    QFile(db).open(QIODevice::WriteOnly);
    ::chmod(QFile::encodeName(db).constData(), 0600);
    ::chmod(QFile::encodeName(dir.path()).constData(), 0700);
    EXPECT_EQ(site::ownershipProblem(db, "site database"), QString());
    EXPECT_EQ(site::accessWarning(dir.path(), db), QString());

    ASSERT_TRUE(QFile::link(db, dir.filePath("link.db")));
    EXPECT_TRUE(
        site::ownershipProblem(dir.filePath("link.db"), "site database").contains("symbolic link"));

    ::chmod(QFile::encodeName(db).constData(), 0644);
    const QString fileOnly = site::accessWarning(dir.path(), db);
    EXPECT_TRUE(fileOnly.contains("chmod 600 '" + db + "'")) << fileOnly.toStdString();
    EXPECT_FALSE(fileOnly.contains("chmod 700"));
    ::chmod(QFile::encodeName(dir.path()).constData(), 0750);
    const QString both = site::accessWarning(dir.path(), db);
    EXPECT_TRUE(both.contains("chmod 700 '" + dir.path() + "'")) << both.toStdString();
    EXPECT_TRUE(both.contains("0644") && both.contains("0750")) << both.toStdString();
}

class SiteSetupTest : public testing::TestWithParam<Engine>
{
};

TEST_P(SiteSetupTest, AFailedInitLeavesTheDatabaseAsItWas)
{
    ZQ_OPEN_TEST_DB(db, GetParam(), false);
    auto &c = db.connection();
    // A table whose name an index of the schema takes, late in the list: the tables before
    // it are made inside the transaction and must go again with it.
    ASSERT_TRUE(c.execute("CREATE TABLE ix_CardData_HolderNo (x integer)"));
    QString error;
    EXPECT_FALSE(site::initSite(c, {}, error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(site::holdsSite(c));
    EXPECT_EQ(c.userTables().size(), 1);
}

TEST_P(SiteSetupTest, InitGrantAndCheck)
{
    ZQ_OPEN_TEST_DB(db, GetParam(), false);
    auto &c = db.connection();
    QString error;
    site::InitOptions options;
    options.supervisor = "chief";
    ASSERT_TRUE(site::initSite(c, options, error)) << error.toStdString();
    EXPECT_EQ(rows(c, "SELECT COUNT(*) FROM UserData WHERE UserID = 'chief' AND Supervisor = 1"),
              1);
    EXPECT_EQ(rows(c, "SELECT COUNT(*) FROM HolderData"), 0);
    // A second init without replace changes nothing.
    EXPECT_FALSE(site::initSite(c, options, error));
    EXPECT_TRUE(error.contains("--force"));

    ASSERT_TRUE(site::addUser(c, "hrsync", "HR", false, error)) << error.toStdString();
    EXPECT_FALSE(site::addUser(c, "hrsync", "HR", false, error));
    ASSERT_TRUE(site::grantProgramRight(
        c, "hrsync", site::kTransferRightKey, site::kImportRightBit, error));
    EXPECT_FALSE(site::grantProgramRight(
        c, "hrsync", site::kTransferRightKey, site::kImportRightBit, error));
    EXPECT_TRUE(error.contains("already")) << error.toStdString();
    // Export adds its bit to the value the import right left.
    ASSERT_TRUE(site::grantProgramRight(
        c, "hrsync", site::kTransferRightKey, site::kExportRightBit, error));
    EXPECT_EQ(rows(c, "SELECT RightValue FROM UserProgramRight WHERE UserID = 'hrsync'"),
              site::kImportRightBit | site::kExportRightBit);
    EXPECT_FALSE(site::grantDepartment(c, "hrsync", "D9", error));
    EXPECT_FALSE(site::grantProgramRight(c, "nobody", "X", 1, error));

    const site::SiteReport report = site::checkSite(c, "hrsync");
    EXPECT_EQ(report.problems, 0) << report.lines.join('\n').toStdString();
    EXPECT_TRUE(report.lines.contains("user hrsync: import yes, export yes"))
        << report.lines.join('\n').toStdString();

    ASSERT_TRUE(c.execute("DROP TABLE CardPicture"));
    const site::SiteReport broken = site::checkSite(c, QString());
    EXPECT_EQ(broken.problems, 1);
    EXPECT_TRUE(broken.lines.contains("missing table CardPicture"));
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         SiteSetupTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);
