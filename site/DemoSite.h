#pragma once

#include <QString>

namespace zq::data {
class Connection;
}

/// Writes the rows of the demo site below into the open transaction of `connection`;
/// throws `zq::data::DbError` on the first statement that fails (the caller rolls back).
void fillDemoSite(zq::data::Connection &connection);

/// Fills a new site database with a small demo site: departments in a hierarchy, titles,
/// types, card pictures, about 50 holders with photos and cards, devices, and the users
/// "admin" (supervisor) and "operator" (two departments, limited rights). One transaction.
bool createDemoSite(zq::data::Connection &connection, QString &error);
