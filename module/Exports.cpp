#include "Exports.h"

#include "Caught.h"
#include "Connection.h"
#include "Helpers.h"
#include "ModuleState.h"
#include "Services.h"

using namespace zq::module;

namespace {

Q_LOGGING_CATEGORY(lcModule, "zq.module")

int32_t openWindow(WindowKind kind)
{
    try {
        const int32_t right = zq::services::GetProgramRight(rightKey(kind));
        state().lastRight = right;
        if (right == 0) {
            zq::services::ShowMessageBox(
                QStringLiteral("NoProgramRight"), QStringLiteral("SystemMessage"), 0);
            return 1;
        }
        const int i = int(kind);
        if (state().flags[i] == 0)
            createWindow(kind);
        QWidget *window = state().registry[i];
        if (!window)
            return 0;
        showDocumentWindow(window);
        return 1;
    } catch (...) {
        zq::data::logCaught(lcModule(), "opening a window");
        return 0;
    }
}

} // namespace

int32_t SetGlobalFunction(intptr_t common,
                          intptr_t language,
                          intptr_t userRight,
                          intptr_t com,
                          intptr_t utility,
                          intptr_t reserved)
{
    (void)reserved;
    installFactories();
    try {
        const intptr_t handles[zq::services::LibraryCount] = {
            common, language, userRight, com, utility};
        zq::services::bind(handles);
    } catch (...) {
        zq::data::logCaught(lcModule(), "SetGlobalFunction");
    }
    for (int i = 0; i < ExportedKinds; ++i)
        state().flags[i] = 0;
    state().flags[int(WindowKind::LabelPic)] = 0;
    return 1;
}

int32_t SetADOConnection(void *connection)
{
    try {
        auto *c = static_cast<zq::data::Connection *>(connection);
        state().connection = c;
        zq::data::setModuleConnection(c);
        if (!c || !c->open())
            return 0;
        try {
            state().tableNamesCreated = true;
            state().tableNames = c->userTables();
            zq::data::CheckConnection();
        } catch (...) {
            zq::data::logCaught(lcModule(), "SetADOConnection: reading the table list");
        }
        return 1;
    } catch (...) {
        zq::data::logCaught(lcModule(), "SetADOConnection");
        return 0;
    }
}

int32_t CheckFormStatus()
{
    int sum = 0;
    for (int i = 0; i < ExportedKinds; ++i)
        sum += state().flags[i];
    return sum > 0 ? 1 : 0;
}

int32_t ShowDepartmentForm()
{
    return openWindow(WindowKind::Department);
}
int32_t ShowOccupationTitleForm()
{
    return openWindow(WindowKind::OccupationTitle);
}
int32_t ShowOccupationTypeForm()
{
    return openWindow(WindowKind::OccupationType);
}
int32_t ShowHolderForm()
{
    return openWindow(WindowKind::Holder);
}
int32_t ShowHolderReport()
{
    return openWindow(WindowKind::HolderReport);
}
int32_t HolderImportExport()
{
    return openWindow(WindowKind::HolderImportExport);
}
