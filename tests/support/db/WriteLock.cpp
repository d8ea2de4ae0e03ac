#include "WriteLock.h"

#include "Connection.h"

#include <QSqlQuery>

namespace zq::test {

namespace {

// A read transaction: its shared lock stays until the commit, and no writer commits
// meanwhile.
bool readLocked(zq::data::Connection &c, const QString &statement)
{
    QSqlQuery q(c.database());
    return q.exec(QStringLiteral("BEGIN")) && q.exec(statement) && q.next();
}

} // namespace

WriteLock::WriteLock(const QString &sqliteFile,
                     std::chrono::milliseconds hold,
                     const QString &statement,
                     Kind kind)
{
    std::promise<bool> taken;
    std::future<bool> isTaken = taken.get_future();
    std::promise<bool> committed;
    m_committed = committed.get_future();
    m_thread = std::thread([sqliteFile,
                            hold,
                            statement,
                            kind,
                            taken = std::move(taken),
                            committed = std::move(committed)]() mutable {
        bool ok = false;
        {
            zq::data::Connection c;
            c.setSQLiteFile(sqliteFile);
            const bool locked = c.open()
                                && (kind == Kind::Read ? readLocked(c, statement)
                                                       : c.begin() && c.execute(statement));
            taken.set_value(locked);
            if (locked) {
                std::this_thread::sleep_for(hold);
                ok = kind == Kind::Read ? QSqlQuery(c.database()).exec(QStringLiteral("COMMIT"))
                                        : c.commit();
            }
        }
        committed.set_value(ok);
    });
    m_held = isTaken.get();
}

bool WriteLock::release()
{
    if (!m_thread.joinable())
        return false;
    m_thread.join();
    return m_committed.get();
}

WriteLock::~WriteLock()
{
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace zq::test
