#include "SiteSetup.h"

#include "Connection.h"
#include "DemoSite.h"
#include "Schema.h"

#include <QSqlQuery>
#include <QSqlRecord>

#include <optional>

using zq::data::Connection;
using zq::data::Engine;

namespace zq::site {

namespace {

QString firstError(const Connection &connection)
{
    const QString text = connection.errors().value(0).text.trimmed();
    return text.isEmpty() ? QStringLiteral("the database gave no reason") : text;
}

// The first column of the first row, or nothing when there is no row or the statement fails.
std::optional<QVariant> scalar(Connection &connection, const QString &sql)
{
    QSqlQuery q(connection.database());
    if (!q.exec(sql) || !q.next())
        return std::nullopt;
    return q.value(0);
}

bool userExists(Connection &connection, const QString &id)
{
    return scalar(connection,
                  QStringLiteral("SELECT 1 FROM UserData WHERE UserID = %1")
                      .arg(Connection::quoted(id)))
        .has_value();
}

void run(Connection &connection, const QString &sql)
{
    if (!connection.execute(sql))
        throw zq::data::DbError(connection.errors());
}

void createTables(Connection &connection, bool replace)
{
    const QStringList existing = connection.userTables();
    for (const zq::data::TableDef &t : zq::data::siteTables()) {
        const QString name = QString::fromLatin1(t.name);
        if (replace && existing.contains(name, Qt::CaseInsensitive))
            run(connection, QStringLiteral("DROP TABLE %1").arg(name));
        for (const QString &sql : zq::data::createStatements(t, connection.engine()))
            run(connection, sql);
    }
}

QString serverVersion(Connection &connection)
{
    const bool sqlite = connection.engine() == Engine::SQLite;
    const auto v = scalar(connection,
                          sqlite ? QStringLiteral("SELECT sqlite_version()")
                                 : QStringLiteral("SHOW server_version"));
    return (sqlite ? QStringLiteral("SQLite ") : QStringLiteral("PostgreSQL "))
           + (v ? v->toString() : QStringLiteral("(version unknown)"));
}

// One line per missing table or column; the count of problems goes up by one for each.
void checkSchema(Connection &connection, SiteReport &report)
{
    const QStringList existing = connection.userTables();
    int tables = 0;
    for (const zq::data::TableDef &t : zq::data::siteTables()) {
        const QString name = QString::fromLatin1(t.name);
        if (!existing.contains(name, Qt::CaseInsensitive)) {
            report.lines << QStringLiteral("missing table %1").arg(name);
            ++report.problems;
            continue;
        }
        ++tables;
        const QSqlRecord record = connection.database().record(
            connection.engine() == Engine::PostgreSQL ? name.toLower() : name);
        for (const zq::data::ColumnDef &c : t.columns) {
            if (record.indexOf(QString::fromLatin1(c.name)) < 0) {
                report.lines << QStringLiteral("missing column %1.%2").arg(name, c.name);
                ++report.problems;
            }
        }
    }
    report.lines << QStringLiteral("schema: %1 of %2 tables present")
                        .arg(tables)
                        .arg(zq::data::siteTables().size());
}

void checkUser(Connection &connection, const QString &id, SiteReport &report)
{
    const auto supervisor = scalar(
        connection,
        QStringLiteral("SELECT Supervisor FROM UserData WHERE UserID = %1")
            .arg(Connection::quoted(id)));
    if (!supervisor) {
        report.lines << QStringLiteral("user %1: no such user").arg(id);
        ++report.problems;
        return;
    }
    if (supervisor->toInt() == 1) {
        report.lines
            << QStringLiteral("user %1: supervisor (every right, every department)").arg(id);
        return;
    }
    QSqlQuery q(connection.database());
    q.exec(QStringLiteral("SELECT RightKey, RightValue FROM UserProgramRight WHERE UserID = %1 "
                          "ORDER BY RightKey")
               .arg(Connection::quoted(id)));
    int transfer = 0;
    while (q.next()) {
        report.lines << QStringLiteral("user %1: right %2 = %3")
                            .arg(id, q.value(0).toString())
                            .arg(q.value(1).toInt());
        if (q.value(0).toString() == QLatin1String(kTransferRightKey))
            transfer = q.value(1).toInt();
    }
    report.lines << QStringLiteral("user %1: import %2, export %3")
                        .arg(id,
                             transfer != 0 ? QStringLiteral("yes") : QStringLiteral("no"),
                             (transfer & (0x01 | 0x04 | 0x10)) != 0 ? QStringLiteral("yes")
                                                                    : QStringLiteral("no"));
    q.exec(QStringLiteral("SELECT DepartmentNo FROM UserRightDept WHERE UserID = %1 ORDER BY "
                          "DepartmentNo")
               .arg(Connection::quoted(id)));
    QStringList departments;
    while (q.next())
        departments << q.value(0).toString();
    report.lines << QStringLiteral("user %1: departments %2")
                        .arg(id,
                             departments.isEmpty() ? QStringLiteral("(none)")
                                                   : departments.join(QLatin1String(", ")));
}

} // namespace

bool holdsSite(Connection &connection)
{
    const QStringList existing = connection.userTables();
    for (const zq::data::TableDef &t : zq::data::siteTables())
        if (existing.contains(QString::fromLatin1(t.name), Qt::CaseInsensitive))
            return true;
    return false;
}

bool initSite(Connection &connection, const InitOptions &options, QString &error)
{
    error = userIdProblem(options.supervisor);
    if (!error.isEmpty())
        return false;
    if (!options.replace && holdsSite(connection)) {
        error = QStringLiteral("the database already holds a site; --force replaces it");
        return false;
    }
    // Both engines take tables and rows in one transaction: a failure leaves nothing behind.
    if (!connection.begin()) {
        error = firstError(connection);
        return false;
    }
    try {
        createTables(connection, options.replace);
        if (options.demo)
            fillDemoSite(connection);
        if (!userExists(connection, options.supervisor))
            run(connection,
                QStringLiteral("INSERT INTO UserData (UserID, UserName, UserPassword, Supervisor) "
                               "VALUES (%1, 'Supervisor', '', 1)")
                    .arg(Connection::quoted(options.supervisor)));
    } catch (const std::exception &e) {
        error = QString::fromUtf8(e.what()).trimmed();
        connection.rollback();
        return false;
    }
    if (!connection.commit()) {
        error = firstError(connection);
        return false;
    }
    return true;
}

QString userIdProblem(const QString &id)
{
    if (id.isEmpty())
        return QStringLiteral("a user ID cannot be empty");
    if (id.size() > 20)
        return QStringLiteral("the user ID \"%1\" is longer than 20 characters").arg(id);
    for (const QChar c : id) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return QStringLiteral("a user ID cannot hold control characters");
        if (c.isSpace() || c == u'\'' || c == u'"' || c == u'`' || c == u'\\')
            return QStringLiteral("the user ID \"%1\" holds a blank, a quote or a backslash")
                .arg(id);
    }
    return QString();
}

