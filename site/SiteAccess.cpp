#include "SiteAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>

namespace zq::site {

namespace {

constexpr QFileDevice::Permissions kPrivateFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

bool otherAccess(const QString &path, mode_t &mode)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    mode = st.st_mode & 07777;
    return (mode & (S_IRWXG | S_IRWXO)) != 0;
}

QString quotedForShell(const QString &path)
{
    QString quoted = path;
    quoted.replace(QLatin1String("'"), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

} // namespace

void restrictFileModes()
{
    ::umask(077);
}

QString makePrivateFolder(const QString &folder)
{
    const QString clean = QDir::cleanPath(QDir(folder).absolutePath());
    if (QFileInfo(clean).isDir())
        return QString();
    // Each missing parent is made 0700 too: a folder made for a site holds nothing else.
    QStringList missing;
    QString at = clean;
    while (!at.isEmpty() && !QFileInfo::exists(at) && at != QLatin1String("/")) {
        missing.prepend(at);
        at = QFileInfo(at).path();
    }
    for (const QString &part : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(part).constData(), 0700) != 0 && !QFileInfo(part).isDir())
            return QStringLiteral("cannot create the folder %1: %2")
                .arg(part, QString::fromLocal8Bit(strerror(errno)));
        // mkdir takes the umask off 0700; a umask cannot widen it, but a chmod keeps it exact.
        ::chmod(QFile::encodeName(part).constData(), 0700);
    }
    return QString();
}

bool openPrivate(QFile &file)
{
    return file.open(QIODevice::WriteOnly, kPrivateFile);
}

bool openPrivate(QSaveFile &file)
{
    const bool replaces = QFileInfo::exists(file.fileName());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // QSaveFile gives a new file 0666 less the umask; a replaced file's mode is copied.
    if (!replaces)
        file.setPermissions(kPrivateFile);
    return true;
}

QString ownershipProblem(const QString &path, const QString &what)
{
    struct stat st;
    const QByteArray name = QFile::encodeName(QDir::cleanPath(path));
    if (::lstat(name.constData(), &st) != 0)
        return QString();
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("the %1 %2 is a symbolic link; name the real path instead")
            .arg(what, path);
    const uid_t me = ::geteuid();
    if (me != 0 && st.st_uid != me)
        return QStringLiteral("the %1 %2 belongs to another user (uid %3); use a site of your own")
            .arg(what, path)
            .arg(st.st_uid);
    return QString();
}

QString accessWarning(const QString &folder, const QString &databaseFile)
{
    QStringList open;
    QStringList commands;
    mode_t mode = 0;
    if (!folder.isEmpty() && otherAccess(folder, mode)) {
        open << QStringLiteral("the site folder %1 (mode %2)")
                    .arg(folder)
                    .arg(mode, 4, 8, QLatin1Char('0'));
        commands << QStringLiteral("chmod 700 %1").arg(quotedForShell(folder));
    }
    if (!databaseFile.isEmpty() && otherAccess(databaseFile, mode)) {
        open << QStringLiteral("the site database %1 (mode %2)")
                    .arg(databaseFile)
                    .arg(mode, 4, 8, QLatin1Char('0'));
        commands << QStringLiteral("chmod 600 %1").arg(quotedForShell(databaseFile));
    }
    if (open.isEmpty())
        return QString();
    return QStringLiteral("other users of this machine can read or change %1; it holds names, "
                          "photos and door PINs. Make it yours alone with: %2")
        .arg(open.join(QLatin1String(" and ")), commands.join(QLatin1String(" && ")));
}

} // namespace zq::site
