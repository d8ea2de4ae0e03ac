#pragma once

// The entries of the five sibling libraries, as C functions. The plug-in binds them by
// these names with dlsym; the suite libraries and the test double export them.
//
// Texts are zero-terminated UTF-8. A returned text belongs to the library and stays valid
// until the library's next call that returns a text. A window argument is the module's
// QWidget *, a grid a QTableView *, a query object a zq::data::Recordset *.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ZQ_SERVICE_EXPORT __attribute__((visibility("default")))

// ZQCommon
typedef void (*PlaySoundFn)(void);
typedef const char *(*GetProgramPathFn)(void);

// ZQLanguage
typedef void (*SetupFormLanguageFn)(void *window, const char *section);
typedef void (*SelectFormLanguageFn)(void *window, const char *section);
typedef void (*SelectLanguageFn)(const char *section);
typedef const char *(*GetStringFn)(const char *key);
typedef int32_t (*ShowMessageBoxFn)(const char *messageKey, const char *captionKey, int32_t style);

// ZQUserRight
typedef int32_t (*GetProgramRightFn)(const char *rightKey);
typedef const char *(*GetLoginUserIDFn)(void);
typedef void (*AddProgramRunEditFn)(const char *rightKey, const char *entry);

// ZQCom
typedef void (*DeviceCardDeleteFn)(int32_t deviceNo, int32_t cardNo);

// ZQUtility
typedef void (*ShowSearchDataFormFn)(void *recordset, const char *baseStatement);
typedef void (*GridViewFn)(void *grid, const char *layoutKey);
typedef void (*SelectReportLanguageFn)(const char *section);
typedef void (*ShowReportFn)(const char *templateFile, const char *statement);
typedef intptr_t (*ShowProcessFormFn)(int32_t owner, int32_t total, const char *message);
typedef void (*IncProcessFormPositionFn)(intptr_t handle, int32_t step);
typedef int32_t (*CancelProcessFormFn)(intptr_t handle);
typedef void (*CloseProcessFormFn)(intptr_t handle);

/// Host context handed to every suite library before the plug-in is bound (an entry of the
/// suite, not of the module's service table). All pointers stay valid while the host runs.
typedef struct ZQSuiteContext
{
    int32_t version;          ///< ZQ_SUITE_CONTEXT_VERSION
    void *connection;         ///< zq::data::Connection * of the host
    const char *siteFolder;   ///< the program path, ending with '/'
    const char *loginUserId;  ///< the user of --user
    const char *language;     ///< "en" or "zh_TW"
    const char *langFolder;   ///< folder holding en.ini and zh_TW.ini, ending with '/'
    const char *reportFolder; ///< folder of the report templates, ending with '/'
    const char *reportOutDir; ///< "" = preview on screen; else PDF files go into this folder
} ZQSuiteContext;

#define ZQ_SUITE_CONTEXT_VERSION 1
typedef int32_t (*ZQSuiteInitFn)(const ZQSuiteContext *context);

#ifdef __cplusplus
}
#endif
