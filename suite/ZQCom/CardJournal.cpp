#include "CardJournal.h"

#include "Connection.h"

namespace zq::suite {

using zq::data::Connection;

bool journalCardDeletion(Connection &connection,
                         int deviceNo,
                         qint64 cardNo,
                         const QDateTime &when,
                         const QString &userId)
{
    const QString sql = QStringLiteral("INSERT INTO DeviceCardJournal (DeviceNo, CardNo, DeletedAt,"
                                       " UserID) VALUES (%1, %2, %3, %4)")
                            .arg(QString::number(deviceNo),
                                 QString::number(cardNo),
                                 Connection::quoted(Connection::dateTimeText(when)),
                                 Connection::quoted(userId));
    return connection.execute(sql);
}

} // namespace zq::suite
