#include "SuiteContext.h"

#include <QApplication>

namespace zq::suite {

namespace {

HostContext &state()
{
    static HostContext context;
    return context;
}

QString folderText(const char *text, bool keepEmpty)
{
    QString folder = fromC(text);
    if (folder.isEmpty() && keepEmpty)
        return folder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

} // namespace

const HostContext &host()
{
    return state();
}

int32_t storeHostContext(const ZQSuiteContext *context)
{
    if (!context || context->version != ZQ_SUITE_CONTEXT_VERSION)
        return 0;
    HostContext copy;
    copy.connection = static_cast<zq::data::Connection *>(context->connection);
    copy.siteFolder = folderText(context->siteFolder, false);
    copy.loginUserId = fromC(context->loginUserId);
    copy.language = fromC(context->language);
    copy.langFolder = folderText(context->langFolder, false);
    copy.reportFolder = folderText(context->reportFolder, false);
    copy.reportOutDir = folderText(context->reportOutDir, true);
    copy.initialised = true;
    state() = copy;
    return 1;
}

QString fromC(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

const char *keepText(QByteArray &slot, const QString &text)
{
    slot = text.toUtf8();
    return slot.constData();
}

bool widgetsAvailable()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

QWidget *dialogParent()
{
    return widgetsAvailable() ? QApplication::activeWindow() : nullptr;
}

} // namespace zq::suite
