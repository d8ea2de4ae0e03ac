#include "UserRights.h"

#include "AuditEntries.h"

#include "Connection.h"
#include "Recordset.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>

#include <map>
#include <memory>
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

bool addProgramRunEditStatement(Connection &connection,
                                const QString &userId,
                                const QString &rightKey,
                                const QString &entry)
{
    return addProgramRunEditStatementAt(connection,
                                        Connection::dateTimeText(QDateTime::currentDateTime()),
                                        userId,
                                        rightKey,
                                        entry);
}

bool addProgramRunEditStatementAt(Connection &connection,
                                  const QString &runTime,
                                  const QString &userId,
                                  const QString &rightKey,
                                  const QString &entry)
{
    const QString sql = QStringLiteral(
                            "INSERT INTO ProgramRunEdit (RunTime, UserID, RightKey, Entry)"
                            " VALUES (%1, %2, %3, %4)")
                            .arg(Connection::quoted(runTime),
                                 Connection::quoted(userId),
                                 Connection::quoted(rightKey),
                                 Connection::quoted(entry));
    return connection.execute(sql);
}

namespace {

// The insert of the audit entries, prepared once per connection: an import writes one entry
// per holder, and a statement text of its own each would be parsed and planned every time.
// It goes when its connection's handle closes.
struct AuditInsert
{
    std::unique_ptr<QSqlQuery> query;
    QMetaObject::Connection closing;
};

std::map<const Connection *, AuditInsert> &auditInserts()
{
    static std::map<const Connection *, AuditInsert> inserts;
    return inserts;
}

QSqlQuery *auditInsert(Connection &connection)
{
    auto &inserts = auditInserts();
    auto found = inserts.find(&connection);
    if (found != inserts.end())
        return found->second.query.get();
    auto query = std::make_unique<QSqlQuery>(connection.database());
    if (!query->prepare(QStringLiteral("INSERT INTO ProgramRunEdit (RunTime, UserID, RightKey, "
                                       "Entry) VALUES (?, ?, ?, ?)")))
        return nullptr;
    AuditInsert &insert = inserts[&connection];
    insert.query = std::move(query);
    const Connection *key = &connection;
    insert.closing = QObject::connect(&connection, &Connection::closing, &connection, [key] {
        auto &all = auditInserts();
        const auto it = all.find(key);
        if (it == all.end())
            return;
        QObject::disconnect(it->second.closing);
        all.erase(it);
    });
    return insert.query.get();
}

} // namespace

bool addProgramRunEdit(Connection &connection,
                       const QString &userId,
                       const QString &rightKey,
                       const QString &entry)
{
    return addProgramRunEditAt(
        connection, runTimeText(QDateTime::currentMSecsSinceEpoch()), userId, rightKey, entry);
}

bool addProgramRunEditAt(Connection &connection,
                         const QString &runTime,
                         const QString &userId,
                         const QString &rightKey,
                         const QString &entry)
{
    // A text holding NUL is refused as its literal was.
    for (const QString *text : {&userId, &rightKey, &entry})
        if (text->contains(QChar(0)))
            Connection::quoted(*text);
    if (!connection.ensureOpen())
        return addProgramRunEditStatementAt(connection, runTime, userId, rightKey, entry);
    QSqlQuery *q = auditInsert(connection);
    if (!q)
        return addProgramRunEditStatementAt(connection, runTime, userId, rightKey, entry);
    // A null text was written as '', never as NULL.
    const auto text = [](const QString &t) { return t.isNull() ? QStringLiteral("") : t; };
    q->bindValue(0, runTime);
    q->bindValue(1, text(userId));
    q->bindValue(2, text(rightKey));
    q->bindValue(3, text(entry));
    if (!q->exec()) {
        connection.setErrorsFrom(q->lastError());
        return false;
    }
    connection.clearErrors();
    return true;
}

} // namespace zq::suite
