#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcHolder)

namespace zq::forms::holder {

/// Logs the failure being handled (call inside a catch block) under "zq.forms.holder":
/// what a step of the window swallows to go on with the next is still on record.
void logCaught(const char *where);

} // namespace zq::forms::holder
