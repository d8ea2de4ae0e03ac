#include "DirectoryServer.h"

#include <QFile>
#include <QProcess>
#include <QUuid>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
QString env(const char *name)
{
    return qEnvironmentVariable(name);
}
} // namespace

DirectoryServer::DirectoryServer()
{
    if (env("ZQ_TEST_LDAP").isEmpty() || !m_dir.isValid())
        return;
    // The tool's file ends with a line end, as an editor leaves it; the command-line tools
    // take the whole file as the password.
    for (const auto &[name, text] : {std::pair{passwordFile(), secret().toUtf8() + '\n'},
                                     std::pair{managerFile(), secret().toUtf8()}}) {
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            return;
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    m_base = QStringLiteral("ou=t%1,%2")
                 .arg(QUuid::createUuid().toString(QUuid::Id128).left(12),
                      env("ZQ_TEST_LDAP_SUFFIX"));
    m_available = add(QStringLiteral("dn: BASE\nobjectClass: organizationalUnit\nou: %1\n")
                          .arg(m_base.section(u',', 0, 0).mid(3)));
}

DirectoryServer::~DirectoryServer()
{
    if (!m_available)
        return;
    QProcess p;
    p.start(QStringLiteral("ldapdelete"),
            {"-x",
             "-r",
             "-H",
             plainUri(),
             "-D",
             env("ZQ_TEST_LDAP_MANAGER"),
             "-y",
             managerFile(),
             m_base});
    p.waitForFinished(30000);
}

QString DirectoryServer::plainUri() const
{
    return env("ZQ_TEST_LDAP");
}
QString DirectoryServer::tlsUri() const
{
    return env("ZQ_TEST_LDAPS");
}
QString DirectoryServer::caFile() const
{
    return env("ZQ_TEST_LDAP_CA");
}
QString DirectoryServer::readerDn() const
{
    return env("ZQ_TEST_LDAP_READER");
}
QString DirectoryServer::limitedDn() const
{
    return env("ZQ_TEST_LDAP_LIMITED");
}
QString DirectoryServer::secret() const
{
    return env("ZQ_TEST_LDAP_SECRET");
}

bool DirectoryServer::add(const QString &ldif, QString *output) const
{
    return run(QStringLiteral("ldapadd"), ldif, output);
}

bool DirectoryServer::modify(const QString &ldif, QString *output) const
{
    return run(QStringLiteral("ldapmodify"), ldif, output);
}

bool DirectoryServer::run(const QString &program, const QString &ldif, QString *output) const
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program,
            {"-x", "-H", plainUri(), "-D", env("ZQ_TEST_LDAP_MANAGER"), "-y", managerFile()});
    QString text = ldif;
    text.replace(QStringLiteral("BASE"), m_base);
    p.write(text.toUtf8());
    p.closeWriteChannel();
    const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit
                    && p.exitCode() == 0;
    if (output)
        *output = QString::fromUtf8(p.readAll());
    return ok;
}

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(quint16(port));
    return a;
}

} // namespace

CuttingRelay::CuttingRelay(int serverPort, qint64 cutAfter)
    : m_serverPort(serverPort)
    , m_cutAfter(cutAfter)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t size = sizeof a;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0
        || ::listen(listener, 1) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &size) != 0) {
        if (listener >= 0)
            ::close(listener);
        return;
    }
    m_port = ntohs(a.sin_port);
    m_thread = std::thread([this, listener] { relay(listener); });
}

CuttingRelay::~CuttingRelay()
{
    if (m_thread.joinable())
        m_thread.join();
}

void CuttingRelay::relay(int listener)
{
    // One client within a minute; the test's tool run is bounded anyway.
    pollfd wait{listener, POLLIN, 0};
    const int client = ::poll(&wait, 1, 60000) == 1 ? ::accept(listener, nullptr, nullptr) : -1;
    ::close(listener);
    if (client < 0)
        return;
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = loopback(m_serverPort);
    if (server < 0 || ::connect(server, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
        ::close(client);
        if (server >= 0)
            ::close(server);
        return;
    }
    qint64 sent = 0;
    char buffer[16384];
    for (bool open = true; open;) {
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        if (::poll(fds, 2, 60000) <= 0)
            break;
        for (int i = 0; i < 2 && open; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                open = false;
                break;
            }
            ssize_t pass = n;
            if (i == 1) {
                pass = ssize_t(qMin<qint64>(n, m_cutAfter - sent));
                sent += pass;
            }
            if (pass > 0 && ::write(i == 0 ? server : client, buffer, size_t(pass)) != pass)
                open = false;
            if (i == 1 && sent >= m_cutAfter)
                open = false;
        }
    }
    ::close(client);
    ::close(server);
}
