#pragma once

#include <QString>
#include <QStringList>

namespace zq::forms::batch {

/// The department rights rows of `userId`, by department number.
QString rightsStatement(const QString &userId);
/// The quoted department numbers separated by commas: "'D1','D2'".
QString valueList(const QStringList &numbers);
/// The departments named by the rights rows (`numbers` not empty).
QString departmentsIn(const QStringList &numbers);
/// The punch-card holders of one department.
QString holdersOfDepartment(const QString &departmentNo);
/// The punch-card holders of every department, or of the listed ones when `numbers` is
/// not empty.
QString holdersOfAll(const QStringList &numbers);
/// The punch-card holders of the selected departments (a trailing empty item keeps the
/// list well-formed when it has only one entry).
QString holdersOfSelected(const QStringList &departments);

} // namespace zq::forms::batch
