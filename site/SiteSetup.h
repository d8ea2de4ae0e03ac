#pragma once

#include <QString>
#include <QStringList>

namespace zq::data {
class Connection;
}

/// Making and checking a site without a display: the schema, its first user, the users and
/// rights of a site, and a report of what a site holds. Used by zqsite and by the host.
namespace zq::site {

/// The right key whose value the import/export window and zqtransfer read.
inline constexpr const char *kTransferRightKey = "BasicDataHolderB";
/// Its bits: any bit allows an import; add, edit or confirm allow an export.
inline constexpr int kImportRightBit = 0x02;
inline constexpr int kExportRightBit = 0x10;

struct InitOptions
{
    QString supervisor = QStringLiteral("admin");
    bool demo = false;
    /// Drop the site tables that exist before creating them anew.
    bool replace = false;
};

/// True when the database holds any table of a site.
bool holdsSite(zq::data::Connection &connection);

/// Creates the site in one transaction: every table, the supervisor user, and the demo rows
/// when asked. A site that exists is replaced only with `replace`; on any failure nothing is
/// changed. False with `error` saying why.
bool initSite(zq::data::Connection &connection, const InitOptions &options, QString &error);

/// Why `id` cannot be a user ID: empty, longer than the column, blanks, quotes, backslashes
/// or control characters (IDs are typed at a login and put into scripts). "" when it can.
QString userIdProblem(const QString &id);

/// Adds a user; refused when the ID exists or is not a valid ID.
bool addUser(zq::data::Connection &connection,
             const QString &id,
             const QString &name,
             bool supervisor,
             QString &error);

/// Adds `bits` to the user's value of `rightKey`. Refused (nothing changed) when the user
/// does not exist or already holds every bit asked for.
bool grantProgramRight(zq::data::Connection &connection,
                       const QString &id,
                       const QString &rightKey,
                       int bits,
                       QString &error);

/// Lets the user see and change the holders of a department (a `UserRightDept` row).
/// Refused when the user or department does not exist or the row is there already.
bool grantDepartment(zq::data::Connection &connection,
                     const QString &id,
                     const QString &departmentNo,
                     QString &error);

/// What a check of a site found: one line per finding; `problems` counts those that keep
/// the site from working as it should.
struct SiteReport
{
    QStringList lines;
    int problems = 0;
};

/// Checks that every table and column of the schema is present, reports the engine's
/// version and, with a user, what that user may do.
SiteReport checkSite(zq::data::Connection &connection, const QString &userId);

} // namespace zq::site
