#pragma once

#include <QLoggingCategory>

namespace zq {

/// The module's own category ("zq.module"): what a window caught and recovered from, where
/// the failure is neither the user's to hear nor to read in a message.
Q_DECLARE_LOGGING_CATEGORY(lcModule)

/// Logs the exception being handled (call it inside a `catch`) with what was being done.
void logCaught(const char *doing);

} // namespace zq
