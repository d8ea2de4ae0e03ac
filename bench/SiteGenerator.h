#pragma once

#include <QString>

namespace zq::data {
class Connection;
}

namespace zq::bench {

/// Fills an empty site database (schema created here) with `holders` holders spread over
/// 50 departments, 10 titles and 5 types, one card each, and 20 enabled devices.
bool generateSite(zq::data::Connection &connection, int holders, QString &error);

} // namespace zq::bench
