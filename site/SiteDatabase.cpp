#include "SiteDatabase.h"

#include "Connection.h"
#include "Conninfo.h"
#include "SiteAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <fcntl.h>
#include <unistd.h>

namespace zq::site {

namespace {

// A write probe: the permission bits say nothing to root or about a read-only mount.
QString unwritable(const QString &folder)
{
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".zqsite-XXXXXX")));
    return probe.open() ? QString() : probe.errorString();
}

QString sqliteProblem(const QString &file, bool create)
{
    const QFileInfo info(file);
    QString why = ownershipProblem(file, QStringLiteral("site database"));
    if (!why.isEmpty())
        return why;
    if (info.exists()) {
        if (!info.isFile())
            return QStringLiteral("the site database %1 is not a file").arg(file);
        return QString();
    }
    if (!create)
        return QStringLiteral("there is no site database %1 (zqsite init makes one)").arg(file);
    const QString folder = info.absolutePath();
    if (!QFileInfo(folder).isDir())
        return QStringLiteral("the folder %1 does not exist").arg(folder);
    why = unwritable(folder);
    if (!why.isEmpty())
        return QStringLiteral("the folder %1 cannot be written (%2)").arg(folder, why);
    return QString();
}

} // namespace

QString SiteAddress::shown() const
{
    return isPostgres() ? QStringLiteral("PostgreSQL \"%1\"").arg(shownConninfo(conninfo))
                        : sqliteFile;
}

QString defaultSiteFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/ZQHolder/");
}

bool resolveSite(const QString &dbFile,
                 const QString &conninfo,
                 const QString &conninfoFile,
                 SiteAddress &site,
                 QString &error)
{
    const int named = int(!dbFile.isEmpty()) + int(!conninfo.isEmpty())
                      + int(!conninfoFile.isEmpty());
    if (named > 1) {
        error = QStringLiteral("--db, --pg and --pg-file exclude each other");
        return false;
    }
    site = SiteAddress{};
    if (!dbFile.isEmpty())
        site.sqliteFile = QFileInfo(dbFile).absoluteFilePath();
    else if (!conninfo.isEmpty())
        site.conninfo = conninfo;
    else if (!conninfoFile.isEmpty())
        return readConninfoFile(conninfoFile, site.conninfo, error);
    else if (!qEnvironmentVariableIsEmpty(kConninfoVariable))
        site.conninfo = qEnvironmentVariable(kConninfoVariable);
    else
        site.sqliteFile = defaultSiteFolder() + QStringLiteral("ZQSite.db");
    return true;
}

bool openSiteDatabase(zq::data::Connection &connection,
                      const SiteAddress &site,
                      bool create,
                      bool &created,
                      QString &why)
{
    created = false;
    if (site.isPostgres()) {
        connection.setPostgres(site.conninfo);
        if (connection.open())
            return true;
        why = QStringLiteral("cannot open the site database (%1): %2")
                  .arg(site.shown(),
                       withoutPassword(connection.errors().value(0).text.trimmed(), site.conninfo));
        return false;
    }
    why = sqliteProblem(site.sqliteFile, create);
    if (!why.isEmpty())
        return false;
    const QByteArray name = QFile::encodeName(site.sqliteFile);
    if (!QFileInfo::exists(site.sqliteFile)) {
        // Made here, 0600 and never through a link, so that SQLite opens (and copies the mode
        // of to its journals) a file that is the user's alone.
        const int fd = ::open(
            name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            why = QStringLiteral("cannot create the site database %1: %2")
                      .arg(site.sqliteFile, QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        ::close(fd);
        created = true;
    }
    connection.setSQLiteFile(site.sqliteFile);
    if (connection.open())
        return true;
    why = QStringLiteral("cannot open the site database %1: %2")
              .arg(site.sqliteFile, connection.errors().value(0).text.trimmed());
    if (created)
        QFile::remove(site.sqliteFile);
    created = false;
    return false;
}

} // namespace zq::site
