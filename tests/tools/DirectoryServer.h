#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <thread>

/// The throwaway directory server of the test run (started by ./zq test) and a subtree of it
/// that belongs to one test: made on construction, filled with LDIF through the manager's
/// account, and removed again afterwards.
class DirectoryServer
{
public:
    DirectoryServer();
    ~DirectoryServer();

    /// False when the run has no directory server (then the test skips, or fails in CI).
    bool isAvailable() const { return m_available; }
    QString plainUri() const;
    QString tlsUri() const;
    QString caFile() const;
    /// The test's own subtree: ou=..., under the server's suffix.
    QString base() const { return m_base; }
    QString readerDn() const;
    QString limitedDn() const;
    /// A file with the readers' password, mode 0600.
    QString passwordFile() const { return m_dir.filePath(QStringLiteral("password")); }
    QString secret() const;

    /// Runs ldapadd (or ldapmodify) with `ldif`, in which every BASE stands for base();
    /// false (with the tool's output in `output`) when it fails.
    bool add(const QString &ldif, QString *output = nullptr) const;
    bool modify(const QString &ldif, QString *output = nullptr) const;

private:
    QString managerFile() const { return m_dir.filePath(QStringLiteral("manager")); }
    bool run(const QString &program, const QString &ldif, QString *output) const;

    bool m_available = false;
    QString m_base;
    QTemporaryDir m_dir;
};

/// A loopback relay to the directory server for one connection that it cuts once the server
/// has sent `cutAfter` bytes: a server that goes away in the middle of a page. It knows
/// nothing of the protocol; it only forwards bytes.
class CuttingRelay
{
public:
    CuttingRelay(int serverPort, qint64 cutAfter);
    ~CuttingRelay();
    int port() const { return m_port; }

private:
    void relay(int listener);

    int m_serverPort;
    qint64 m_cutAfter;
    int m_port = 0;
    std::thread m_thread;
};
