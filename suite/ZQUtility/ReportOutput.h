#pragma once

#include "ReportEngine.h"

class QIODevice;

namespace zq::suite {

/// One report as ShowReport was asked for it: the layout, its rows and its fixed texts.
struct ReportJob
{
    ReportTemplate layout;
    RowSource rows;
    ReportTexts texts;
    QString title;
};

/// Renders `job` as a PDF into `output`.
ReportResult writeReportPdf(const ReportJob &job, QIODevice &output);

/// Writes `job` to a new "<baseName>-<n>.pdf" in `folder` (the first n from 1 on that names
/// no file yet). Returns the file written, "" when none could be (then no file is left).
QString writeReportPdf(const ReportJob &job, const QString &folder, const QString &baseName);

/// Shows `job` in a print preview window until the user closes it; besides printing, the
/// window saves the report as a PDF file (`saveLabel` names that action).
void previewReport(const ReportJob &job, const QString &saveLabel);

} // namespace zq::suite
