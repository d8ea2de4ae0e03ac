#include "Services.h"

#include "Recordset.h"

#include <QByteArray>

#include <dlfcn.h>

namespace zq::services {

namespace {

Entries g_entries;
intptr_t g_handles[LibraryCount] = {};

template<typename Fn>
void lookUp(intptr_t handle, Fn &entry, const char *name)
{
    entry = nullptr;
    if (handle <= 32)
        return;
    entry = reinterpret_cast<Fn>(dlsym(reinterpret_cast<void *>(handle), name));
}

QByteArray utf8(const QString &text)
{
    return text.toUtf8();
}

QString fromUtf8(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

} // namespace

void bind(const intptr_t handles[LibraryCount])
{
    g_entries = Entries();
    for (int i = 0; i < LibraryCount; ++i)
        g_handles[i] = handles[i];
    Entries &e = g_entries;
    const intptr_t common = handles[Common];
    lookUp(common, e.PlaySoundOpen, "PlaySoundOpen");
    lookUp(common, e.PlaySoundClose, "PlaySoundClose");
    lookUp(common, e.PlaySoundOk, "PlaySoundOk");
    lookUp(common, e.PlaySoundError, "PlaySoundError");
    lookUp(common, e.PlaySoundQuestion, "PlaySoundQuestion");
    lookUp(common, e.PlaySoundClick, "PlaySoundClick");
    lookUp(common, e.GetProgramPath, "GetProgramPath");
    const intptr_t language = handles[Language];
    lookUp(language, e.SetupFormLanguage, "SetupFormLanguage");
    lookUp(language, e.SelectFormLanguage, "SelectFormLanguage");
    lookUp(language, e.SelectLanguage, "SelectLanguage");
    lookUp(language, e.GetFunctionString, "GetFunctionString");
    lookUp(language, e.GetMessageString, "GetMessageString");
    lookUp(language, e.ShowMessageBox, "ShowMessageBox");
    const intptr_t rights = handles[UserRight];
    lookUp(rights, e.GetProgramRight, "GetProgramRight");
    lookUp(rights, e.GetLoginUserID, "GetLoginUserID");
    lookUp(rights, e.AddProgramRunEdit, "AddProgramRunEdit");
    lookUp(handles[Com], e.DeviceCardDelete, "DeviceCardDelete");
    const intptr_t utility = handles[Utility];
    lookUp(utility, e.ShowSearchDataForm, "ShowSearchDataForm");
    lookUp(utility, e.SetDBGridView, "SetDBGridView");
    lookUp(utility, e.GetDBGridView, "GetDBGridView");
    lookUp(utility, e.SelectReportLanguage, "SelectReportLanguage");
    lookUp(utility, e.ShowReport, "ShowReport");
    lookUp(utility, e.ShowProcessForm, "ShowProcessForm");
    lookUp(utility, e.IncProcessFormPosition, "IncProcessFormPosition");
    lookUp(utility, e.CancelProcessForm, "CancelProcessForm");
    lookUp(utility, e.CloseProcessForm, "CloseProcessForm");
}

const Entries &entries()
{
    return g_entries;
}

intptr_t handle(Library library)
{
    return library >= 0 && library < LibraryCount ? g_handles[library] : 0;
}

#define ZQ_CALL_VOID(entry, ...) \
    do { \
        if (g_entries.entry) \
            g_entries.entry(__VA_ARGS__); \
    } while (false)

void PlaySoundOpen()
{
    ZQ_CALL_VOID(PlaySoundOpen);
}
void PlaySoundClose()
{
    ZQ_CALL_VOID(PlaySoundClose);
}
void PlaySoundOk()
{
    ZQ_CALL_VOID(PlaySoundOk);
}
void PlaySoundError()
{
    ZQ_CALL_VOID(PlaySoundError);
}
void PlaySoundQuestion()
{
    ZQ_CALL_VOID(PlaySoundQuestion);
}
void PlaySoundClick()
{
    ZQ_CALL_VOID(PlaySoundClick);
}

QString GetProgramPath()
{
    return g_entries.GetProgramPath ? fromUtf8(g_entries.GetProgramPath()) : QString();
}

void SetupFormLanguage(QWidget *window, const QString &section)
{
    ZQ_CALL_VOID(SetupFormLanguage, window, utf8(section).constData());
}

void SelectFormLanguage(QWidget *window, const QString &section)
{
    ZQ_CALL_VOID(SelectFormLanguage, window, utf8(section).constData());
}

void SelectLanguage(const QString &section)
{
    ZQ_CALL_VOID(SelectLanguage, utf8(section).constData());
}

QString GetFunctionString(const QString &key)
{
    if (!g_entries.GetFunctionString)
        return key;
    return fromUtf8(g_entries.GetFunctionString(utf8(key).constData()));
}

QString GetMessageString(const QString &key)
{
    if (!g_entries.GetMessageString)
        return key;
    return fromUtf8(g_entries.GetMessageString(utf8(key).constData()));
}

int ShowMessageBox(const QString &messageKey, const QString &captionKey, int style)
{
    if (!g_entries.ShowMessageBox)
        return 0;
    return g_entries.ShowMessageBox(
        utf8(messageKey).constData(), utf8(captionKey).constData(), style);
}

int GetProgramRight(const QString &rightKey)
{
    return g_entries.GetProgramRight ? g_entries.GetProgramRight(utf8(rightKey).constData()) : 0;
}

QString GetLoginUserID()
{
    return g_entries.GetLoginUserID ? fromUtf8(g_entries.GetLoginUserID()) : QString();
}

void AddProgramRunEdit(const QString &rightKey, const QString &entry)
{
    ZQ_CALL_VOID(AddProgramRunEdit, utf8(rightKey).constData(), utf8(entry).constData());
}

void DeviceCardDelete(int deviceNo, int cardNo)
{
    ZQ_CALL_VOID(DeviceCardDelete, deviceNo, cardNo);
}

void ShowSearchDataForm(zq::data::Recordset *query, const QString &baseStatement)
{
    ZQ_CALL_VOID(ShowSearchDataForm, query, utf8(baseStatement).constData());
}

void SetDBGridView(QTableView *grid, const QString &layoutKey)
{
    ZQ_CALL_VOID(SetDBGridView, grid, utf8(layoutKey).constData());
}

void GetDBGridView(QTableView *grid, const QString &layoutKey)
{
    ZQ_CALL_VOID(GetDBGridView, grid, utf8(layoutKey).constData());
}

void SelectReportLanguage(const QString &section)
{
    ZQ_CALL_VOID(SelectReportLanguage, utf8(section).constData());
}

void ShowReport(const QString &templateFile, const QString &statement)
{
    ZQ_CALL_VOID(ShowReport, utf8(templateFile).constData(), utf8(statement).constData());
}

intptr_t ShowProcessForm(int owner, int total, const QString &message)
{
    return g_entries.ShowProcessForm
               ? g_entries.ShowProcessForm(owner, total, utf8(message).constData())
               : 0;
}

void IncProcessFormPosition(intptr_t handle, int step)
{
    ZQ_CALL_VOID(IncProcessFormPosition, handle, step);
}

int CancelProcessForm(intptr_t handle)
{
    return g_entries.CancelProcessForm ? g_entries.CancelProcessForm(handle) : 0;
}

void CloseProcessForm(intptr_t handle)
{
    ZQ_CALL_VOID(CloseProcessForm, handle);
}

} // namespace zq::services
