#include "TableReport.h"

#include <QFontMetrics>
#include <QPagedPaintDevice>
#include <QPainter>

#include <algorithm>
#include <numeric>
#include <vector>

namespace zq::suite {

namespace {

// Enough rows to judge how wide a column wants to be without measuring every row.
constexpr int kMeasuredRows = 200;

std::vector<int> columnWidths(const ReportTable &table,
                              const QFontMetrics &body,
                              const QFontMetrics &bold,
                              int available,
                              int padding)
{
    const qsizetype columns = table.headers.size();
    std::vector<int> widths(columns, 0);
    for (qsizetype c = 0; c < columns; ++c)
        widths[c] = bold.horizontalAdvance(table.headers.at(c));
    const qsizetype measured = std::min<qsizetype>(table.rows.size(), kMeasuredRows);
    for (qsizetype r = 0; r < measured; ++r) {
        const QStringList &row = table.rows.at(r);
        for (qsizetype c = 0; c < columns && c < row.size(); ++c)
            widths[c] = std::max(widths[c], body.horizontalAdvance(row.at(c)));
    }
    for (int &width : widths)
        width += padding;
    const qint64 total = std::accumulate(widths.begin(), widths.end(), qint64(0));
    if (total > available && total > 0) {
        for (int &width : widths)
            width = int(qint64(width) * available / total);
    }
    return widths;
}

void drawLine(QPainter &painter,
              const QStringList &cells,
              const std::vector<int> &widths,
              int left,
              int top,
              int height,
              int padding)
{
    const QFontMetrics metrics = painter.fontMetrics();
    int x = left;
    for (size_t c = 0; c < widths.size(); ++c) {
        const QString text = c < size_t(cells.size()) ? cells.at(qsizetype(c)) : QString();
        // Half the padding is slack: printer and screen metrics round differently.
        const int room = std::max(0, widths[c] - padding / 2);
        painter.drawText(QRect(x, top, room, height),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(text, Qt::ElideRight, room));
        x += widths[c];
    }
}

} // namespace

int paintTableReport(QPagedPaintDevice &device, const ReportTable &table)
{
    QPainter painter;
    if (!painter.begin(&device))
        return 0;

    const QRect page(0, 0, device.width(), device.height());
    QFont bodyFont = painter.font();
    bodyFont.setPointSizeF(9);
    QFont boldFont = bodyFont;
    boldFont.setBold(true);
    QFont titleFont = bodyFont;
    titleFont.setPointSizeF(14);
    titleFont.setBold(true);

    painter.setFont(titleFont);
    const int titleHeight = painter.fontMetrics().height();
    painter.setFont(boldFont);
    const QFontMetrics boldMetrics = painter.fontMetrics();
    painter.setFont(bodyFont);
    const QFontMetrics bodyMetrics = painter.fontMetrics();
    const int lineHeight = bodyMetrics.height() * 5 / 4;
    const int padding = bodyMetrics.horizontalAdvance(QStringLiteral("MM"));

    const std::vector<int> widths = columnWidths(
        table, bodyMetrics, boldMetrics, page.width(), padding);
    const int headerTop = page.top() + titleHeight + lineHeight / 2;
    const int bodyTop = headerTop + lineHeight + lineHeight / 4;
    const int footerTop = page.bottom() - lineHeight;
    const int rowsPerPage = std::max(1, (footerTop - lineHeight / 2 - bodyTop) / lineHeight);
    const int pages = std::max<int>(1, int((table.rows.size() + rowsPerPage - 1) / rowsPerPage));
    const QString printed = table.printedLabel.arg(
        table.printedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm")));

    for (int pageNo = 1; pageNo <= pages; ++pageNo) {
        if (pageNo > 1)
            device.newPage();
        painter.setFont(titleFont);
        painter.drawText(QRect(page.left(), page.top(), page.width(), titleHeight),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         table.title);

        painter.setFont(boldFont);
        drawLine(painter, table.headers, widths, page.left(), headerTop, lineHeight, padding);
        painter.drawLine(
            page.left(), bodyTop - lineHeight / 8, page.right(), bodyTop - lineHeight / 8);

        painter.setFont(bodyFont);
        const qsizetype first = qsizetype(pageNo - 1) * rowsPerPage;
        const qsizetype last = std::min<qsizetype>(table.rows.size(), first + rowsPerPage);
        for (qsizetype r = first; r < last; ++r) {
            const int top = bodyTop + int(r - first) * lineHeight;
            drawLine(painter, table.rows.at(r), widths, page.left(), top, lineHeight, padding);
        }
        if (table.rows.isEmpty())
            painter.drawText(QRect(page.left(), bodyTop, page.width(), lineHeight),
                             Qt::AlignLeft | Qt::AlignVCenter,
                             table.emptyText);

        painter.drawLine(page.left(), footerTop, page.right(), footerTop);
        const QRect footer(page.left(), footerTop, page.width(), lineHeight);
        painter.drawText(footer, Qt::AlignLeft | Qt::AlignVCenter, printed);
        painter.drawText(
            footer, Qt::AlignRight | Qt::AlignVCenter, table.pageLabel.arg(pageNo).arg(pages));
    }
    painter.end();
    return pages;
}

} // namespace zq::suite
