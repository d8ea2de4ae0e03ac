#include "WriteFailure.h"

#include "Connection.h"
#include "Services.h"

namespace zq::forms {

namespace svc = zq::services;

namespace {

// An SQLite result code (any extended form) or a PostgreSQL SQLSTATE among the errors.
bool hasCode(const zq::data::Connection *connection, int sqliteCode, const char *sqlState)
{
    if (!connection)
        return false;
    const bool sqlite = connection->engine() == zq::data::Engine::SQLite;
    for (const zq::data::DbErrorItem &e : connection->errors()) {
        bool ok = false;
        const int code = e.sqlState.toInt(&ok);
        if (sqlite ? ok && (code & 0xff) == sqliteCode : e.sqlState == QLatin1String(sqlState))
            return true;
    }
    return false;
}

QString messageKey(WriteFailure kind)
{
    switch (kind) {
    case WriteFailure::Conflict:
        return QStringLiteral("RecordChangedElsewhere");
    case WriteFailure::LinkLost:
        return QStringLiteral("LinkLost");
    case WriteFailure::DiskFull:
        return QStringLiteral("DiskFull");
    case WriteFailure::Busy:
        return QStringLiteral("DatabaseBusy");
    case WriteFailure::Other:
        break;
    }
    return QString();
}

} // namespace

WriteFailure tellWriteFailure(zq::data::Connection *connection)
{
    WriteFailure kind = WriteFailure::Other;
    if (connection && zq::data::isRowConflict(connection->errors()))
        kind = WriteFailure::Conflict;
    else if (hasCode(connection, 13, "53100")) // full, disk_full
        kind = WriteFailure::DiskFull;
    else if (hasCode(connection, 5, "55P03")) // busy, lock_not_available
        kind = WriteFailure::Busy;
    else if (!connection || !connection->isConnected())
        kind = WriteFailure::LinkLost;
    svc::PlaySoundError();
    if (kind != WriteFailure::Other) {
        svc::SelectLanguage();
        svc::ShowMessageBox(messageKey(kind), QStringLiteral("SystemMessage"), 16);
    }
    return kind;
}

void tellConflict()
{
    svc::PlaySoundError();
    svc::SelectLanguage();
    svc::ShowMessageBox(messageKey(WriteFailure::Conflict), QStringLiteral("SystemMessage"), 16);
}

} // namespace zq::forms
