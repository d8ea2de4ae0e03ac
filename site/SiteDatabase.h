#pragma once

#include <QString>

namespace zq::data {
class Connection;
}

namespace zq::site {

/// Where a site's database is: an SQLite file or a PostgreSQL conninfo.
struct SiteAddress
{
    QString sqliteFile;
    QString conninfo;
    bool isPostgres() const { return !conninfo.isEmpty(); }
    /// For messages: the file, or the conninfo without its password.
    QString shown() const;
};

/// The user's own site folder, ending with '/': ~/.local/share/ZQHolder/.
QString defaultSiteFolder();

/// The site a program's command line names: `--db FILE`, `--pg CONNINFO` or `--pg-file FILE`
/// (at most one), else the conninfo of the environment variable ZQ_PG_CONNINFO, else the
/// user's own SQLite site. False with `error` when the options conflict or the file cannot
/// be read.
bool resolveSite(const QString &dbFile,
                 const QString &conninfo,
                 const QString &conninfoFile,
                 SiteAddress &site,
                 QString &error);

/// Opens the site database. An SQLite file must exist unless `create` is set; then a new
/// file is made 0600 in a folder that must exist and be writable (`created` tells). A file
/// that is a symbolic link, or another user's, is refused. False with `why` (a sentence
/// without any password) when it cannot be opened; a file made here is removed again.
bool openSiteDatabase(zq::data::Connection &connection,
                      const SiteAddress &site,
                      bool create,
                      bool &created,
                      QString &why);

} // namespace zq::site
