// The host end to end: a new site gets its schema and demo data, the windows open inside
// the main window, and the screenshot run closes them and quits cleanly.
#include "Connection.h"
#include "Recordset.h"
#include "TestDatabase.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zq::data;

namespace {

int runHost(const QStringList &args, QString *output = nullptr)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
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

INSTANTIATE_TEST_SUITE_P(Engines,
                         HostTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);
