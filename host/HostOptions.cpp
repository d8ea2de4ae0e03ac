#include "HostOptions.h"

#include "SiteDatabase.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

bool parseHostOptions(const QStringList &arguments, HostOptions &options, QString &error)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Host of the card-holder module of an access-control site: keeps card "
                       "holders, departments, occupation titles and types and card pictures "
                       "in an SQLite or PostgreSQL site database. Without options it opens the "
                       "user's own site (a demo site is created on the first start)."));
    p.addHelpOption();
    p.addVersionOption();
    const QCommandLineOption home(QStringLiteral("home"),
                                  QStringLiteral("Site folder (default: ~/.local/share/ZQHolder)."),
                                  QStringLiteral("DIR"));
    const QCommandLineOption db(
        QStringLiteral("db"),
        QStringLiteral("SQLite site database (default: ZQSite.db in the site folder)."),
        QStringLiteral("FILE"));
    const QCommandLineOption pg(QStringLiteral("pg"),
                                QStringLiteral("PostgreSQL site database (libpq key=value; the "
                                               "password in ~/.pgpass or service=NAME). "
                                               "Default: ZQ_PG_CONNINFO when set."),
                                QStringLiteral("CONNINFO"));
    const QCommandLineOption pgFile(QStringLiteral("pg-file"),
                                    QStringLiteral("Read the PostgreSQL conninfo from FILE."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption user(QStringLiteral("user"),
                                  QStringLiteral("Logged-in user."),
                                  QStringLiteral("ID"),
                                  QStringLiteral("admin"));
    const QCommandLineOption lang(QStringLiteral("lang"),
                                  QStringLiteral("en or zh_TW."),
                                  QStringLiteral("LANG"),
                                  QStringLiteral("en"));
    const QCommandLineOption open(
        QStringLiteral("open"),
        QStringLiteral("Open a window at start (department, title, "
                       "type, holder, report, transfer; picture = the card "
                       "pictures, opened from the type window)."),
        QStringLiteral("KIND"));
    const QCommandLineOption reportDir(QStringLiteral("report-dir"),
                                       QStringLiteral("Write reports as PDF files here."),
                                       QStringLiteral("DIR"));
    const QCommandLineOption shot(
        QStringLiteral("screenshot"),
        QStringLiteral("Grab the main window (or the modal window a click "
                       "opened) into FILE.png and quit."),
        QStringLiteral("FILE.png"));
    const QCommandLineOption click(
        QStringLiteral("click"),
        QStringLiteral("Click a button of the active window, by its "
                       "object name (btnEdit, btnLabel, ...; hidden ones "
                       "too), or a menu item of the main window (mnuReconnect), "
                       "or pick item N of a drop-down with the mouse (cmbPicV:N); "
                       "NAME=TEXT types TEXT into that text field; for scripts."),
        QStringLiteral("NAME"));
    const QCommandLineOption waitFor(
        QStringLiteral("wait-for"),
        QStringLiteral("Before the clicks, create FILE.wait once the windows are open and "
                       "wait until FILE exists; for scripts of two workstations."),
        QStringLiteral("FILE"));
    p.addOptions({home, db, pg, pgFile, user, lang, open, click, reportDir, shot, waitFor});
    if (!p.parse(arguments)) {
        error = p.errorText();
        return false;
    }
    if (p.isSet(QStringLiteral("help"))) {
        error = p.helpText();
        return false;
    }
    if (p.isSet(QStringLiteral("version"))) {
        error = QStringLiteral("zqhost ") + QCoreApplication::applicationVersion();
        return false;
    }
    zq::site::SiteAddress site;
    if (!zq::site::resolveSite(p.value(db), p.value(pg), p.value(pgFile), site, error))
        return false;
    QString folder = p.value(home);
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                 + QStringLiteral("/ZQHolder");
    folder = QDir(folder).absolutePath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    options.home = folder;
    options.dbFile = p.isSet(db) ? QDir(p.value(db)).absolutePath()
                                 : folder + QStringLiteral("ZQSite.db");
    options.pgConnInfo = site.conninfo;
    options.user = p.value(user).trimmed();
    options.language = p.value(lang);
    if (options.language != QLatin1String("en") && options.language != QLatin1String("zh_TW")) {
        error = QStringLiteral("--lang must be en or zh_TW");
        return false;
    }
    static const QStringList kinds{QStringLiteral("department"),
                                   QStringLiteral("title"),
                                   QStringLiteral("type"),
                                   QStringLiteral("holder"),
                                   QStringLiteral("report"),
                                   QStringLiteral("transfer"),
                                   QStringLiteral("picture")};
    for (const QString &k : p.values(open)) {
        if (!kinds.contains(k)) {
            error = QStringLiteral("unknown window kind for --open: ") + k;
            return false;
        }
        options.open << k;
    }
    options.click = p.values(click);
    if (p.isSet(reportDir)) {
        options.reportDir = QDir(p.value(reportDir)).absolutePath() + QLatin1Char('/');
    }
    options.screenshot = p.value(shot);
    if (p.isSet(waitFor))
        options.waitFor = QDir(p.value(waitFor)).absolutePath();
    return true;
}
