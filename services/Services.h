#pragma once

#include "ServiceAbi.h"

#include <QString>

#include <cstdint>

class QTableView;
class QWidget;

namespace zq::data {
class Recordset;
}

namespace zq::services {

/// The entries bound from the five sibling libraries; an entry is null when its library
/// handle was invalid or the library lacks it.
struct Entries
{
    // ZQCommon
    PlaySoundFn PlaySoundOpen = nullptr, PlaySoundClose = nullptr, PlaySoundOk = nullptr,
                PlaySoundError = nullptr, PlaySoundQuestion = nullptr, PlaySoundClick = nullptr;
    GetProgramPathFn GetProgramPath = nullptr;
    // ZQLanguage
    SetupFormLanguageFn SetupFormLanguage = nullptr;
    SelectFormLanguageFn SelectFormLanguage = nullptr;
    SelectLanguageFn SelectLanguage = nullptr;
    GetStringFn GetFunctionString = nullptr, GetMessageString = nullptr;
    ShowMessageBoxFn ShowMessageBox = nullptr;
    // ZQUserRight
    GetProgramRightFn GetProgramRight = nullptr;
    GetLoginUserIDFn GetLoginUserID = nullptr;
    AddProgramRunEditFn AddProgramRunEdit = nullptr;
    // ZQCom
    DeviceCardDeleteFn DeviceCardDelete = nullptr;
    // ZQUtility
    ShowSearchDataFormFn ShowSearchDataForm = nullptr;
    GridViewFn SetDBGridView = nullptr, GetDBGridView = nullptr;
    SelectReportLanguageFn SelectReportLanguage = nullptr;
    ShowReportFn ShowReport = nullptr;
    ShowProcessFormFn ShowProcessForm = nullptr;
    IncProcessFormPositionFn IncProcessFormPosition = nullptr;
    CancelProcessFormFn CancelProcessForm = nullptr;
    CloseProcessFormFn CloseProcessForm = nullptr;
};

enum Library { Common = 0, Language, UserRight, Com, Utility, LibraryCount };

/// Empties every entry, then binds each library's entries by name from its handle (a
/// `dlopen` handle; 32 or less means "no library").
void bind(const intptr_t handles[LibraryCount]);
const Entries &entries();
intptr_t handle(Library library);

// Calls through the entries. An entry that is not bound does nothing and answers with the
// neutral value given on each line, so a partly bound suite never crashes the module.
void PlaySoundOpen();
void PlaySoundClose();
void PlaySoundOk();
void PlaySoundError();
void PlaySoundQuestion();
void PlaySoundClick();
QString GetProgramPath(); // "" when unbound
void SetupFormLanguage(QWidget *window, const QString &section = QStringLiteral("ZQBasic"));
void SelectFormLanguage(QWidget *window, const QString &section = QStringLiteral("ZQBasic"));
void SelectLanguage(const QString &section = QStringLiteral("ZQBasic"));
QString GetFunctionString(const QString &key); // the key itself when unbound
QString GetMessageString(const QString &key);  // the key itself when unbound
int ShowMessageBox(const QString &messageKey, const QString &captionKey, int style); // 0
int GetProgramRight(const QString &rightKey); // 0 when unbound
QString GetLoginUserID();                     // ""
void AddProgramRunEdit(const QString &rightKey, const QString &entry);
void DeviceCardDelete(int deviceNo, int cardNo);
void ShowSearchDataForm(zq::data::Recordset *query, const QString &baseStatement);
void SetDBGridView(QTableView *grid, const QString &layoutKey);
void GetDBGridView(QTableView *grid, const QString &layoutKey);
void SelectReportLanguage(const QString &section = QStringLiteral("ZQBasic"));
void ShowReport(const QString &templateFile, const QString &statement);
intptr_t ShowProcessForm(int owner, int total, const QString &message); // 0
void IncProcessFormPosition(intptr_t handle, int step);
int CancelProcessForm(intptr_t handle); // 0
void CloseProcessForm(intptr_t handle);

} // namespace zq::services
