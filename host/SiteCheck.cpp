#include "SiteCheck.h"

#include "Connection.h"
#include "Conninfo.h"
#include "HostOptions.h"
#include "SiteAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

namespace {

// A write probe: the permission bits say nothing to root or about a read-only mount.
QString unwritable(const QString &folder)
{
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".zqhost-XXXXXX")));
    if (probe.open())
        return QString();
    return probe.errorString();
}

QString sqliteProblem(const QString &file)
{
    const QFileInfo info(file);
    const QString owner = zq::site::ownershipProblem(file, QStringLiteral("site database"));
    if (!owner.isEmpty())
        return QStringLiteral("cannot open the site database: ") + owner;
    if (!info.exists()) {
        const QString folder = info.absolutePath();
        if (!QFileInfo(folder).isDir())
            return QStringLiteral("cannot open the site database %1: the folder %2 does not exist")
                .arg(file, folder);
        const QString why = unwritable(folder);
        return why.isEmpty() ? QString()
                             : QStringLiteral("cannot open the site database %1: it cannot be "
                                              "created (%2)")
                                   .arg(file, why);
    }
    if (info.isDir())
        return QStringLiteral("cannot open the site database %1: it is a folder").arg(file);
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read the site database %1: %2").arg(file, f.errorString());
    // An empty file is a new database to SQLite; anything else starts with its header.
    const QByteArray head = f.read(16);
    if (!head.isEmpty() && head != QByteArray("SQLite format 3\0", 16))
        return QStringLiteral("cannot open the site database %1: it is not an SQLite database")
            .arg(file);
    return QString();
}

} // namespace

QString siteProblem(const HostOptions &options)
{
    QString why = zq::site::ownershipProblem(options.home, QStringLiteral("site folder"));
    if (why.isEmpty())
        why = zq::site::makePrivateFolder(options.home);
    if (!why.isEmpty())
        return why;
    why = unwritable(options.home);
    if (!why.isEmpty())
        return QStringLiteral("the site folder %1 cannot be written (%2); the module keeps its "
                              "settings and pictures there")
            .arg(options.home, why);
    if (options.pgConnInfo.isEmpty())
        return sqliteProblem(options.dbFile);
    zq::data::Connection probe;
    probe.setPostgres(options.pgConnInfo);
    if (!probe.open())
        return QStringLiteral("cannot open the site database (PostgreSQL, %1): %2")
            .arg(zq::site::shownConninfo(options.pgConnInfo),
                 zq::site::withoutPassword(probe.errors().value(0).text.trimmed(),
                                           options.pgConnInfo));
    probe.close();
    return QString();
}
