// A lost link closes the connection, a statement error does not.
#include "Connection.h"
#include "Helpers.h"
#include "Recordset.h"
#include "Schema.h"
#include "TestDatabase.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace zq::data;

namespace {

bool runAsPostgres(const QString &program, const QStringList &args)
{
    QProcess p;
    if (geteuid() == 0)
        p.start(QStringLiteral("runuser"), QStringList{"-u", "postgres", "--", program} + args);
    else
        p.start(program, args);
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

int freePort()
{
    // The port of a socket bound to port 0 is free once the socket is closed again.
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

TEST(LostLink, BackendKilledClosesTheModuleConnection)
{
    ZQ_OPEN_TEST_DB(db, Engine::PostgreSQL);
    Recordset q;
    q.setConnection(&db.connection());
    ASSERT_EQ(RunQuery(&q, "SELECT pg_backend_pid() AS pid", 0), 1);
    const QString pid = q.text("pid");
    auto other = db.openAnother();
    ASSERT_TRUE(other->execute("SELECT pg_terminate_backend(" + pid + ")"));

    EXPECT_EQ(RunQuery(&q, "SELECT * FROM UserData", 0), 0);
    EXPECT_FALSE(db.connection().isConnected());
    EXPECT_TRUE(db.connection().isLinkLost());
    // The next command connects again, without the host.
    EXPECT_EQ(RunQuery(&q, "SELECT pg_backend_pid() AS pid", 0), 1);
    EXPECT_NE(q.text("pid"), pid);
    EXPECT_FALSE(db.connection().isLinkLost());
    // A connection the host closed stays closed.
    db.connection().close();
    EXPECT_EQ(RunQuery(&q, "SELECT * FROM UserData", 0), 0);
    EXPECT_TRUE(db.connection().open());
    EXPECT_EQ(RunQuery(&q, "SELECT * FROM UserData", 0), 1);
}

TEST(LostLink, NoStatementOfALostTransactionRunsOnItsOwn)
{
    ZQ_OPEN_TEST_DB(db, Engine::PostgreSQL);
    Connection &c = db.connection();
    Recordset q;
    q.setConnection(&c);
    ASSERT_EQ(RunQuery(&q, "SELECT pg_backend_pid() AS pid", 0), 1);
    const QString pid = q.text("pid");
    auto other = db.openAnother();
    ASSERT_TRUE(c.begin());
    ASSERT_EQ(RunQuery(&q, "INSERT INTO UserData (UserID) VALUES ('first')", 1), 1);
    ASSERT_TRUE(other->execute("SELECT pg_terminate_backend(" + pid + ")"));
    EXPECT_EQ(RunQuery(&q, "INSERT INTO UserData (UserID) VALUES ('second')", 1), 0);
    // Reconnecting here would commit the rest of the transaction piece by piece.
    EXPECT_EQ(RunQuery(&q, "INSERT INTO UserData (UserID) VALUES ('third')", 1), 0);
    EXPECT_FALSE(c.commit());
    EXPECT_EQ(RunQuery(&q, "SELECT COUNT(*) AS n FROM UserData", 0), 1);
    EXPECT_EQ(q.text("n"), "0");
}

TEST(LostLink, ServerStoppedClosesTheModuleConnection)
{
    const QString bin = qEnvironmentVariable("ZQ_TEST_PG_BIN");
    if (bin.isEmpty()) {
        if (zq::test::postgresRequired())
            FAIL() << "ZQ_TEST_PG_BIN is not set";
        GTEST_SKIP() << "no PostgreSQL binaries for a private server";
    }
    // A private server of this test alone, so that stopping it disturbs no other test.
    QTemporaryDir dir(QDir::tempPath() + "/zq-lostlink-XXXXXX");
    ASSERT_TRUE(dir.isValid());
    if (geteuid() == 0)
        QProcess::execute("chown", {"postgres:postgres", dir.path()});
    const QString data = dir.path() + "/data";
    ASSERT_TRUE(runAsPostgres(
        bin + "/initdb", {"-D", data, "-A", "trust", "-U", "postgres", "--no-sync", "-E", "UTF8"}));
    const int port = freePort();
    ASSERT_TRUE(runAsPostgres(bin + "/pg_ctl",
                              {"-D",
                               data,
                               "-l",
                               dir.path() + "/log",
                               "-w",
                               "-o",
                               QString("-c listen_addresses=127.0.0.1 -p %1 -k %2 -c fsync=off")
                                   .arg(port)
                                   .arg(dir.path()),
                               "start"}));
    Connection c;
    c.setPostgres(QString("host=127.0.0.1 port=%1 user=postgres dbname=postgres").arg(port));
    ASSERT_TRUE(c.open());
    ASSERT_TRUE(createSchema(c, {"UserData"}));
    setModuleConnection(&c);
    EXPECT_EQ(CheckConnection(), 1);

    ASSERT_TRUE(runAsPostgres(bin + "/pg_ctl", {"-D", data, "-m", "fast", "-w", "stop"}));
    Recordset q;
    q.setConnection(&c);
    EXPECT_EQ(RunQuery(&q, "SELECT * FROM UserData", 0), 0);
    EXPECT_FALSE(c.isConnected());
    EXPECT_EQ(CheckConnection(), 0);
    EXPECT_FALSE(c.open()); // the server is gone
    EXPECT_EQ(c.errors().value(0).nativeCode, 0);

    // Once the server is back, the next command reconnects.
    ASSERT_TRUE(runAsPostgres(bin + "/pg_ctl",
                              {"-D",
                               data,
                               "-l",
                               dir.path() + "/log",
                               "-w",
                               "-o",
                               QString("-c listen_addresses=127.0.0.1 -p %1 -k %2 -c fsync=off")
                                   .arg(port)
                                   .arg(dir.path()),
                               "start"}));
    EXPECT_EQ(CheckConnection(), 1);
    EXPECT_TRUE(c.isConnected());
    setModuleConnection(nullptr);
    c.close();
    runAsPostgres(bin + "/pg_ctl", {"-D", data, "-m", "fast", "-w", "stop"});
}
