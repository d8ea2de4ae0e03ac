#include "UserRights.h"

#include "Connection.h"
#include "Recordset.h"

#include <QDateTime>

#include <optional>

namespace zq::suite {

using zq::data::Connection;
using zq::data::Recordset;

namespace {

// The integer of the first row's only column, or nothing when there is no row.
std::optional<int> firstInteger(Connection &connection, const QString &sql, const QString &field)
{
    Recordset query;
    query.setConnection(&connection);
    query.setStatement(sql);
    query.open();
    if (query.isEmpty())
        return std::nullopt;
    return query.value(field).toInt();
}

} // namespace

int programRight(Connection &connection, const QString &userId, const QString &rightKey)
{
    const QString user = Connection::quoted(userId);
    const auto right = firstInteger(connection,
                                    QStringLiteral("SELECT RightValue FROM UserProgramRight"
                                                   " WHERE UserID = %1 AND RightKey = %2")
                                        .arg(user, Connection::quoted(rightKey)),
                                    QStringLiteral("RightValue"));
    if (right)
        return *right;
    const auto supervisor = firstInteger(
        connection,
        QStringLiteral("SELECT Supervisor FROM UserData WHERE UserID = %1").arg(user),
        QStringLiteral("Supervisor"));
    return supervisor.value_or(0) == 1 ? kSupervisorRight : 0;
}

bool addProgramRunEdit(Connection &connection,
                       const QString &userId,
                       const QString &rightKey,
                       const QString &entry)
{
    const QString sql = QStringLiteral(
                            "INSERT INTO ProgramRunEdit (RunTime, UserID, RightKey, Entry)"
                            " VALUES (%1, %2, %3, %4)")
                            .arg(Connection::quoted(
                                     Connection::dateTimeText(QDateTime::currentDateTime())),
                                 Connection::quoted(userId),
                                 Connection::quoted(rightKey),
                                 Connection::quoted(entry));
    return connection.execute(sql);
}

} // namespace zq::suite
