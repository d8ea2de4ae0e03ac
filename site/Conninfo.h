#pragma once

#include <QString>

/// PostgreSQL connection texts as the programs take them. A password belongs in a password
/// file (PGPASSFILE, ~/.pgpass) or a service file (`service=NAME`), where libpq finds it;
/// a conninfo that carries one anyway is never shown.
namespace zq::site {

/// The environment variable the programs read a conninfo from when the command line names
/// no site database (keeps it out of `ps`).
inline constexpr const char *kConninfoVariable = "ZQ_PG_CONNINFO";

/// `conninfo` with the value of every password key replaced by "***", for messages and
/// logs. Keys are matched as libpq does (any case, blanks around '=', quoted values).
QString shownConninfo(const QString &conninfo);

/// `text` (an error message) with every occurrence of the password of `conninfo` replaced by
/// "***": a driver's message may quote what it was given.
QString withoutPassword(const QString &text, const QString &conninfo);

/// Reads a conninfo from the first non-empty, non-comment line of `file`. False with `error`
/// when it cannot be read or holds none.
bool readConninfoFile(const QString &file, QString &conninfo, QString &error);

} // namespace zq::site
