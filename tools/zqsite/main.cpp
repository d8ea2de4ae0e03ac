// zqsite: makes a site database, adds its users and their rights, and checks it, without a
// display (for set-up scripts and the sync service's first run).
#include "SiteAccess.h"
#include "SiteOptions.h"
#include "SiteTool.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>
#include <memory>

namespace {

void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "zqsite: %s\n", qPrintable(text));
}

} // namespace

int main(int argc, char **argv)
{
    zq::site::restrictFileModes();
    SiteOptions options;
    QString text;
    SiteParse parsed;
    {
        QCoreApplication parsing(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("zqsite"));
        QCoreApplication::setApplicationVersion(QStringLiteral(ZQ_VERSION));
        parsed = parseSiteOptions(QCoreApplication::arguments(), options, text);
    }
    switch (parsed) {
    case SiteParse::Asked:
        std::fprintf(stdout, "%s\n", qPrintable(text));
        return 0;
    case SiteParse::Error:
        std::fprintf(stderr, "zqsite: %s\n", qPrintable(text));
        return SiteTool::NothingDone;
    case SiteParse::Run:
        break;
    }
    if (qEnvironmentVariableIsEmpty("ZQ_SITE_DEBUG"))
        qInstallMessageHandler(quietMessages);
    // The demo site's card pictures and photos are drawn with fonts, which need a GUI
    // application; the offscreen platform needs no display.
    std::unique_ptr<QCoreApplication> app;
    if (options.demo) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    SiteTool tool(options, stdout, stderr);
    return tool.run();
}
