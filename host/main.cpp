// zqhost: opens the site database, loads the suite and the card-holder module, and shows
// the module's windows in its main window.
#include "Connection.h"
#include "DemoSite.h"
#include "HostOptions.h"
#include "HostWindow.h"
#include "Schema.h"
#include "SiteAccess.h"
#include "SiteCheck.h"
#include "SiteDatabase.h"
#include "SuiteLoader.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMdiArea>
#include <QTimer>

#include <cstdio>

using zq::data::Connection;

namespace {

// A data folder of the host: the environment's choice, else the installed one beside the
// binary (<prefix>/bin -> <prefix>/share/zqholder/SUB), else, for a binary that runs from the
// build tree, the source folder. An installed host never reads the build tree's files.
QString folderOf(const char *sub, const char *compiled, const char *envName)
{
    const QString env = qEnvironmentVariable(envName);
    if (!env.isEmpty())
        return QDir(env).absolutePath() + '/';
    const QString appDir = QCoreApplication::applicationDirPath();
    const QDir installed(appDir + QStringLiteral("/../share/zqholder/") + QLatin1String(sub));
    if (installed.exists())
        return installed.absolutePath() + '/';
    if (QDir(appDir) == QDir(QStringLiteral(ZQ_HOST_BUILD_DIR)))
        return QString::fromUtf8(compiled);
    return {};
}

// Without a display Qt aborts when the application object is made; a plain message is kinder.
bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
           || !qEnvironmentVariableIsEmpty("DISPLAY")
           || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

int fail(const QString &message)
{
    std::fprintf(stderr, "zqhost: %s\n", qPrintable(message));
    return 1;
}

// Makes the site folder (0700) and opens or creates the site database, a new one with the
// schema and the demo site. "" or why not; `warning` tells a site other users can read.
QString openSite(const HostOptions &options, Connection &connection, QString &warning)
{
    QString why = zq::site::makePrivateFolder(options.home);
    if (why.isEmpty() && !options.reportDir.isEmpty())
        why = zq::site::makePrivateFolder(options.reportDir);
    if (!why.isEmpty())
        return why;
    zq::site::SiteAddress address;
    address.sqliteFile = options.dbFile;
    address.conninfo = options.pgConnInfo;
    bool created = false;
    if (!zq::site::openSiteDatabase(connection, address, true, created, why))
        return why;
    warning = zq::site::accessWarning(options.home,
                                      address.isPostgres() ? QString() : options.dbFile);
    if (!warning.isEmpty())
        std::fprintf(stderr, "zqhost: warning: %s\n", qPrintable(warning));
    const bool fresh = !connection.hasTable(QStringLiteral("HolderData"));
    if (!zq::data::createSchema(connection))
        return QStringLiteral("cannot create the tables: ") + connection.errors().value(0).text;
    QString error;
    if (fresh && !createDemoSite(connection, error))
        return QStringLiteral("cannot create the demo site: ") + error;
    return QString();
}

// Grabs the main window, or the modal window a click opened, into the --screenshot file once
// the clicks are done, then closes everything. The exit status of the run.
int runScreenshot(QApplication &app, HostWindow &window, const HostOptions &options, int clickGap)
{
    const QString file = QFileInfo(options.screenshot).absoluteFilePath();
    int result = 1;
    QTimer::singleShot(clickGap * int(options.click.size()) + 1200, &window, [&] {
        QCoreApplication::processEvents();
        QWidget *modal = QApplication::activeModalWidget();
        const QString message = HostWindow::messageText(modal);
        if (!message.isEmpty()) {
            std::printf("zqhost: message: %s\n", qPrintable(message));
            std::fflush(stdout);
        }
        if ((modal ? modal->grab() : window.grab()).save(file))
            result = 0;
        else
            std::fprintf(stderr, "zqhost: cannot write %s\n", qPrintable(file));
        if (modal)
            modal->close();
        // Once the modal window's loop has returned to the one that opened it.
        QTimer::singleShot(100, &window, [&] {
            window.closeDocuments();
            window.close();
            app.quit();
        });
    });
    app.exec();
    return result;
}

// Loads the suite with the host's context and the plug-in, and hands the plug-in the suite
// and the connection. "" or why not.
QString loadModule(const HostOptions &options,
                   Connection &connection,
                   SuiteLoader &suite,
                   QByteArray (&texts)[6])
{
    texts[0] = options.home.toUtf8();
    texts[1] = options.user.toUtf8();
    texts[2] = options.language.toUtf8();
    const QString langFolder = folderOf("lang", ZQ_HOST_LANG_DIR, "ZQ_LANG_DIR");
    const QString reportFolder = folderOf("reports", ZQ_HOST_REPORT_DIR, "ZQ_REPORT_DIR");
    if (langFolder.isEmpty() || !QFileInfo::exists(langFolder + QStringLiteral("en.ini")))
        return QStringLiteral("cannot find the language files (set ZQ_LANG_DIR)");
    if (reportFolder.isEmpty())
        return QStringLiteral("cannot find the report templates (set ZQ_REPORT_DIR)");
    texts[3] = langFolder.toUtf8();
    texts[4] = reportFolder.toUtf8();
    texts[5] = options.reportDir.toUtf8();
    ZQSuiteContext context{ZQ_SUITE_CONTEXT_VERSION,
                           &connection,
                           texts[0].constData(),
                           texts[1].constData(),
                           texts[2].constData(),
                           texts[3].constData(),
                           texts[4].constData(),
                           texts[5].constData()};

    // The suite and the plug-in are found through the binary's run path: the build tree's
    // library folder, or the package's private one (<prefix>/lib/zqholder).
    if (!suite.load(QString(), context))
        return QStringLiteral("cannot load the suite: ") + suite.error();

    using SetGlobal = int32_t (*)(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t);
    using SetConnection = int32_t (*)(void *);
    auto setGlobal = reinterpret_cast<SetGlobal>(suite.pluginEntry("SetGlobalFunction"));
    auto setConnection = reinterpret_cast<SetConnection>(suite.pluginEntry("SetADOConnection"));
    if (!setGlobal || !setConnection)
        return QStringLiteral("the module lacks its entries");
    intptr_t h[6];
    suite.handles(h);
    setGlobal(h[0], h[1], h[2], h[3], h[4], h[5]);
    if (setConnection(&connection) != 1)
        return QStringLiteral("the module cannot use the site database");

    return QString();
}

} // namespace

