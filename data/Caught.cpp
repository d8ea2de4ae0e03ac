#include "Caught.h"

#include <exception>

namespace zq::data {

Q_LOGGING_CATEGORY(lcData, "zq.data")

void logCaught(const QLoggingCategory &category, const char *where)
{
    try {
        throw;
    } catch (const std::exception &error) {
        qCWarning(category, "%s: %s", where, error.what());
    } catch (...) {
        qCWarning(category, "%s: an exception that is no std::exception", where);
    }
}

} // namespace zq::data
