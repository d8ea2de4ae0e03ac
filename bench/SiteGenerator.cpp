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
} // namespace

bool generateSite(zq::data::Connection &connection, int holders, QString &error)
{
    if (!zq::data::createSchema(connection)) {
        error = connection.errors().value(0).text;
        return false;
    }
    connection.begin();
    QSqlQuery q(connection.database());
    q.prepare("INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES (?, ?, ?)");
    for (int d = 0; d < 50; ++d) {
        q.addBindValue(QStringLiteral("D%1").arg(d, 3, 10, QLatin1Char('0')));
        q.addBindValue(QStringLiteral("Department %1").arg(d));
        q.addBindValue(d < 5 ? QString() : QStringLiteral("D%1").arg(d % 5, 3, 10, QLatin1Char('0')));
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
    q.prepare("INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, TitleNo, TypeNo, "
              "Enabled, PunchCard, CheckMark, SequenceNo, StartDate, Email) "
              "VALUES (?, ?, ?, ?, ?, 1, 1, 1, ?, '2025-01-01 00:00:00', ?)");
    QSqlQuery card(connection.database());
    card.prepare("INSERT INTO CardData (CardNo, HolderNo, CardFlag) VALUES (?, ?, 1)");
    for (int h = 0; h < holders; ++h) {
        const QString no = QStringLiteral("H%1").arg(h, 6, 10, QLatin1Char('0'));
        q.addBindValue(no);
        q.addBindValue(QStringLiteral("Holder name %1").arg(h));
        q.addBindValue(QStringLiteral("D%1").arg(h % 50, 3, 10, QLatin1Char('0')));
        q.addBindValue(QStringLiteral("T%1").arg(h % 10));
        q.addBindValue(QStringLiteral("Y%1").arg(h % 5));
        q.addBindValue(h + 1);
        q.addBindValue(QStringLiteral("holder%1@example.com").arg(h));
        if (!run(q, error))
            return false;
        card.addBindValue(1000000 + h);
        card.addBindValue(no);
        if (!run(card, error))
            return false;
    }
    q.prepare("INSERT INTO DeviceUnit (DeviceNo, DeviceName, DeviceEnabled) VALUES (?, ?, 1)");
    for (int d = 1; d <= 20; ++d) {
        q.addBindValue(d);
        q.addBindValue(QStringLiteral("Door %1").arg(d));
        if (!run(q, error))
            return false;
    }
    return connection.commit();
}

} // namespace zq::bench
