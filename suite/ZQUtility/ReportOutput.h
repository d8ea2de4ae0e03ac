#pragma once

#include "TableReport.h"

#include <optional>

namespace zq::data {
class Connection;
}

namespace zq::suite {

/// The rows of `statement` as a table titled `title`; nothing when the statement fails.
std::optional<ReportTable> readReportTable(zq::data::Connection &connection,
                                           const QString &statement,
                                           const QString &title);

/// Writes `table` to a new "<baseName>-<n>.pdf" in `folder` (the first n from 1 on that
/// names no file yet). Returns the file written, "" when none could be.
QString writeReportPdf(const ReportTable &table, const QString &folder, const QString &baseName);

/// Shows `table` in a print preview window until the user closes it.
void previewReport(const ReportTable &table);

} // namespace zq::suite
