#include "EntryGuard.h"
#include "GridLayouts.h"
#include "LanguageFile.h"
#include "ProgressForms.h"
#include "ReportOutput.h"
#include "SearchDialog.h"
#include "ServiceAbi.h"
#include "SuiteContext.h"

#include "Connection.h"
#include "Recordset.h"
#include "ReportTemplate.h"

#include <QDateTime>
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

QString reportText(const QString &key, const QString &fallback)
{
    const QString section = QStringLiteral("Report.") + state().reportSection;
    return state().texts.find(section, key).value_or(fallback);
}

// A report's fixed texts come from "[Report.<section>]" of the language file; a missing
// one keeps its English default, a template's own key prints as itself.
ReportTexts reportTexts()
{
    ReportTexts texts;
    texts.printedAt = QDateTime::currentDateTime();
    texts.printedLabel = reportText(QStringLiteral("Printed"), texts.printedLabel);
    texts.pageLabel = reportText(QStringLiteral("Page"), texts.pageLabel);
    texts.pageNumberLabel = reportText(QStringLiteral("PageNumber"), texts.pageNumberLabel);
    texts.emptyText = reportText(QStringLiteral("NoRows"), texts.emptyText);
    texts.language = [](const QString &key) { return reportText(key, key); };
    return texts;
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
        zq::data::Connection *connection = host().connection;
        if (!connection)
            return;
        state().texts.refresh();
        QString error;
        std::optional<ReportTemplate> layout = loadReportTemplate(
            host().reportFolder, fromC(templateFile), error);
        // Without its layout a report would come out as some other document; none is better.
        if (!layout) {
            qWarning("ShowReport: %s", qUtf8Printable(error));
            return;
        }
        const QString sql = fromC(statement);
        ReportJob job;
        job.layout = std::move(*layout);
        job.texts = reportTexts();
        job.rows = [connection, sql] { return std::make_unique<ReportRows>(*connection, sql); };
        const QString baseName = QFileInfo(fromC(templateFile)).completeBaseName();
        job.title = BoundText(job.layout.title, nullptr)
                        .render(nullptr, {job.texts.language, {}, {}});
        if (job.title.isEmpty())
            job.title = baseName;
        if (!host().reportOutDir.isEmpty()) {
            if (writeReportPdf(job, host().reportOutDir, baseName).isEmpty())
                qWarning("ShowReport: no PDF written to %s", qUtf8Printable(host().reportOutDir));
            return;
        }
        // A statement that fails is told before a window opens on an empty document.
        if (const ReportRows probe(*connection, sql); !probe.isOpen()) {
            qWarning("ShowReport: the statement failed: %s", qUtf8Printable(probe.error()));
            return;
        }
        previewReport(job, reportText(QStringLiteral("SaveAsPdf"), QStringLiteral("Save as PDF")));
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
