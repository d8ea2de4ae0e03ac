// zqtransfer: imports holders from text files and workbooks into the site database, and
// exports them, without a display (for nightly jobs). The rules are the import/export
// window's: the same engine does the work.
#include "SiteAccess.h"
#include "ToolOptions.h"
#include "TransferTool.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

// Qt's and the suite's diagnostics would break the one-line-on-stderr promise; only what
// ends the program gets through.
void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "zqtransfer: %s\n", qPrintable(text));
}

} // namespace

int main(int argc, char **argv)
{
    // Exports and reports carry names and PINs: whatever the tool creates is the user's alone.
    zq::site::restrictFileModes();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zqtransfer"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZQ_VERSION));
    if (qEnvironmentVariableIsEmpty("ZQ_TRANSFER_DEBUG"))
        qInstallMessageHandler(quietMessages);

    ToolOptions options;
    QString text;
    switch (parseToolOptions(QCoreApplication::arguments(), options, text)) {
    case ParseResult::Asked:
        std::fprintf(stdout, "%s\n", qPrintable(text));
        return 0;
    case ParseResult::Error:
        std::fprintf(stderr, "zqtransfer: %s\n", qPrintable(text));
        return TransferTool::NothingDone;
    case ParseResult::Run:
        break;
    }
    TransferTool tool(options, stdout, stderr);
    return tool.run();
}
