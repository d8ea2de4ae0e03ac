// zqtransfer killed (SIGKILL) in the middle of an import, on both engines: the audit
// entries that stand afterwards are exactly those of the holders that stand.
#include "Connection.h"
#include "TestDatabase.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using zq::data::Engine;

namespace {

QStringList column(zq::data::Connection &c, const QString &sql)
{
    QStringList values;
    QSqlQuery q(c.database());
    if (!q.exec(sql))
        return {QStringLiteral("failed: ") + q.lastError().text()};
    while (q.next())
        values << q.value(0).toString();
    values.sort();
    return values;
}

class ToolKillTest : public testing::TestWithParam<Engine>
{
};

} // namespace

TEST_P(ToolKillTest, AKilledImportLeavesTheAuditEntriesOfTheHoldersItCommitted)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    db.exec({"INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('admin', 'A', 1)",
             "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D1', 'Sales')"});
    // Enough lines for several commits (one a second) before the import could end.
    constexpr int kLines = 200000;
    const QString file = db.folder() + "/many.txt";
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        QByteArray lines;
        for (int i = 0; i < kLines; ++i)
            lines += "K" + QByteArray::number(i) + ",Holder " + QByteArray::number(i)
                     + ",1990-01-01,Sales\r\n";
        f.write(lines);
    }
    QStringList args{"import", file, "--user", "admin", "--columns", "124A"};
    args << (GetParam() == Engine::PostgreSQL ? QStringList{"--pg", db.conninfo()}
                                              : QStringList{"--db", db.folder() + "/site.db"});
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    tool.setProcessEnvironment(env);
    tool.start(QString::fromUtf8(ZQ_TRANSFER_BINARY), args);
    ASSERT_TRUE(tool.waitForStarted());

    // Killed once a first batch stands, while later ones are being written.
    auto watcher = db.openAnother();
    QElapsedTimer waited;
    waited.start();
    bool killed = false;
    while (tool.state() == QProcess::Running && waited.elapsed() < 120000) {
        QSqlQuery count(watcher->database());
        if (count.exec("SELECT COUNT(*) FROM HolderData") && count.next()
            && count.value(0).toInt() > 0) {
            QThread::msleep(300);
            killed = ::kill(pid_t(tool.processId()), SIGKILL) == 0;
            break;
        }
        QThread::msleep(20);
    }
    tool.waitForFinished(30000);
    ASSERT_TRUE(killed) << "the import ended before it could be killed: "
                        << tool.readAllStandardError().toStdString();
    ASSERT_EQ(tool.exitStatus(), QProcess::CrashExit);

    watcher.reset();
    auto after = db.openAnother();
    const QStringList holders = column(*after, "SELECT HolderNo FROM HolderData");
    QStringList expected;
    for (const QString &holder : holders)
        expected << "A " + holder;
    expected.sort();
    EXPECT_GT(holders.size(), 0);
    EXPECT_LT(holders.size(), kLines);
    EXPECT_EQ(column(*after, "SELECT Entry FROM ProgramRunEdit"), expected);
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         ToolKillTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);
