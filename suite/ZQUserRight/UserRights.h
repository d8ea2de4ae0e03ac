#pragma once

#include <QString>

namespace zq::data {
class Connection;
}

namespace zq::suite {

/// The command bits everybody has on a key no row of UserProgramRight names, when he is a
/// supervisor.
constexpr int kSupervisorRight = 127;

/// The user's command bits for `rightKey` from UserProgramRight; without a row
/// `kSupervisorRight` for a supervisor (UserData.Supervisor = 1), else 0. Throws `DbError`
/// when the database cannot answer.
int programRight(zq::data::Connection &connection, const QString &userId, const QString &rightKey);

/// Appends the audit entry (now, user, key, entry) to ProgramRunEdit through a statement
/// prepared once per connection. False when the database refused it.
bool addProgramRunEdit(zq::data::Connection &connection,
                       const QString &userId,
                       const QString &rightKey,
                       const QString &entry);
/// The same, at `runTime` (the text of RunTime, see runTimeText()).
bool addProgramRunEditAt(zq::data::Connection &connection,
                         const QString &runTime,
                         const QString &userId,
                         const QString &rightKey,
                         const QString &entry);
/// The same entry by a statement of its own, its values written into the text.
bool addProgramRunEditStatement(zq::data::Connection &connection,
                                const QString &userId,
                                const QString &rightKey,
                                const QString &entry);
/// The same, at `runTime`.
bool addProgramRunEditStatementAt(zq::data::Connection &connection,
                                  const QString &runTime,
                                  const QString &userId,
                                  const QString &rightKey,
                                  const QString &entry);

} // namespace zq::suite
