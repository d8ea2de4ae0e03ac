#pragma once

#include "zqdata_export.h"

#include <QLoggingCategory>

namespace zq::data {

/// The data layer's log ("zq.data").
ZQDATA_EXPORT const QLoggingCategory &lcData();

/// Logs the exception being handled (call it inside a `catch`) under `category`: its
/// message where it has one. A handler that goes on after a failure says what it dropped.
ZQDATA_EXPORT void logCaught(const QLoggingCategory &category, const char *where);

} // namespace zq::data
