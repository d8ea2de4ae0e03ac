#include "SiteGenerator.h"

#include "Connection.h"
#include "Schema.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace zq::bench {

namespace {

using zq::data::Connection;
using zq::data::Engine;

// The two large tables are filled before their secondary indexes exist: one sorted build
// of each index instead of a million random insertions into it.
const QStringList kBulkTables{QStringLiteral("HolderData"), QStringLiteral("CardData")};

bool fail(Connection &c, QString &error)
{
    if (error.isEmpty())
        error = c.errors().value(0).text;
    if (c.inTransaction())
        c.rollback();
    return false;
}

bool run(QSqlQuery &q, QString &error)
{
    if (q.exec())
        return true;
    error = q.lastError().text();
    return false;
}

// The numbers 0 .. count - 1 in order, as rows of a column `h`, made by the engine itself.
QString numbers(Engine engine, int count)
{
    if (engine == Engine::PostgreSQL)
        return QStringLiteral("generate_series(0, %1) AS n(h)").arg(count - 1);
    return QStringLiteral("n");
}

QString withNumbers(Engine engine, int count)
{
    if (engine == Engine::PostgreSQL)
        return QString();
    return QStringLiteral("WITH RECURSIVE n(h) AS (SELECT 0 UNION ALL SELECT h + 1 FROM n "
                          "WHERE h + 1 < %1) ")
        .arg(count);
}

// `prefix` and `value` zero-padded to `width` digits (more digits when it has more), as
// QString::arg(value, width, 10, '0') writes it.
QString padded(Engine engine, const char *prefix, const QString &value, int width)
{
    const QString w = QString::number(width);
    if (engine == Engine::SQLite)
        return QStringLiteral("printf('") + QLatin1String(prefix) + QStringLiteral("%0") + w
               + QStringLiteral("d', ") + value + QStringLiteral(")");
    qlonglong limit = 1;
    for (int i = 0; i < width; ++i)
        limit *= 10;
    return QStringLiteral("('%1' || CASE WHEN (%3) < %4 THEN lpad((%3)::text, %2, '0') "
                          "ELSE (%3)::text END)")
        .arg(QLatin1String(prefix), w, value, QString::number(limit));
}

// The midnight of a date whose parts are SQL expressions, in the form the site's dates are
// written in.
QString midnight(Engine engine, const QString &year, const QString &month, const QString &day)
{
    // Concatenated: QString::arg() would read printf's %02d as a place marker.
    const QString parts = year + QStringLiteral(", ") + month + QStringLiteral(", ") + day;
    if (engine == Engine::SQLite)
        return QStringLiteral("printf('%04d-%02d-%02d 00:00:00', ") + parts + QLatin1Char(')');
    return QStringLiteral("make_timestamp(") + parts + QStringLiteral(", 0, 0, 0)");
}

QString literalDate(Engine engine, const char *text)
{
    const QString literal = QStringLiteral("'%1 00:00:00'").arg(QLatin1String(text));
    return engine == Engine::SQLite ? literal : literal + QStringLiteral("::timestamp");
}

QString text(Engine engine, const QString &expression)
{
    return engine == Engine::SQLite ? QStringLiteral("(%1)").arg(expression)
                                    : QStringLiteral("(%1)::text").arg(expression);
}

// Every holder has a birthday and a start date, so that opening the holder window finds
// nothing to fill in and measures the listing, not a one-off rewrite of the table.
QString holderStatement(Engine e, int holders)
{
    const QString columns = QStringLiteral(
        "HolderNo, HolderName, ShowText, Birthday, DepartmentNo, TitleNo, TypeNo, Enabled, PIN, "
        "PunchCard, CheckMark, SequenceNo, StartDate, ExpiredDate, Email, Description, "
        "Deposit01");
    const QStringList values{
        padded(e, "H", QStringLiteral("h"), 6),
        QStringLiteral("'Holder name ' || ") + text(e, QStringLiteral("h")),
        QStringLiteral("'HN' || ") + text(e, QStringLiteral("h")),
        midnight(e,
                 QStringLiteral("1960 + h % 40"),
                 QStringLiteral("1 + h % 12"),
                 QStringLiteral("1 + h % 28")),
        padded(e, "D", QStringLiteral("h % %1").arg(kDepartments), 3),
        QStringLiteral("'T' || ") + text(e, QStringLiteral("h % 10")),
        QStringLiteral("'Y' || ") + text(e, QStringLiteral("h % 5")),
        QStringLiteral("1"),
        padded(e, "", QStringLiteral("h % 10000"), 4),
        QStringLiteral("1"),
        QStringLiteral("1"),
        QStringLiteral("h + 1"),
        midnight(
            e, QStringLiteral("2020 + h % 5"), QStringLiteral("1 + h % 12"), QStringLiteral("1")),
        QStringLiteral("CASE WHEN h % 4 = 0 THEN %1 END").arg(literalDate(e, "2030-12-31")),
        QStringLiteral("'holder' || ") + text(e, QStringLiteral("h"))
            + QStringLiteral(" || '@example.com'"),
        QStringLiteral("CASE WHEN h % 3 = 0 THEN 'Visitor badge' END"),
        QStringLiteral("CASE WHEN h % 2 = 0 THEN %1 END").arg(literalDate(e, "2024-06-01")),
    };
    return withNumbers(e, holders)
           + QStringLiteral("INSERT INTO HolderData (%1) SELECT %2 FROM %3")
                 .arg(columns, values.join(QStringLiteral(", ")), numbers(e, holders));
}

// Two cards per holder, numbered 1,000,000 + 2h and the next: card i is holder i / 2's.
QString cardStatement(Engine e, int holders)
{
    return withNumbers(e, 2 * holders)
           + QStringLiteral("INSERT INTO CardData (CardNo, HolderNo, CardFlag) SELECT "
                            "1000000 + h, %1, 1 FROM %2")
                 .arg(padded(e, "H", QStringLiteral("h / 2"), 6), numbers(e, 2 * holders));
}

// A few holders read back against holderNo() and departmentNo(), which the benchmarks use to
// find them: the statements above and those functions must write the same numbers.
bool checkHolders(Connection &c, int holders, QString &error)
{
    QSqlQuery q(c.database());
    q.prepare(QStringLiteral("SELECT DepartmentNo, SequenceNo FROM HolderData WHERE HolderNo = ?"));
    for (const int h : {0, 1, holders / 2, holders - 1}) {
        if (h < 0 || h >= holders)
            continue;
        q.addBindValue(holderNo(h));
        if (!run(q, error))
            return false;
        if (!q.next() || q.value(0).toString() != departmentNo(h % kDepartments)
            || q.value(1).toInt() != h + 1) {
            error = QStringLiteral("generated holder %1 is not %2 of department %3")
                        .arg(h)
                        .arg(holderNo(h), departmentNo(h % kDepartments));
            return false;
        }
    }
    return true;
}

bool smallTables(Connection &connection, QString &error)
{
    QSqlQuery q(connection.database());
    q.prepare(
        "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES (?, ?, ?)");
    for (int d = 0; d < kDepartments; ++d) {
        q.addBindValue(departmentNo(d));
        q.addBindValue(QStringLiteral("Department %1").arg(d));
        q.addBindValue(d < 10 ? QString() : departmentNo(d % 10));
        if (!run(q, error))
            return false;
    }
    q.prepare("INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES (?, ?)");
    for (int t = 0; t < 10; ++t) {
        q.addBindValue(QStringLiteral("T%1").arg(t));
        q.addBindValue(QStringLiteral("Title %1").arg(t));
        if (!run(q, error))
            return false;
    }
    q.prepare("INSERT INTO OccupationType (TypeNo, TypeName) VALUES (?, ?)");
    for (int t = 0; t < 5; ++t) {
        q.addBindValue(QStringLiteral("Y%1").arg(t));
        q.addBindValue(QStringLiteral("Type %1").arg(t));
        if (!run(q, error))
            return false;
    }
    q.prepare("INSERT INTO DeviceUnit (DeviceNo, DeviceName, DeviceEnabled) VALUES (?, ?, 1)");
    for (int d = 1; d <= 20; ++d) {
        q.addBindValue(d);
        q.addBindValue(QStringLiteral("Door %1").arg(d));
        if (!run(q, error))
            return false;
    }
    q.prepare("INSERT INTO UserData (UserID, UserName, Supervisor) VALUES (?, ?, ?)");
    for (const auto &[user, supervisor] :
         {std::pair{kSupervisorUser, 1}, std::pair{kOperatorUser, 0}}) {
        q.addBindValue(QString::fromLatin1(user));
        q.addBindValue(QString::fromLatin1(user));
        q.addBindValue(supervisor);
        if (!run(q, error))
            return false;
    }
    q.prepare("INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES (?, ?)");
    for (int d = 0; d < kDepartments; ++d) {
        const bool operatorToo = d % 2 == 0;
        for (const char *user : {kSupervisorUser, kOperatorUser}) {
            if (user == kOperatorUser && !operatorToo)
                continue;
            q.addBindValue(QString::fromLatin1(user));
            q.addBindValue(departmentNo(d));
            if (!run(q, error))
                return false;
        }
    }
    return true;
}

} // namespace

