#pragma once

#include <QLoggingCategory>

namespace zq::transfer {
/// What the import and export catch and cannot tell the user otherwise ("zq.transfer").
Q_DECLARE_LOGGING_CATEGORY(lcTransfer)
} // namespace zq::transfer
