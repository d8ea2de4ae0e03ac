#include "ReportOutput.h"

#include "Connection.h"
#include "Recordset.h"
#include "SuiteContext.h"

#include <QDir>
#include <QFile>
#include <QPageLayout>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>

namespace zq::suite {

using zq::data::Recordset;

namespace {

// Beyond this many columns a table reads better across the page.
constexpr qsizetype kPortraitColumns = 6;

QPageLayout layoutFor(const ReportTable &table)
{
    const auto orientation = table.headers.size() > kPortraitColumns ? QPageLayout::Landscape
                                                                     : QPageLayout::Portrait;
    return QPageLayout(
        QPageSize(QPageSize::A4), orientation, QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
}

} // namespace

std::optional<ReportTable> readReportTable(zq::data::Connection &connection,
                                           const QString &statement,
                                           const QString &title)
{
    Recordset query;
    query.setConnection(&connection);
    query.setStatement(statement);
    try {
        query.open();
    } catch (const std::exception &error) {
        qWarning("ShowReport: the statement failed: %s", error.what());
        return std::nullopt;
    }
    ReportTable table;
    table.title = title;
    table.printedAt = QDateTime::currentDateTime();
    const int columns = query.fieldCount();
    for (int column = 0; column < columns; ++column)
        table.headers.append(query.fieldName(column));
    const int rows = query.recordCount();
    table.rows.reserve(rows);
    for (int row = 0; row < rows; ++row) {
        QStringList line;
        line.reserve(columns);
        for (int column = 0; column < columns; ++column) {
            // A picture or other blob has no printable text in a table line.
            line.append(query.isBlobField(column) ? QString()
                                                  : Recordset::textOf(query.valueAt(row, column)));
        }
        table.rows.append(line);
    }
    return table;
}

QString writeReportPdf(const ReportTable &table, const QString &folder, const QString &baseName)
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
        bool painted = false;
        {
            QPdfWriter writer(&file);
            writer.setResolution(300);
            writer.setTitle(table.title);
            writer.setCreator(QStringLiteral("ZQHolder"));
            writer.setPageLayout(layoutFor(table));
            painted = paintTableReport(writer, table) > 0;
        }
        file.close();
        if (!painted) {
            file.remove();
            return QString();
        }
        return path;
    }
    return QString();
}

void previewReport(const ReportTable &table)
{
    if (!widgetsAvailable())
        return;
    QPrintPreviewDialog preview(dialogParent());
    preview.setObjectName(QStringLiteral("frmReportPreview"));
    preview.setWindowTitle(table.title);
    preview.printer()->setPageLayout(layoutFor(table));
    preview.printer()->setDocName(table.title);
    QObject::connect(&preview,
                     &QPrintPreviewDialog::paintRequested,
                     &preview,
                     [&table](QPrinter *printer) { paintTableReport(*printer, table); });
    preview.exec();
}

} // namespace zq::suite
