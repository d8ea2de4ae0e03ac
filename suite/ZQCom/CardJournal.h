#pragma once

#include <QDateTime>
#include <QString>

namespace zq::data {
class Connection;
}

namespace zq::suite {

/// Records in DeviceCardJournal that `cardNo` was taken off device `deviceNo` at `when` by
/// `userId`. The devices pick their deletions up from there, so the row has to be written
/// before the call returns. False when the database refused it.
bool journalCardDeletion(zq::data::Connection &connection,
                         int deviceNo,
                         qint64 cardNo,
                         const QDateTime &when,
                         const QString &userId);

} // namespace zq::suite
