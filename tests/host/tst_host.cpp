// The host end to end: a new site gets its schema and demo data, the windows open inside
// the main window, and the screenshot run closes them and quits cleanly.
#include "Connection.h"
#include "Recordset.h"
#include "TestDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace zq::data;

namespace {

int runHost(const QStringList &args, QString *output = nullptr, bool display = true)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (display) {
        env.insert("QT_QPA_PLATFORM", "offscreen");
    } else {
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(name);
    }
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QString::fromUtf8(ZQ_HOST_BINARY), args);
    if (!p.waitForFinished(120000)) {
        p.kill();
        return -1;
    }
    if (output)
        *output = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
}

int count(Connection &c, const QString &sql)
{
    Recordset rs;
    rs.setConnection(&c);
    rs.setStatement(sql);
    rs.open();
    return rs.value(rs.fieldName(0)).toInt();
}

} // namespace

class HostTest : public testing::TestWithParam<Engine>
{
};

TEST_P(HostTest, NewSiteGetsTheDemoAndTheWindowsOpen)
{
    ZQ_OPEN_TEST_DB(db, GetParam(), false);
    QTemporaryDir home;
    const QString shot = home.filePath("shot.png");
    QStringList args{
        "--home", home.path(), "--open", "title", "--open", "holder", "--screenshot", shot};
    if (GetParam() == Engine::PostgreSQL)
        args << "--pg" << db.conninfo();
    else
        args << "--db" << home.filePath("site.db");
    QString out;
    ASSERT_EQ(runHost(args, &out), 0) << out.toStdString();
    QImage image(shot);
    ASSERT_FALSE(image.isNull());
    EXPECT_GE(image.width(), 800);

    Connection c;
    if (GetParam() == Engine::PostgreSQL)
        c.setPostgres(db.conninfo());
    else
        c.setSQLiteFile(home.filePath("site.db"));
    ASSERT_TRUE(c.open());
    EXPECT_EQ(count(c, "SELECT COUNT(*) FROM HolderData"), 50);
    EXPECT_EQ(count(c, "SELECT COUNT(*) FROM UserData WHERE Supervisor = 1"), 1);
    EXPECT_EQ(count(c, "SELECT COUNT(*) FROM UserRightDept WHERE UserID = 'operator'"), 2);
    EXPECT_GT(count(c, "SELECT COUNT(*) FROM DeviceUnit WHERE DeviceEnabled = 0"), 0);
    EXPECT_EQ(count(c, "SELECT COUNT(*) FROM HolderData WHERE Photo IS NULL"), 0);

    // A second start keeps the site as it is.
    ASSERT_EQ(runHost(args, &out), 0) << out.toStdString();
    EXPECT_EQ(count(c, "SELECT COUNT(*) FROM HolderData"), 50);
}

TEST(Host, BadOptionsAndAnUnusableDatabaseFailCleanly)
{
    QTemporaryDir home;
    EXPECT_EQ(runHost({"--home", home.path(), "--open", "nothing"}), 2);
    EXPECT_EQ(runHost({"--home", home.path(), "--lang", "fr"}), 2);
    QString out;
    EXPECT_EQ(runHost({"--home",
                       home.path(),
                       "--db",
                       "/nonexistent-folder/x/site.db",
                       "--screenshot",
                       home.filePath("s.png")},
                      &out),
              1);
    EXPECT_TRUE(out.contains("cannot open the site database")) << out.toStdString();
}

