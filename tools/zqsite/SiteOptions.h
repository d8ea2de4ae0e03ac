#pragma once

#include <QString>
#include <QStringList>

/// The command line of zqsite.
struct SiteOptions
{
    enum class Command { Init, AddUser, Grant, Check };
    Command command = Command::Check;
    QString dbFile;
    QString conninfo;
    QString conninfoFile;
    // init
    bool demo = false;
    bool force = false;
    QString supervisor = QStringLiteral("admin");
    // add-user, grant, check
    QString user;
    QString name;
    bool makeSupervisor = false;
    bool importRight = false;
    bool exportRight = false;
    QStringList departments;
    QStringList rights; ///< KEY=BITS
};

enum class SiteParse { Run, Asked, Error };

/// Parses `arguments` (the program name first); `text` holds the help or version text, or
/// the error in one line.
SiteParse parseSiteOptions(const QStringList &arguments, SiteOptions &options, QString &text);
