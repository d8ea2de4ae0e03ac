#pragma once

#include "ReportRows.h"
#include "ReportTemplate.h"

#include <QDateTime>

class QPagedPaintDevice;

namespace zq::suite {

/// The fixed texts of a printed report, in the language the report was asked in.
struct ReportTexts
{
    std::function<QString(const QString &key)> language; ///< "{@Key}" of the templates
    QDateTime printedAt;
    QString printedLabel = QStringLiteral("Printed %1"); ///< %1 = print date
    QString pageLabel = QStringLiteral("Page %1 of %2"); ///< %1 = page, %2 = pages
    QString pageNumberLabel = QStringLiteral("Page %1"); ///< without the page total
    QString emptyText = QStringLiteral("No rows");
};

struct ReportResult
{
    bool ok = false;
    int pages = 0;
    qint64 rows = 0;
    QString error;
};

/// How the texts of a report are placed. `Quick` draws a text whose width is known for sure
/// straight at its baseline and the glyphs of a text that comes back as shaped once;
/// `Reference` leaves every text that might not fit to QPainter's aligned drawing, the
/// placement `Quick` must match.
enum class TextPlacement { Quick, Reference };

/// Paints the rows of `rows` onto `device` as `layout` lays them out, finishing each page
/// before reading the rows of the next, so that memory does not grow with the report. With
/// the page total on, the rows are read twice: once to count the pages, once to paint them;
/// a list keeps the texts of its rows in a temporary file between the two, so that its
/// statement runs once.
/// The device takes the template's page layout.
ReportResult renderReport(QPagedPaintDevice &device,
                          const ReportTemplate &layout,
                          const RowSource &rows,
                          const ReportTexts &texts,
                          TextPlacement placement = TextPlacement::Quick);

} // namespace zq::suite
