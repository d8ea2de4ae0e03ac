// The C entries of the five sibling libraries, answering from the script of ServiceDouble.
#include "ServiceAbi.h"
#include "ServiceDouble.h"

#include <QTableView>
#include <QWidget>

using zq::test::ServiceDouble;

namespace {

ServiceDouble &d()
{
    return ServiceDouble::instance();
}

QString s(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

const char *ret(const QString &text)
{
    d().lastTextUtf8 = text.toUtf8();
    return d().lastTextUtf8.constData();
}

QString objectText(void *object)
{
    auto *o = static_cast<QObject *>(object);
    return o ? o->objectName() : QString();
}

} // namespace

extern "C" {

ZQ_SERVICE_EXPORT void PlaySoundOpen()
{
    d().record(QStringLiteral("PlaySoundOpen"));
}
ZQ_SERVICE_EXPORT void PlaySoundClose()
{
    d().record(QStringLiteral("PlaySoundClose"));
}
ZQ_SERVICE_EXPORT void PlaySoundOk()
{
    d().record(QStringLiteral("PlaySoundOk"));
}
ZQ_SERVICE_EXPORT void PlaySoundError()
{
    d().record(QStringLiteral("PlaySoundError"));
}
ZQ_SERVICE_EXPORT void PlaySoundQuestion()
{
    d().record(QStringLiteral("PlaySoundQuestion"));
}
ZQ_SERVICE_EXPORT void PlaySoundClick()
{
    d().record(QStringLiteral("PlaySoundClick"));
}

ZQ_SERVICE_EXPORT const char *GetProgramPath()
{
    d().record(QStringLiteral("GetProgramPath"));
    return ret(d().programPath);
}

ZQ_SERVICE_EXPORT void SetupFormLanguage(void *window, const char *section)
{
    d().record(QStringLiteral("SetupFormLanguage"), {objectText(window), s(section)});
}

ZQ_SERVICE_EXPORT void SelectFormLanguage(void *window, const char *section)
{
    d().record(QStringLiteral("SelectFormLanguage"), {objectText(window), s(section)});
}

ZQ_SERVICE_EXPORT void SelectLanguage(const char *section)
{
    d().record(QStringLiteral("SelectLanguage"), {s(section)});
}

ZQ_SERVICE_EXPORT const char *GetFunctionString(const char *key)
{
    d().record(QStringLiteral("GetFunctionString"), {s(key)});
    return ret(d().texts.value(s(key), s(key)));
}

ZQ_SERVICE_EXPORT const char *GetMessageString(const char *key)
{
    d().record(QStringLiteral("GetMessageString"), {s(key)});
    return ret(d().texts.value(s(key), s(key)));
}

ZQ_SERVICE_EXPORT int32_t ShowMessageBox(const char *messageKey,
                                         const char *captionKey,
                                         int32_t style)
{
    d().record(QStringLiteral("ShowMessageBox"),
               {s(messageKey), s(captionKey), QString::number(style)});
    return d().nextAnswer();
}

ZQ_SERVICE_EXPORT int32_t GetProgramRight(const char *rightKey)
{
    d().record(QStringLiteral("GetProgramRight"), {s(rightKey)});
    return d().rights.value(s(rightKey), d().defaultRight);
}

ZQ_SERVICE_EXPORT const char *GetLoginUserID()
{
    d().record(QStringLiteral("GetLoginUserID"));
    return ret(d().loginUser);
}

ZQ_SERVICE_EXPORT void AddProgramRunEdit(const char *rightKey, const char *entry)
{
    d().record(QStringLiteral("AddProgramRunEdit"), {s(rightKey), s(entry)});
}

ZQ_SERVICE_EXPORT void DeviceCardDelete(int32_t deviceNo, int32_t cardNo)
{
    d().record(QStringLiteral("DeviceCardDelete"),
               {QString::number(deviceNo), QString::number(cardNo)});
}

ZQ_SERVICE_EXPORT void ShowSearchDataForm(void *recordset, const char *baseStatement)
{
    d().record(QStringLiteral("ShowSearchDataForm"), {objectText(recordset), s(baseStatement)});
    if (d().search)
        d().search(static_cast<zq::data::Recordset *>(recordset), s(baseStatement));
}

ZQ_SERVICE_EXPORT void SetDBGridView(void *grid, const char *layoutKey)
{
    d().record(QStringLiteral("SetDBGridView"), {objectText(grid), s(layoutKey)});
}

ZQ_SERVICE_EXPORT void GetDBGridView(void *grid, const char *layoutKey)
{
    d().record(QStringLiteral("GetDBGridView"), {objectText(grid), s(layoutKey)});
}

ZQ_SERVICE_EXPORT void SelectReportLanguage(const char *section)
{
    d().record(QStringLiteral("SelectReportLanguage"), {s(section)});
}

ZQ_SERVICE_EXPORT void ShowReport(const char *templateFile, const char *statement)
{
    d().record(QStringLiteral("ShowReport"), {s(templateFile), s(statement)});
}

ZQ_SERVICE_EXPORT intptr_t ShowProcessForm(int32_t owner, int32_t total, const char *message)
{
    d().record(QStringLiteral("ShowProcessForm"),
               {QString::number(owner), QString::number(total), s(message)});
    d().progressSteps = 0;
    return 4711;
}

ZQ_SERVICE_EXPORT void IncProcessFormPosition(intptr_t handle, int32_t step)
{
    d().record(QStringLiteral("IncProcessFormPosition"),
               {QString::number(handle), QString::number(step)});
    d().progressSteps += step;
}

ZQ_SERVICE_EXPORT int32_t CancelProcessForm(intptr_t handle)
{
    d().record(QStringLiteral("CancelProcessForm"), {QString::number(handle)});
    return d().cancelAfterSteps >= 0 && d().progressSteps >= d().cancelAfterSteps ? 1 : 0;
}

ZQ_SERVICE_EXPORT void CloseProcessForm(intptr_t handle)
{
    d().record(QStringLiteral("CloseProcessForm"), {QString::number(handle)});
}

} // extern "C"
