#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

namespace zq::data {
class Connection;
}

namespace zq::forms {

/// Parallel lists of department numbers (as stored, blanks after them included) and names
/// (trimmed); entry 0 of both is "" (no parent).
struct DepartmentList
{
    QStringList numbers{QString()};
    QStringList names{QString()};
    void clear()
    {
        numbers = {QString()};
        names = {QString()};
    }
};

/// The departments a user may pick as parents: every department for a supervisor, else
/// those of his UserRightDept rows. Errors leave the list with what was read.
DepartmentList loadParentCandidates(zq::data::Connection *connection,
                                    bool supervisor,
                                    const QString &userId);

/// Removes `number` and every department below it from `list`. The walk visits each
/// department once, so a cycle written into UnderNo by other means cannot make it run on.
void removeSubtree(zq::data::Connection *connection, const QString &number, DepartmentList &list);

/// True when `ancestor` is `number` itself or lies above it on its UnderNo chain.
bool isAncestorOrSelf(zq::data::Connection *connection,
                      const QString &ancestor,
                      const QString &number);

/// Where `number` stands in `numbers`: the number as stored, else the first one that reads
/// the same without blanks after it (a reference written trimmed); -1 when none.
qsizetype indexOfNumber(const QStringList &numbers, const QString &number);

} // namespace zq::forms
