#pragma once

#include <QString>

namespace zq::data {
class Connection;
}

namespace zq::bench {

/// The users the generator creates: a supervisor, and an operator with the rights to the
/// even-numbered half of the departments.
inline constexpr const char *kSupervisorUser = "admin";
inline constexpr const char *kOperatorUser = "operator";
inline constexpr int kDepartments = 100;

/// Fills an empty site database (schema created here) with `holders` holders spread over
/// 100 departments, 10 titles and 5 types, two cards each, 20 enabled devices, and the
/// users above with their department rights. The holders and cards are made by the engine
/// itself in one statement each, their secondary indexes built afterwards: a million holders
/// take seconds.
bool generateSite(zq::data::Connection &connection, int holders, QString &error);

/// The number of department `index` (0-based), as the generator writes it.
QString departmentNo(int index);
/// The number of holder `index` (0-based), as the generator writes it.
QString holderNo(int index);

} // namespace zq::bench