int main(int argc, char **argv)
{
    // The site folder, its database and every file written beside it are the user's alone.
    zq::site::restrictFileModes();
    HostOptions options;
    {
        QString error;
        // Help, version and argument errors are answered before any window system is touched,
        // so they work without a display (an installed host run from a terminal or by man).
        QCoreApplication parsing(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("zqhost"));
        QCoreApplication::setApplicationVersion(QStringLiteral(ZQ_VERSION));
        if (!parseHostOptions(QCoreApplication::arguments(), options, error)) {
            const bool asked = error.startsWith(QLatin1String("Usage"))
                               || error.startsWith(QLatin1String("zqhost "));
            std::fprintf(asked ? stdout : stderr, "%s\n", qPrintable(error));
            return asked ? 0 : 2;
        }
    }
    {
        // A site that cannot work is told before a display is needed, too.
        QCoreApplication checking(argc, argv);
        const QString problem = siteProblem(options);
        if (!problem.isEmpty())
            return fail(problem);
    }
    if (!hasDisplay())
        return fail(QStringLiteral("there is no display to show the windows on (DISPLAY is not "
                                   "set); run it under a virtual one: xvfb-run -a zqhost ..."));

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZQHolder"));
    QApplication::setApplicationVersion(QStringLiteral(ZQ_VERSION));
    Connection connection;
    QString warning;
    const QString why = openSite(options, connection, warning);
    if (!why.isEmpty())
        return fail(why);

    // The texts the suite's context points at live as long as the host.
    QByteArray contextTexts[6];
    SuiteLoader suite;
    const QString notLoaded = loadModule(options, connection, suite, contextTexts);
    if (!notLoaded.isEmpty())
        return fail(notLoaded);

    HostWindow window(suite);
    window.show();
    if (!warning.isEmpty())
        window.showAccessWarning(warning);
    int opened = 0;
    for (const QString &kind : std::as_const(options.open))
        if (window.openKind(kind))
            ++opened;
    if (!options.waitFor.isEmpty() && !HostWindow::waitForFile(options.waitFor))
        return fail(QStringLiteral("waited in vain for ") + options.waitFor);
    // Clicked from inside the event loop: a button that opens a modal window (the card
    // labels) runs that window's loop, and the picture below is taken from there.
    // Each click its own event, 300 ms apart, so that a click can reach a window the click
    // before it opened.
    const int clickGap = 300;
    for (qsizetype i = 0; i < options.click.size(); ++i) {
        const QString name = options.click.at(i);
        QTimer::singleShot(
            clickGap * int(i + 1), &window, [&window, name] { window.clickInActiveWindow(name); });
    }

    if (!options.screenshot.isEmpty())
        return runScreenshot(app, window, options, clickGap);
    Q_UNUSED(opened)
    return app.exec();
}
