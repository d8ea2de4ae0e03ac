#pragma once

#include <QString>
#include <QStringList>

struct HostOptions
{
    QString home;       // site folder, ends with '/'
    QString dbFile;     // SQLite file (default: home + "ZQSite.db")
    QString pgConnInfo; // PostgreSQL instead of SQLite when set
    QString user = QStringLiteral("admin");
    QString language = QStringLiteral("en");
    QStringList open;  // department, title, type, holder, report, transfer
    QStringList click; // buttons of the active window to click, by object name
    QString reportDir;
    QString screenshot;
    QString waitFor; // the clicks wait until this file exists (scripts of two hosts)
};

/// Reads the command line; on a usage error prints it and returns false.
bool parseHostOptions(const QStringList &arguments, HostOptions &options, QString &error);
