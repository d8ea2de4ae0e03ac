#include "SiteGenerator.h"

#include "Connection.h"
#include "Schema.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace zq::bench {

namespace {
bool run(QSqlQuery &q, QString &error)
{
    if (q.exec())
        return true;
    error = q.lastError().text();
    return false;
}

QString dateText(int year, int month, int day)
{
    return QStringLiteral("%1-%2-%3 00:00:00")
        .arg(year, 4, 10, QLatin1Char('0'))
        .arg(month, 2, 10, QLatin1Char('0'))
        .arg(day, 2, 10, QLatin1Char('0'));
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
    if (!zq::data::createSchema(connection)) {
        error = connection.errors().value(0).text;
        return false;
    }
    connection.begin();
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
    // Every holder has a birthday and a start date, so that opening the holder window finds
    // nothing to fill in and measures the listing, not a one-off rewrite of the table.
    q.prepare("INSERT INTO HolderData (HolderNo, HolderName, ShowText, Birthday, DepartmentNo, "
              "TitleNo, TypeNo, Enabled, PIN, PunchCard, CheckMark, SequenceNo, StartDate, "
              "ExpiredDate, Email, Description, Deposit01) "
              "VALUES (?, ?, ?, ?, ?, ?, ?, 1, ?, 1, 1, ?, ?, ?, ?, ?, ?)");
    QSqlQuery card(connection.database());
    card.prepare("INSERT INTO CardData (CardNo, HolderNo, CardFlag) VALUES (?, ?, 1)");
    for (int h = 0; h < holders; ++h) {
        const QString no = holderNo(h);
        q.addBindValue(no);
        q.addBindValue(QStringLiteral("Holder name %1").arg(h));
        q.addBindValue(QStringLiteral("HN%1").arg(h));
        q.addBindValue(dateText(1960 + h % 40, 1 + h % 12, 1 + h % 28));
        q.addBindValue(departmentNo(h % kDepartments));
        q.addBindValue(QStringLiteral("T%1").arg(h % 10));
        q.addBindValue(QStringLiteral("Y%1").arg(h % 5));
        q.addBindValue(QStringLiteral("%1").arg(h % 10000, 4, 10, QLatin1Char('0')));
        q.addBindValue(h + 1);
        q.addBindValue(dateText(2020 + h % 5, 1 + h % 12, 1));
        q.addBindValue(h % 4 == 0 ? QVariant(dateText(2030, 12, 31)) : QVariant());
        q.addBindValue(QStringLiteral("holder%1@example.com").arg(h));
        q.addBindValue(h % 3 == 0 ? QVariant(QStringLiteral("Visitor badge")) : QVariant());
        q.addBindValue(h % 2 == 0 ? QVariant(dateText(2024, 6, 1)) : QVariant());
        if (!run(q, error))
            return false;
        for (int c = 0; c < 2; ++c) {
            card.addBindValue(1000000 + 2 * h + c);
            card.addBindValue(no);
            if (!run(card, error))
                return false;
        }
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
    if (!connection.commit())
        return false;
    // Fresh statistics, as a site that has been in use for a while would have them.
    QSqlQuery analyze(connection.database());
    analyze.exec(QStringLiteral("ANALYZE"));
    return true;
}

} // namespace zq::bench
