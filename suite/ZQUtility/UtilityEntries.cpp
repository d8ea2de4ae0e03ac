#include "EntryGuard.h"
#include "GridLayouts.h"
#include "LanguageFile.h"
#include "ProgressForms.h"
#include "ReportOutput.h"
#include "SearchDialog.h"
#include "ServiceAbi.h"
#include "SuiteContext.h"

#include "Recordset.h"

#include <QFileInfo>
#include <QTableView>

using namespace zq::suite;

namespace {

const QString kFunctions = QStringLiteral("Functions");

struct UtilityState
{
    LanguageFile texts;
    QString reportSection = QStringLiteral("ZQBasic");
};

UtilityState &state()
{
    static UtilityState utility;
    return utility;
}

QString gridLayoutFile()
{
    return host().siteFolder.isEmpty() ? QString()
                                       : host().siteFolder + QStringLiteral("ZQGridView.ini");
}

// A report's fixed texts come from "[Report.<section>]" of the language file; a missing
// one keeps its English default.
void applyReportTexts(ReportTable &table)
{
    const LanguageFile &texts = state().texts;
    const QString section = QStringLiteral("Report.") + state().reportSection;
    table.printedLabel = texts.find(section, QStringLiteral("Printed"))
                             .value_or(table.printedLabel);
    table.pageLabel = texts.find(section, QStringLiteral("Page")).value_or(table.pageLabel);
    table.emptyText = texts.find(section, QStringLiteral("NoRows")).value_or(table.emptyText);
}

} // namespace

extern "C" {

ZQ_SERVICE_EXPORT int32_t ZQSuiteInit(const ZQSuiteContext *context)
{
    return guarded("ZQSuiteInit", 0, [&] {
        if (!storeHostContext(context))
            return 0;
        state().texts.load(host().langFolder, host().language);
        return 1;
    });
}

ZQ_SERVICE_EXPORT void ShowSearchDataForm(void *recordset, const char *baseStatement)
{
    guardedVoid("ShowSearchDataForm", [&] {
        if (!recordset)
            return;
        state().texts.refresh();
        showSearchDialog(
            *static_cast<zq::data::Recordset *>(recordset), fromC(baseStatement), state().texts);
    });
}

ZQ_SERVICE_EXPORT void SetDBGridView(void *grid, const char *layoutKey)
{
    guardedVoid("SetDBGridView", [&] {
        const QString file = gridLayoutFile();
        if (!grid || file.isEmpty())
            return;
        if (!saveGridLayout(*static_cast<QTableView *>(grid), file, fromC(layoutKey)))
            qWarning("SetDBGridView: layout %s not saved", layoutKey ? layoutKey : "");
    });
}

ZQ_SERVICE_EXPORT void GetDBGridView(void *grid, const char *layoutKey)
{
    guardedVoid("GetDBGridView", [&] {
        const QString file = gridLayoutFile();
        if (grid && !file.isEmpty())
            restoreGridLayout(*static_cast<QTableView *>(grid), file, fromC(layoutKey));
    });
}

ZQ_SERVICE_EXPORT void SelectReportLanguage(const char *section)
{
    guardedVoid("SelectReportLanguage", [&] {
        const QString name = fromC(section).trimmed();
        state().reportSection = name.isEmpty() ? QStringLiteral("ZQBasic") : name;
        state().texts.refresh();
    });
}

ZQ_SERVICE_EXPORT void ShowReport(const char *templateFile, const char *statement)
{
    guardedVoid("ShowReport", [&] {
        if (!host().connection)
            return;
        const QString baseName = QFileInfo(fromC(templateFile)).completeBaseName();
        std::optional<ReportTable> table = readReportTable(
            *host().connection, fromC(statement), baseName);
        if (!table)
            return;
        applyReportTexts(*table);
        if (host().reportOutDir.isEmpty()) {
            previewReport(*table);
        } else if (writeReportPdf(*table, host().reportOutDir, baseName).isEmpty()) {
            qWarning("ShowReport: no PDF written to %s", qUtf8Printable(host().reportOutDir));
        }
    });
}

ZQ_SERVICE_EXPORT intptr_t ShowProcessForm(int32_t owner, int32_t total, const char *message)
{
    return guarded("ShowProcessForm", intptr_t(0), [&] {
        const LanguageFile &texts = state().texts;
        return openProgress(total,
                            fromC(message),
                            texts.text(kFunctions, QStringLiteral("Progress")),
                            texts.text(kFunctions, QStringLiteral("Cancel")));
    });
}

ZQ_SERVICE_EXPORT void IncProcessFormPosition(intptr_t handle, int32_t step)
{
    guardedVoid("IncProcessFormPosition", [&] { advanceProgress(handle, step); });
}

ZQ_SERVICE_EXPORT int32_t CancelProcessForm(intptr_t handle)
{
    return guarded("CancelProcessForm", 0, [&] { return progressCancelled(handle) ? 1 : 0; });
}

ZQ_SERVICE_EXPORT void CloseProcessForm(intptr_t handle)
{
    guardedVoid("CloseProcessForm", [&] { closeProgress(handle); });
}

} // extern "C"
