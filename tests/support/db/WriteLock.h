#pragma once

#include <QString>

#include <chrono>
#include <future>
#include <thread>

namespace zq::test {

/// Another workstation that holds a lock of an SQLite file for a while: on a thread of its
/// own, with a connection of its own, it begins a transaction, runs `statement` (a write,
/// or a read that keeps others from committing) and commits `hold` later. The constructor
/// returns once the lock is taken.
class WriteLock
{
public:
    enum class Kind { Write, Read };
    WriteLock(const QString &sqliteFile,
              std::chrono::milliseconds hold,
              const QString &statement,
              Kind kind = Kind::Write);
    ~WriteLock();
    /// Whether the lock was taken at all (else the test cannot say anything).
    bool held() const { return m_held; }
    /// Waits until the lock is released; whether the other workstation's commit succeeded.
    bool release();

private:
    std::thread m_thread;
    std::future<bool> m_committed;
    bool m_held = false;
};

} // namespace zq::test
