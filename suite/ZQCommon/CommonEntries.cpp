#include "EntryGuard.h"
#include "Feedback.h"
#include "ServiceAbi.h"
#include "SuiteContext.h"

using namespace zq::suite;

extern "C" {

ZQ_SERVICE_EXPORT int32_t ZQSuiteInit(const ZQSuiteContext *context)
{
    return guarded("ZQSuiteInit", 0, [&] { return storeHostContext(context); });
}

ZQ_SERVICE_EXPORT void PlaySoundOpen(void)
{
    guardedVoid("PlaySoundOpen", [] { playFeedback(Feedback::Open); });
}

ZQ_SERVICE_EXPORT void PlaySoundClose(void)
{
    guardedVoid("PlaySoundClose", [] { playFeedback(Feedback::Close); });
}

ZQ_SERVICE_EXPORT void PlaySoundOk(void)
{
    guardedVoid("PlaySoundOk", [] { playFeedback(Feedback::Ok); });
}

ZQ_SERVICE_EXPORT void PlaySoundError(void)
{
    guardedVoid("PlaySoundError", [] { playFeedback(Feedback::Error); });
}

ZQ_SERVICE_EXPORT void PlaySoundQuestion(void)
{
    guardedVoid("PlaySoundQuestion", [] { playFeedback(Feedback::Question); });
}

ZQ_SERVICE_EXPORT void PlaySoundClick(void)
{
    guardedVoid("PlaySoundClick", [] { playFeedback(Feedback::Click); });
}

ZQ_SERVICE_EXPORT const char *GetProgramPath(void)
{
    static QByteArray text;
    return guarded("GetProgramPath", "", [] { return keepText(text, host().siteFolder); });
}

} // extern "C"
