#include "CardJournal.h"
#include "EntryGuard.h"
#include "ServiceAbi.h"
#include "SuiteContext.h"

#include "Connection.h"

using namespace zq::suite;

extern "C" {

ZQ_SERVICE_EXPORT int32_t ZQSuiteInit(const ZQSuiteContext *context)
{
    return guarded("ZQSuiteInit", 0, [&] { return storeHostContext(context); });
}

ZQ_SERVICE_EXPORT void DeviceCardDelete(int32_t deviceNo, int32_t cardNo)
{
    guardedVoid("DeviceCardDelete", [&] {
        zq::data::Connection *connection = host().connection;
        if (!connection || !connection->isConnected())
            return;
        if (!journalCardDeletion(
                *connection, deviceNo, cardNo, QDateTime::currentDateTime(), host().loginUserId))
            qWarning("DeviceCardDelete: device %d, card %d not journalled", deviceNo, cardNo);
    });
}

} // extern "C"
