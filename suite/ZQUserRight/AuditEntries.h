#pragma once

#include <QString>

namespace zq::data {
class Connection;
}

namespace zq::suite {

/// How audit entries reach their table.
enum class AuditWrites {
    /// Inside a transaction of the connection, entries are kept and written just before it
    /// commits, many rows per statement; outside one, each at once.
    Deferred,
    /// Each entry by its own statement when it is made (ZQ_AUDIT_PLAIN=1).
    AtOnce,
};

/// The way in force: AtOnce when ZQ_AUDIT_PLAIN is set to anything but 0, else Deferred.
AuditWrites auditWrites();
/// Replaces the way in force (for tests comparing both).
void setAuditWrites(AuditWrites writes);

/// Records the audit entry (now, user, key, entry) by the way in force. Kept entries are
/// exactly as durable as the transaction's other writes: written in it just before it
/// commits (a failure to write them refuses the commit), dropped when it is rolled back or
/// its link is lost. False when the database refused an entry written at once. Throws
/// std::invalid_argument for a text holding NUL, before anything is written or kept.
bool recordAuditEntry(zq::data::Connection &connection,
                      const QString &userId,
                      const QString &rightKey,
                      const QString &entry);

/// Entries of the connection kept for its open transaction.
int keptAuditEntries(const zq::data::Connection &connection);

/// How often a statement of many rows could not be prepared, so that kept entries were
/// written one by one instead (each time is logged under zq.suite.audit).
int auditFallbacks();

/// The text of RunTime for the instant `msecsSinceEpoch`: local time, yyyy-MM-dd HH:mm:ss.
/// By the way in force: the text of a second is made once and reused for the rest of that
/// second, or (AtOnce) converted through the local zone every time.
QString runTimeText(qint64 msecsSinceEpoch);

} // namespace zq::suite
