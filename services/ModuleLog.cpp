#include "ModuleLog.h"

#include <exception>

namespace zq {

Q_LOGGING_CATEGORY(lcModule, "zq.module")

void logCaught(const char *doing)
{
    try {
        throw;
    } catch (const std::exception &e) {
        qCWarning(lcModule, "%s: %s", doing, e.what());
    } catch (...) {
        qCWarning(lcModule, "%s: an exception of unknown type", doing);
    }
}

} // namespace zq
