#pragma once

#include <QString>

namespace zq::forms::print {

/// The user's UserData row (the supervisor test of the holder report).
QString userStatement(const QString &userId);
/// The departments the report offers when the window is created: a supervisor's are all
/// departments, each once; anyone else's those of his UserRightDept rows.
QString reportDepartmentList(bool supervisor, const QString &userId);
/// The departments looked up by name when a one-department report is asked for.
QString reportDepartmentLookup(bool supervisor, const QString &userId);
/// The holder list of every department (`departmentNo` empty) or of one; each holder once
/// for a supervisor, who is limited by no rights rows.
QString holderReport(const QString &departmentNo, bool supervisor, const QString &userId);

/// The card-label statement and the template it is printed with.
struct LabelJob
{
    QString templateFile;
    QString statement;
};

/// Labels of the punch-card holders in `batchList` when `useBatch` and the list is not
/// empty, else of `departmentFilter` ("" = every department). `batchList` must already be
/// a well-formed value list (see isWellFormedBatch).
LabelJob labelJob(bool vertical,
                  bool useBatch,
                  const QString &batchList,
                  const QString &departmentFilter);

} // namespace zq::forms::print
