#include "EntryGuard.h"
#include "FormTexts.h"
#include "LanguageFile.h"
#include "MessageBox.h"
#include "ServiceAbi.h"
#include "SuiteContext.h"

#include <QWidget>

using namespace zq::suite;

namespace {

const QString kMessages = QStringLiteral("Messages");
const QString kFunctions = QStringLiteral("Functions");

struct LanguageState
{
    LanguageFile texts;
    // The window class whose section the next look-ups consult first ("" = none). A window
    // may word a message or a function text its own way under "Message.<key>" or
    // "Function.<key>" of its section.
    QString formSection;
};

LanguageState &state()
{
    static LanguageState language;
    return language;
}

QString lookUp(const QString &prefix, const QString &section, const QString &key)
{
    LanguageState &language = state();
    if (!language.formSection.isEmpty()) {
        if (auto own = language.texts.find(language.formSection, prefix + key))
            return *own;
    }
    return language.texts.text(section, key);
}

QString messageText(const QString &key)
{
    return lookUp(QStringLiteral("Message."), kMessages, key);
}

QString functionText(const QString &key)
{
    return lookUp(QStringLiteral("Function."), kFunctions, key);
}

QWidget *windowOf(void *window)
{
    return static_cast<QWidget *>(window);
}

} // namespace

extern "C" {

ZQ_SERVICE_EXPORT int32_t ZQSuiteInit(const ZQSuiteContext *context)
{
    return guarded("ZQSuiteInit", 0, [&] {
        if (!storeHostContext(context))
            return 0;
        state().texts.load(host().langFolder, host().language);
        state().formSection.clear();
        return 1;
    });
}

ZQ_SERVICE_EXPORT void SetupFormLanguage(void *window, const char *section)
{
    guardedVoid("SetupFormLanguage", [&] {
        if (!window)
            return;
        state().texts.refresh();
        applyFormTexts(windowOf(window), state().texts, fromC(section));
    });
}

ZQ_SERVICE_EXPORT void SelectFormLanguage(void *window, const char *section)
{
    guardedVoid("SelectFormLanguage", [&] {
        state().texts.refresh();
        state().formSection = window ? formClassName(windowOf(window)) : QString();
    });
}

ZQ_SERVICE_EXPORT void SelectLanguage(const char *section)
{
    guardedVoid("SelectLanguage", [&] {
        state().texts.refresh();
        state().formSection.clear();
    });
}

ZQ_SERVICE_EXPORT const char *GetFunctionString(const char *key)
{
    static QByteArray text;
    return guarded(
        "GetFunctionString", "", [&] { return keepText(text, functionText(fromC(key))); });
}

ZQ_SERVICE_EXPORT const char *GetMessageString(const char *key)
{
    static QByteArray text;
    return guarded("GetMessageString", "", [&] { return keepText(text, messageText(fromC(key))); });
}

ZQ_SERVICE_EXPORT int32_t ShowMessageBox(const char *messageKey,
                                         const char *captionKey,
                                         int32_t style)
{
    return guarded("ShowMessageBox", 0, [&] {
        const QString captionName = fromC(captionKey);
        const QString caption = state().texts.text(kMessages, kFunctions, captionName);
        return showMessageBox(
            messageText(fromC(messageKey)), caption, style, [](const QString &button) {
                return state().texts.find(kFunctions, button);
            });
    });
}

} // extern "C"
