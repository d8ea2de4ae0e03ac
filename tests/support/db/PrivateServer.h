#pragma once

#include <QString>
#include <QTemporaryDir>

namespace zq::test {

/// A PostgreSQL server of one test alone, so that stopping or restarting it disturbs no
/// other test of the run. Made from the binaries in ZQ_TEST_PG_BIN; stopped and removed when
/// it goes.
class PrivateServer
{
public:
    PrivateServer();
    ~PrivateServer();
    /// False when there are no binaries here or the server did not start (`why()` says).
    bool isRunning() const { return m_running; }
    QString why() const { return m_why; }
    QString conninfo() const;
    /// A fast shutdown and a start on the same port: every open link breaks.
    bool restart();

private:
    bool start();
    bool pgCtl(const QStringList &args);
    QTemporaryDir m_dir;
    QString m_bin;
    int m_port = 0;
    bool m_running = false;
    QString m_why;
};

} // namespace zq::test