QString departmentNo(int index)
{
    return QStringLiteral("D%1").arg(index, 3, 10, QLatin1Char('0'));
}

QString holderNo(int index)
{
    return QStringLiteral("H%1").arg(index, 6, 10, QLatin1Char('0'));
}

bool generateSite(zq::data::Connection &connection, int holders, QString &error)
{
    QStringList others;
    for (const zq::data::TableDef &t : zq::data::siteTables())
        if (!kBulkTables.contains(QLatin1String(t.name)))
            others << QString::fromLatin1(t.name);
    if (!zq::data::createSchema(connection, others))
        return fail(connection, error);
    const Engine engine = connection.engine();
    QStringList indexes;
    if (!connection.begin())
        return fail(connection, error);
    for (const QString &table : kBulkTables) {
        const QStringList ddl = zq::data::createStatements(*zq::data::findTable(table), engine);
        if (!connection.execute(ddl.first()))
            return fail(connection, error);
        indexes << ddl.mid(1);
    }
    if (!smallTables(connection, error))
        return fail(connection, error);
    if (holders > 0
        && (!connection.execute(holderStatement(engine, holders))
            || !connection.execute(cardStatement(engine, holders))))
        return fail(connection, error);
    for (const QString &sql : std::as_const(indexes))
        if (!connection.execute(sql))
            return fail(connection, error);
    if (!checkHolders(connection, holders, error))
        return fail(connection, error);
    if (!connection.commit())
        return fail(connection, error);
    // Fresh statistics, as a site that has been in use for a while would have them; on
    // PostgreSQL also its rows frozen and hint bits set, which the first reader of freshly
    // loaded rows would otherwise do (and write every page back) inside a measurement.
    return connection.execute(engine == Engine::PostgreSQL
                                  ? QStringLiteral("VACUUM (FREEZE, ANALYZE)")
                                  : QStringLiteral("ANALYZE"))
           || fail(connection, error);
}

} // namespace zq::bench