// Sites that cannot work are told at start, before a display is needed, and nothing is
// written to them.
TEST(Host, UnusableSitesAreToldWithoutADisplay)
{
    QTemporaryDir home;
    QFile text(home.filePath("notes.db"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("These are the notes of the site, not its database.\n");
    text.close();
    QString out;
    EXPECT_EQ(runHost({"--home", home.path(), "--db", text.fileName()}, &out, false), 1);
    EXPECT_TRUE(out.contains("is not an SQLite database")) << out.toStdString();
    EXPECT_EQ(QFileInfo(text.fileName()).size(), 51);

    // A port where nothing listens (the one of a socket just closed).
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    ::close(fd);
    const int port = ntohs(addr.sin_port);
    out.clear();
    EXPECT_EQ(runHost({"--home",
                       home.path(),
                       "--pg",
                       QString("host=127.0.0.1 port=%1 user=postgres dbname=postgres").arg(port)},
                      &out,
                      false),
              1);
    EXPECT_TRUE(out.contains("cannot open the site database (PostgreSQL")) << out.toStdString();

    // A read-only site folder: a read-only mount where root may mount, else the mode bits.
    const QString site = home.filePath("site");
    ASSERT_TRUE(QDir().mkpath(site));
    bool mounted = false;
    if (geteuid() == 0)
        mounted = QProcess::execute("mount", {"-t", "tmpfs", "-o", "ro,size=1m", "tmpfs", site})
                  == 0;
    else
        QFile::setPermissions(site, QFile::ReadOwner | QFile::ExeOwner);
    if (!mounted && geteuid() == 0)
        GTEST_SKIP() << "no read-only folder for root here";
    out.clear();
    EXPECT_EQ(runHost({"--home", site}, &out, false), 1);
    EXPECT_TRUE(out.contains("cannot be written")) << out.toStdString();
    if (mounted)
        QProcess::execute("umount", {site});
    else
        QFile::setPermissions(site, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Card labels as a script prints them: the holder window's hidden Card Label button opens the
// modal print window, the next click reaches that window, and the labels of the first
// department's punch-card holders land in the report folder.
TEST(Host, ScriptedClicksReachTheModalCardLabelWindow)
{
    QTemporaryDir home;
    const QString out = home.filePath("out");
    const QString shot = home.filePath("labels.png");
    QString log;
    ASSERT_EQ(runHost({"--home",
                       home.path(),
                       "--report-dir",
                       out,
                       "--open",
                       "holder",
                       "--click",
                       "btnLabel",
                       "--click",
                       "rabH",
                       "--click",
                       "btnPrintLabel",
                       "--screenshot",
                       shot},
                      &log),
              0)
        << log.toStdString();
    EXPECT_EQ(QDir(out).entryList(QDir::Files), QStringList{"HolderCardLabelH-1.pdf"});
    QFile pdf(QDir(out).filePath("HolderCardLabelH-1.pdf"));
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_GT(pdf.size(), 20000); // card pictures and photos, not the one-line empty page
    EXPECT_FALSE(QImage(shot).isNull());
}

// Two workstations on one PostgreSQL database: B shows the first title, A changes its
// description and saves, then B changes the same description and saves. B is told, A's
// text stays, and only A's change is in the audit trail.
TEST(Host, TwoHostsSavingOneRecordTellTheSecondOne)
{
    ZQ_OPEN_TEST_DB(db, Engine::PostgreSQL, false);
    QTemporaryDir home;
    // The first start creates the demo site.
    ASSERT_EQ(runHost({"--home",
                       home.path(),
                       "--pg",
                       db.conninfo(),
                       "--screenshot",
                       home.filePath("first.png")}),
              0);
    const QStringList edit{"--pg", db.conninfo(), "--open", "title", "--click", "btnEdit"};
    const QString go = home.filePath("go");

    QProcess b;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    b.setProcessEnvironment(env);
    b.setProcessChannelMode(QProcess::MergedChannels);
    b.start(QString::fromUtf8(ZQ_HOST_BINARY),
            QStringList{"--home", home.filePath("b"), "--wait-for", go} + edit
                + QStringList{"--click",
                              "edDescription=from B",
                              "--click",
                              "btnOk",
                              "--screenshot",
                              home.filePath("b.png")});
    for (int i = 0; i < 600 && !QFile::exists(go + ".wait"); ++i)
        QThread::msleep(100);
    ASSERT_TRUE(QFile::exists(go + ".wait")) << b.readAll().toStdString();

    QString out;
    ASSERT_EQ(runHost(QStringList{"--home", home.filePath("a")} + edit
                          + QStringList{"--click",
                                        "edDescription=from A",
                                        "--click",
                                        "btnOk",
                                        "--screenshot",
                                        home.filePath("a.png")},
                      &out),
              0)
        << out.toStdString();
    EXPECT_FALSE(out.contains("zqhost: message:")) << out.toStdString();
    QFile(go).open(QIODevice::WriteOnly);
    ASSERT_TRUE(b.waitForFinished(120000));
    const QString bOut = QString::fromUtf8(b.readAll());
    EXPECT_EQ(b.exitCode(), 0) << bOut.toStdString();
    EXPECT_TRUE(bOut.contains("zqhost: message: The record was changed on another workstation"))
        << bOut.toStdString();

    Connection &c = db.connection();
    Recordset first;
    first.setConnection(&c);
    first.setStatement("SELECT TitleNo, Description FROM OccupationTitle ORDER BY TitleNo");
    first.open();
    EXPECT_EQ(first.text("Description"), "from A");
    EXPECT_EQ(count(c,
                    "SELECT COUNT(*) FROM ProgramRunEdit WHERE Entry = 'E "
                        + first.text("TitleNo").trimmed() + "'"),
              1);
}

// The server ends the host's link; File > Reconnect opens it again without a restart, and
// the title window then saves over the new link.
TEST(Host, ReconnectAfterTheServerDroppedTheLink)
{
    ZQ_OPEN_TEST_DB(db, Engine::PostgreSQL, false);
    QTemporaryDir home;
    ASSERT_EQ(runHost({"--home",
                       home.path(),
                       "--pg",
                       db.conninfo(),
                       "--screenshot",
                       home.filePath("first.png")}),
              0);
    const QString go = home.filePath("go");
    QProcess host;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    host.setProcessEnvironment(env);
    host.setProcessChannelMode(QProcess::MergedChannels);
    host.start(QString::fromUtf8(ZQ_HOST_BINARY),
               {"--home",  home.path(),    "--pg",         db.conninfo(),
                "--open",  "title",        "--wait-for",   go,
                "--click", "mnuReconnect", "--click",      "OK",
                "--click", "btnEdit",      "--click",      "edDescription=after",
                "--click", "btnOk",        "--screenshot", home.filePath("s.png")});
    for (int i = 0; i < 600 && !QFile::exists(go + ".wait"); ++i)
        QThread::msleep(100);
    ASSERT_TRUE(QFile::exists(go + ".wait")) << host.readAll().toStdString();
    ASSERT_TRUE(db.connection().execute(
        "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = "
        "current_database() AND pid <> pg_backend_pid()"));
    QFile(go).open(QIODevice::WriteOnly);
    ASSERT_TRUE(host.waitForFinished(120000));
    const QString out = QString::fromUtf8(host.readAll());
    EXPECT_EQ(host.exitCode(), 0) << out.toStdString();
    Recordset first;
    first.setConnection(&db.connection());
    first.setStatement("SELECT Description FROM OccupationTitle ORDER BY TitleNo");
    first.open();
    EXPECT_EQ(first.text("Description"), "after") << out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         HostTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);
