#pragma once

#include "DirectorySync.h"

#include <QChar>
#include <QString>
#include <QStringList>

/// The command line of zqtransfer.
struct ToolOptions
{
    enum class Command { Import, Export, SyncLdap };
    Command command = Command::Import;
    QString file;
    QString dbFile;     ///< SQLite site database (the host's default site when neither is given)
    QString pgConnInfo; ///< PostgreSQL site database
    QString user;
    QString language = QStringLiteral("en");
    QString columns = QStringLiteral("123456789ABCD");
    QChar delimiter = u',';
    bool overwrite = false;
    bool dryRun = false;
    bool progress = false;
    bool verbose = false; ///< the database's whole message after the one-line reason
    QString refusals;
    QString department;
    bool punchCardOnly = false;
    SyncOptions sync; ///< sync-ldap
};

/// How parsing ended: options to run with, a text the user asked for (help, version) that
/// goes to stdout, or an error for stderr.
enum class ParseResult { Run, Asked, Error };

/// Parses `arguments` (the program name first). `text` holds the help or version text, or
/// the error in one line.
ParseResult parseToolOptions(const QStringList &arguments, ToolOptions &options, QString &text);

/// Parses the arguments of `zqtransfer sync-ldap` (the program name first).
ParseResult parseSyncOptions(const QStringList &arguments, ToolOptions &options, QString &text);
/// The part of --help that tells sync-ldap.
QString syncHelpText();
