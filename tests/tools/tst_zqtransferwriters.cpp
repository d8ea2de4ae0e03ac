// zqtransfer beside other writers: another import of the same numbers at the same time, a
// workstation holding the SQLite file, a PostgreSQL backend killed under it. Every holder of
// both files is stored once, a short lock is waited for, and the counts it prints are what
// the database holds.
#include "Connection.h"
#include "Recordset.h"
#include "TestDatabase.h"
#include "WriteLock.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;
using zq::data::Engine;

namespace {

// The tool started in the background; finish() waits for it.
struct Started
{
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    int status = -1;
    QString out;
    QString err;

    void finish()
    {
        if (!process->waitForFinished(300000))
            process->kill();
        process->waitForFinished();
        out += QString::fromUtf8(process->readAllStandardOutput());
        err += QString::fromUtf8(process->readAllStandardError());
        status = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -2;
    }
    QJsonObject counts() const
    {
        const QStringList lines = out.split('\n', Qt::SkipEmptyParts);
        return QJsonDocument::fromJson(lines.value(lines.size() - 1).toUtf8()).object();
    }
};

Started start(const QStringList &args)
{
    Started run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert("LC_ALL", "C");
    run.process->setProcessEnvironment(env);
    run.process->start(QString::fromUtf8(ZQ_TRANSFER_BINARY), args);
    return run;
}

void writeLines(const QString &path, int from, int to, const QString &name)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    QByteArray text;
    for (int i = from; i <= to; ++i)
        text += QStringLiteral("C%1,%2 %1\r\n").arg(i, 6, 10, QLatin1Char('0')).arg(name).toUtf8();
    f.write(text);
}

} // namespace

class ToolWritersTest : public testing::TestWithParam<Engine>
{
protected:
    void SetUp() override
    {
        m_db = std::make_unique<zq::test::TestDatabase>(GetParam());
        if (m_db->isAvailable())
            m_db->exec({"INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('admin', "
                        "'A', 1)"});
    }
    QStringList site() const
    {
        if (GetParam() == Engine::PostgreSQL)
            return {"--pg", m_db->conninfo()};
        return {"--db", m_db->folder() + "/site.db"};
    }
    Started import(const QString &file, const QStringList &more = {})
    {
        return start(QStringList{"import", file, "--user", "admin", "--columns", "12"} + site()
                     + more);
    }
    QString path(const QString &name) const { return m_db->folder() + "/" + name; }
    int count(const QString &sql)
    {
        zq::data::Recordset rs;
        rs.setConnection(&m_db->connection());
        rs.setStatement(sql);
        rs.open();
        return rs.isEmpty() ? -1 : zq::data::Recordset::textOf(rs.valueAt(0, 0)).toInt();
    }

    std::unique_ptr<zq::test::TestDatabase> m_db;
};

#define ZQ_TOOL_DB() \
    if (!m_db->isAvailable()) { \
        if (::zq::test::postgresRequired()) \
            FAIL() << m_db->skipReason().toStdString(); \
        GTEST_SKIP() << m_db->skipReason().toStdString(); \
    }

// Two overwriting imports whose numbers overlap, at the same time: each holder once, none
// refused, each overlapping holder as one of the two files has it.
TEST_P(ToolWritersTest, TwoImportsAtOnceStoreEveryHolderOnce)
{
    ZQ_TOOL_DB();
    writeLines(path("a.txt"), 1, 6000, "A");
    writeLines(path("b.txt"), 4001, 10000, "B");
    Started a = import(path("a.txt"), {"--overwrite"});
    Started b = import(path("b.txt"), {"--overwrite"});
    a.finish();
    b.finish();
    EXPECT_EQ(a.status, 0) << a.err.toStdString();
    EXPECT_EQ(b.status, 0) << b.err.toStdString();
    EXPECT_EQ(a.counts().value("refused").toInt(), 0);
    EXPECT_EQ(b.counts().value("refused").toInt(), 0);
    EXPECT_EQ(a.counts().value("stored").toInt(), 6000);
    EXPECT_EQ(b.counts().value("stored").toInt(), 6000);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 10000);
    EXPECT_EQ(count("SELECT COUNT(DISTINCT HolderNo) FROM HolderData"), 10000);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo <= 'C004000' AND HolderName "
                    "LIKE 'A %'"),
              4000);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo > 'C006000' AND HolderName "
                    "LIKE 'B %'"),
              4000);
    // Which file wrote an overlapping holder last depends on the two runs; that one of them
    // did is what counts.
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo > 'C004000' AND HolderNo <= "
                    "'C006000' AND (HolderName LIKE 'A %' OR HolderName LIKE 'B %')"),
              2000);
}

