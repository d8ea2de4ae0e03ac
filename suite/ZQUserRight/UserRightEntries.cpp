#include "AuditEntries.h"
#include "EntryGuard.h"
#include "ServiceAbi.h"
#include "SuiteContext.h"
#include "UserRights.h"

#include "Connection.h"

using namespace zq::suite;

namespace {

zq::data::Connection *liveConnection()
{
    zq::data::Connection *connection = host().connection;
    return connection && connection->isConnected() ? connection : nullptr;
}

} // namespace

extern "C" {

ZQ_SERVICE_EXPORT int32_t ZQSuiteInit(const ZQSuiteContext *context)
{
    return guarded("ZQSuiteInit", 0, [&] { return storeHostContext(context); });
}

ZQ_SERVICE_EXPORT int32_t GetProgramRight(const char *rightKey)
{
    return guarded("GetProgramRight", 0, [&] {
        zq::data::Connection *connection = liveConnection();
        if (!connection || host().loginUserId.isEmpty())
            return 0;
        return programRight(*connection, host().loginUserId, fromC(rightKey));
    });
}

ZQ_SERVICE_EXPORT const char *GetLoginUserID(void)
{
    static QByteArray text;
    return guarded("GetLoginUserID", "", [] { return keepText(text, host().loginUserId); });
}

ZQ_SERVICE_EXPORT void AddProgramRunEdit(const char *rightKey, const char *entry)
{
    guardedVoid("AddProgramRunEdit", [&] {
        zq::data::Connection *connection = liveConnection();
        if (!connection)
            return;
        if (!recordAuditEntry(*connection, host().loginUserId, fromC(rightKey), fromC(entry)))
            qWarning("AddProgramRunEdit: the audit entry was refused");
    });
}

} // extern "C"
