// The host and the transfer tool under the umask of a desktop session: every folder and
// file they create is private, exports and refusal reports too, and a site other users can
// read is told with its chmod and left as it is.
#include "SiteRun.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using zq::test::modeOf;
using zq::test::ProgramRun;

namespace {

ProgramRun zqtransfer(const QStringList &args)
{
    return zq::test::runProgram(QString::fromUtf8(ZQ_TRANSFER_BINARY), args);
}

ProgramRun zqhost(const QStringList &args)
{
    return zq::test::runProgram(QString::fromUtf8(ZQ_HOST_BINARY), args, {}, true);
}

QString show(const ProgramRun &r)
{
    return QStringLiteral("status %1\nout: %2\nerr: %3").arg(r.status).arg(r.out, r.err);
}

} // namespace

TEST(PrivateSite, HostAndToolsCreateOnlyPrivateFiles)
{
    QTemporaryDir dir;
    // The host's first start on a new --home, under umask 022.
    const QString home = dir.filePath("home/site");
    ProgramRun r = zqhost({"--home", home, "--screenshot", dir.filePath("shot.png")});
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
    r = zqhost({"--home", home, "--screenshot", dir.filePath("shot.png")});
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