TEST_P(ToolWritersTest, AShortLockIsWaitedForALongOneEndsTheRunWithOneReason)
{
    if (GetParam() != Engine::SQLite)
        GTEST_SKIP() << "file locks are SQLite's";
    ZQ_TOOL_DB();
    writeLines(path("in.txt"), 1, 10, "L");
    {
        zq::test::WriteLock other(
            path("site.db"), 2s, "INSERT INTO OccupationTitle (TitleNo) VALUES ('T')");
        ASSERT_TRUE(other.held());
        Started run = import(path("in.txt"));
        run.finish();
        EXPECT_TRUE(other.release());
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_EQ(run.counts().value("stored").toInt(), 10);
    }
    writeLines(path("more.txt"), 11, 20, "L");
    zq::test::WriteLock other(
        path("site.db"), 8s, "INSERT INTO OccupationTitle (TitleNo) VALUES ('U')");
    ASSERT_TRUE(other.held());
    Started run = import(path("more.txt"));
    run.finish();
    EXPECT_TRUE(other.release());
    EXPECT_EQ(run.status, 2) << "nothing was stored";
    EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("busy")) << run.err.toStdString();
    EXPECT_EQ(run.counts().value("stored").toInt(), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData"), 10);
}

// The tool's backend is killed while it imports: the counts it prints, its status and its
// report tell what the database holds, and name the lines lost with the link.
TEST_P(ToolWritersTest, ABackendKilledMidImportIsToldAsItIs)
{
    if (GetParam() != Engine::PostgreSQL)
        GTEST_SKIP() << "a backend of its own is PostgreSQL's";
    ZQ_TOOL_DB();
    writeLines(path("big.txt"), 1, 60000, "K");
    Started run = import(path("big.txt"), {"--progress", "--refusals", path("r.csv")});
    // The first progress line comes after a second of importing.
    run.process->setReadChannel(QProcess::StandardError);
    ASSERT_TRUE(run.process->waitForReadyRead(120000));
    run.err += QString::fromUtf8(run.process->readAllStandardError());
    // Every backend of the database but the test's own two: the tool's.
    const int mine = count("SELECT pg_backend_pid()");
    auto other = m_db->openAnother();
    ASSERT_TRUE(other->execute(QString("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                       "WHERE datname = current_database() AND pid <> "
                                       "pg_backend_pid() AND pid <> %1")
                                   .arg(mine)));
    run.finish();
    ASSERT_NE(run.status, 0) << "the run ended before its link was cut";
    const int stored = count("SELECT COUNT(*) FROM HolderData");
    EXPECT_EQ(run.counts().value("stored").toInt(), stored);
    EXPECT_EQ(run.status, stored > 0 ? 1 : 2);
    EXPECT_EQ(run.counts().value("refused").toInt(), 0);
    const QStringList report = QString::fromUtf8([&] {
                                   QFile f(path("r.csv"));
                                   return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
                               }())
                                   .split("\r\n", Qt::SkipEmptyParts);
    EXPECT_EQ(report.size() - 1, run.counts().value("not_stored").toInt());
    for (const QString &row : report.mid(1))
        EXPECT_TRUE(row.contains(",link_lost,")) << row.toStdString();
    const QStringList lines = run.err.split('\n', Qt::SkipEmptyParts);
    EXPECT_TRUE(lines.last().contains("link to the database was lost")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("Refused by the database"));
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         ToolWritersTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);
