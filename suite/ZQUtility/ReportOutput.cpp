#include "ReportOutput.h"

#include "SuiteContext.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QToolBar>

namespace zq::suite {

ReportResult writeReportPdf(const ReportJob &job, QIODevice &output)
{
    QPdfWriter writer(&output);
    // Text and lines stay vectors; the resolution only sets how finely they are placed.
    writer.setResolution(600);
    writer.setTitle(job.title);
    writer.setCreator(QStringLiteral("ZQHolder"));
    return renderReport(writer, job.layout, job.rows, job.texts);
}

QString writeReportPdf(const ReportJob &job, const QString &folder, const QString &baseName)
{
    QDir dir(folder);
    if (!dir.mkpath(QStringLiteral(".")))
        return QString();
    for (int number = 1; number < 100000; ++number) {
        const QString path = dir.filePath(QStringLiteral("%1-%2.pdf").arg(baseName).arg(number));
        QFile file(path);
        // NewOnly refuses an existing file, so two hosts writing at once never share one.
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (file.exists())
                continue;
            return QString();
        }
        const ReportResult result = writeReportPdf(job, file);
        file.close();
        if (!result.ok || file.error() != QFileDevice::NoError) {
            qWarning("ShowReport: %s", qUtf8Printable(result.error));
            file.remove();
            return QString();
        }
        return path;
    }
    return QString();
}

namespace {

void saveAs(QWidget *parent, const ReportJob &job, const QString &label)
{
    QString path = QFileDialog::getSaveFileName(
        parent, label, job.title + QStringLiteral(".pdf"), QStringLiteral("PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive))
        path += QStringLiteral(".pdf");
    // Written beside and renamed at the end: a failed report leaves an earlier file intact.
    QSaveFile file(path);
    ReportResult result;
    if (file.open(QIODevice::WriteOnly)) {
        result = writeReportPdf(job, file);
        if (result.ok && !file.commit())
            result.ok = false;
    }
    if (!result.ok)
        QMessageBox::warning(
            parent, label, result.error.isEmpty() ? file.errorString() : result.error);
}

} // namespace

void previewReport(const ReportJob &job, const QString &saveLabel)
{
    if (!widgetsAvailable())
        return;
    QPrintPreviewDialog preview(dialogParent());
    preview.setObjectName(QStringLiteral("frmReportPreview"));
    preview.setWindowTitle(job.title);
    preview.printer()->setFullPage(true);
    preview.printer()->setPageLayout(job.layout.pageLayout());
    preview.printer()->setDocName(job.title);
    QObject::connect(
        &preview, &QPrintPreviewDialog::paintRequested, &preview, [&job](QPrinter *printer) {
            const ReportResult result = renderReport(*printer, job.layout, job.rows, job.texts);
            if (!result.ok)
                qWarning("ShowReport: %s", qUtf8Printable(result.error));
        });
    if (auto *tools = preview.findChild<QToolBar *>()) {
        tools->addSeparator();
        QAction *save = tools->addAction(saveLabel);
        save->setObjectName(QStringLiteral("actSaveAsPdf"));
        QObject::connect(save, &QAction::triggered, &preview, [&preview, &job, saveLabel] {
            saveAs(&preview, job, saveLabel);
        });
    }
    preview.exec();
}

} // namespace zq::suite
