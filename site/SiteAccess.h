#pragma once

#include <QString>

class QSaveFile;
class QFile;

/// A site holds personal data (names, birthdays, photos, door PINs): its folder is the owner's
/// alone (0700) and so is every file the programs write there or where a user points them
/// (0600), whatever the user's umask.
namespace zq::site {

/// Makes the process create folders 0700 and files 0600 from now on (umask 077), for the
/// files written through libraries that take the umask (SQLite's journals, settings files).
void restrictFileModes();

/// Creates `folder` (and missing parents) with mode 0700; an existing folder is left as it
/// is. "" on success, else a sentence saying why.
QString makePrivateFolder(const QString &folder);

/// Opens `file` for writing, creating it 0600 when it does not exist; an existing file keeps
/// its mode.
bool openPrivate(QFile &file);
/// The same for a file written whole through a temporary file: a new file is 0600, a
/// replaced one keeps the mode of the file it replaces.
bool openPrivate(QSaveFile &file);

/// Why a site folder or database path must not be used: a symbolic link (which could point
/// into another user's folder, or be swapped for one), or a file or folder owned by another
/// user (root may use any). "" when neither holds or the path does not exist.
QString ownershipProblem(const QString &path, const QString &what);

/// The warning for a site whose folder or database other users may read or write, with the
/// command that makes it private; "" when both are private (or do not exist).
QString accessWarning(const QString &folder, const QString &databaseFile);

} // namespace zq::site