bool addUser(
    Connection &connection, const QString &id, const QString &name, bool supervisor, QString &error)
{
    error = userIdProblem(id);
    if (!error.isEmpty())
        return false;
    if (userExists(connection, id)) {
        error = QStringLiteral("user %1 exists already").arg(id);
        return false;
    }
    if (!connection.execute(
            QStringLiteral("INSERT INTO UserData (UserID, UserName, UserPassword, Supervisor) "
                           "VALUES (%1, %2, '', %3)")
                .arg(Connection::quoted(id), Connection::quoted(name.left(40)))
                .arg(supervisor ? 1 : 0))) {
        error = firstError(connection);
        return false;
    }
    return true;
}

bool grantProgramRight(
    Connection &connection, const QString &id, const QString &rightKey, int bits, QString &error)
{
    if (!userExists(connection, id)) {
        error = QStringLiteral("there is no user %1 (zqsite add-user %1 makes one)").arg(id);
        return false;
    }
    const QString where = QStringLiteral(" WHERE UserID = %1 AND RightKey = %2")
                              .arg(Connection::quoted(id), Connection::quoted(rightKey));
    const auto held = scalar(connection,
                             QStringLiteral("SELECT RightValue FROM UserProgramRight") + where);
    const int before = held ? held->toInt() : 0;
    if (held && (before & bits) == bits) {
        error = QStringLiteral("user %1 holds that right already (%2 = %3)")
                    .arg(id, rightKey)
                    .arg(before);
        return false;
    }
    const QString sql = held ? QStringLiteral("UPDATE UserProgramRight SET RightValue = %1")
                                       .arg(before | bits)
                                   + where
                             : QStringLiteral(
                                   "INSERT INTO UserProgramRight (UserID, RightKey, RightValue) "
                                   "VALUES (%1, %2, %3)")
                                   .arg(Connection::quoted(id), Connection::quoted(rightKey))
                                   .arg(bits);
    if (!connection.execute(sql)) {
        error = firstError(connection);
        return false;
    }
    return true;
}

bool grantDepartment(Connection &connection,
                     const QString &id,
                     const QString &departmentNo,
                     QString &error)
{
    if (!userExists(connection, id)) {
        error = QStringLiteral("there is no user %1 (zqsite add-user %1 makes one)").arg(id);
        return false;
    }
    const QString dept = Connection::quoted(departmentNo);
    if (!scalar(connection,
                QStringLiteral("SELECT 1 FROM DepartmentData WHERE DepartmentNo = %1").arg(dept))) {
        error = QStringLiteral("there is no department %1").arg(departmentNo);
        return false;
    }
    if (scalar(connection,
               QStringLiteral("SELECT 1 FROM UserRightDept WHERE UserID = %1 AND DepartmentNo = %2")
                   .arg(Connection::quoted(id), dept))) {
        error = QStringLiteral("user %1 holds department %2 already").arg(id, departmentNo);
        return false;
    }
    if (!connection.execute(
            QStringLiteral("INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES (%1, %2)")
                .arg(Connection::quoted(id), dept))) {
        error = firstError(connection);
        return false;
    }
    return true;
}

SiteReport checkSite(Connection &connection, const QString &userId)
{
    SiteReport report;
    report.lines << QStringLiteral("engine: %1").arg(serverVersion(connection));
    checkSchema(connection, report);
    if (report.problems == 0) {
        const auto users = scalar(connection, QStringLiteral("SELECT COUNT(*) FROM UserData"));
        const auto supervisors = scalar(
            connection, QStringLiteral("SELECT COUNT(*) FROM UserData WHERE Supervisor = 1"));
        const auto holders = scalar(connection, QStringLiteral("SELECT COUNT(*) FROM HolderData"));
        report.lines << QStringLiteral("users: %1 (%2 supervisors), holders: %3")
                            .arg(users ? users->toInt() : 0)
                            .arg(supervisors ? supervisors->toInt() : 0)
                            .arg(holders ? holders->toInt() : 0);
        if (!supervisors || supervisors->toInt() == 0) {
            report.lines << QStringLiteral("no supervisor: nobody may grant rights in the windows");
            ++report.problems;
        }
        if (!userId.isEmpty())
            checkUser(connection, userId, report);
    }
    return report;
}

} // namespace zq::site
