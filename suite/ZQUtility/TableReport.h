#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

class QPagedPaintDevice;

namespace zq::suite {

/// What a table report prints: a title, one header line and one line per row, every page
/// footed by the print date and its page number.
struct ReportTable
{
    QString title;
    QStringList headers;
    QList<QStringList> rows;
    QDateTime printedAt;
    QString printedLabel = QStringLiteral("Printed %1"); ///< %1 = print date
    QString pageLabel = QStringLiteral("Page %1 of %2"); ///< %1 = page, %2 = pages
    QString emptyText = QStringLiteral("No rows");
};

/// Paints `table` onto `device` from its first page on, adding pages as the rows need.
/// Returns the number of pages painted (0 when the device cannot be painted on).
int paintTableReport(QPagedPaintDevice &device, const ReportTable &table);

} // namespace zq::suite
