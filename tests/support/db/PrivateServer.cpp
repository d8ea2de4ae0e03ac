#include "PrivateServer.h"

#include <QDir>
#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zq::test {

namespace {

bool runAsPostgres(const QString &program, const QStringList &args)
{
    QProcess p;
    // initdb and pg_ctl refuse to run as root.
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

PrivateServer::PrivateServer()
    : m_dir(QDir::tempPath() + QStringLiteral("/zq-private-pg-XXXXXX"))
    , m_bin(qEnvironmentVariable("ZQ_TEST_PG_BIN"))
{
    if (m_bin.isEmpty()) {
        m_why = QStringLiteral("ZQ_TEST_PG_BIN is not set: no PostgreSQL binaries");
        return;
    }
    if (geteuid() == 0)
        QProcess::execute(QStringLiteral("chown"), {"postgres:postgres", m_dir.path()});
    if (!runAsPostgres(m_bin + QStringLiteral("/initdb"),
                       {"-D",
                        m_dir.path() + "/data",
                        "-A",
                        "trust",
                        "-U",
                        "postgres",
                        "--no-sync",
                        "-E",
                        "UTF8"})) {
        m_why = QStringLiteral("initdb failed");
        return;
    }
    m_port = freePort();
    m_running = start();
    if (!m_running)
        m_why = QStringLiteral("the private server did not start");
}

PrivateServer::~PrivateServer()
{
    if (m_running)
        pgCtl({"-m", "immediate", "stop"});
}

QString PrivateServer::conninfo() const
{
    return QStringLiteral("host=127.0.0.1 port=%1 user=postgres dbname=postgres").arg(m_port);
}

bool PrivateServer::pgCtl(const QStringList &args)
{
    return runAsPostgres(m_bin + QStringLiteral("/pg_ctl"),
                         QStringList{"-D", m_dir.path() + "/data", "-w"} + args);
}

bool PrivateServer::start()
{
    return pgCtl({"-l",
                  m_dir.path() + "/log",
                  "-o",
                  QStringLiteral("-c listen_addresses=127.0.0.1 -p %1 -k %2 -c fsync=off")
                      .arg(m_port)
                      .arg(m_dir.path()),
                  "start"});
}

bool PrivateServer::restart()
{
    m_running = pgCtl({"-m", "fast", "stop"}) && start();
    return m_running;
}

} // namespace zq::test
