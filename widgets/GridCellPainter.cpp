#include "GridCellPainter.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>
#include <QtMath>

#include <climits>
#include <memory>

namespace zq::widgets {

// The laid-out text of a cell and where it is drawn, from the cell's top left corner. Its
// glyphs are kept with it (a layout drops them once laid out, and shapes the text again to
// draw it).
struct GridCellPainter::CellText
{
    QTextLayout layout;
    QPointF at;
};

namespace {

// The widest line the text engine lays out ("no limit").
constexpr int kNoLimit = INT_MAX / 256;

enum KeyFlag { Wrap = 1, WholeCellSelected = 2 };

// Lines laid out as the default item painter lays them out: each at `width`, one under the
// other; with `maxHeight`, stopping at the line after the last one that fits, whose index
// `lastVisible` then tells (or -1).
QSizeF layOutLines(QTextLayout &layout, int width, int maxHeight = -1, int *lastVisible = nullptr)
{
    if (lastVisible)
        *lastVisible = -1;
    qreal height = 0;
    qreal widthUsed = 0;
    layout.beginLayout();
    for (int i = 0;; ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        line.setPosition(QPointF(0, height));
        height += line.height();
        widthUsed = qMax(widthUsed, line.naturalTextWidth());
        if (maxHeight > 0 && lastVisible && height + line.height() > maxHeight) {
            const QTextLine next = layout.createLine();
            *lastVisible = next.isValid() ? i : -1;
            break;
        }
    }
    layout.endLayout();
    return QSizeF(widthUsed, height);
}

QTextOption drawingOption(const QStyleOptionViewItem &opt)
{
    QTextOption option;
    option.setWrapMode(opt.features & QStyleOptionViewItem::WrapText ? QTextOption::WordWrap
                                                                     : QTextOption::ManualWrap);
    option.setTextDirection(opt.direction);
    option.setAlignment(QStyle::visualAlignment(opt.direction, opt.displayAlignment));
    return option;
}

// The rectangle the default painter gives the text: the whole cell, or the measured text's
// size aligned in it.
QRect textRectangle(const QStyleOptionViewItem &opt, QSize measured)
{
    if (opt.showDecorationSelected)
        return opt.rect;
    return QStyle::alignedRect(
        opt.direction, opt.displayAlignment, measured.boundedTo(opt.rect.size()), opt.rect);
}

} // namespace

GridCellPainter::GridCellPainter(QObject *parent)
    : QStyledItemDelegate(parent)
    , m_cells(2000)
{}

GridCellPainter::~GridCellPainter() = default;

void GridCellPainter::paint(QPainter *painter,
                            const QStyleOptionViewItem &option,
                            const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    if (m_quick && paintQuick(painter, opt))
        return;
    const QWidget *widget = opt.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
}

// The default item painter measures the text at the cell's width for the cell's text
// rectangle, lays it out again at the width measured to see whether it must be cut short,
// cuts it short and lays out what it draws: three or four times the work of shaping the
// text, at every paint. Here a cell's text is laid out once, where it fits (its line broken at
// both widths as the default painter breaks it), or by the same steps as the default painter
// where it is cut short; it is kept for the next paint of the same text in a cell of the
// same size and font (the same department, title and type in row after row, or the rows
// painted again), and drawn where the default painter draws it, with the same pen and clip.
// The background is the view's (alternate rows) or none: the style paints nothing of its own
// under an unselected cell without a brush. Anything else, or a style whose item painting is
// not the one reproduced here, goes the default way.
bool GridCellPainter::paintQuick(QPainter *painter, const QStyleOptionViewItem &opt) const
{
    const QWidget *widget = opt.widget;
    if (!widget)
        return false;
    const QStyle *style = widget->style();
    if (qstrcmp(style->metaObject()->className(), "QFusionStyle") != 0)
        return false;
    const QStyleOptionViewItem::ViewItemFeatures plain = QStyleOptionViewItem::HasDisplay
                                                         | QStyleOptionViewItem::Alternate
                                                         | QStyleOptionViewItem::WrapText;
    if ((opt.features | plain) != plain)
        return false;
    if (opt.state
        & (QStyle::State_Selected | QStyle::State_HasFocus | QStyle::State_Editing
           | QStyle::State_MouseOver))
        return false;
    if (opt.backgroundBrush.style() != Qt::NoBrush || opt.direction != Qt::LeftToRight
        || opt.displayAlignment != (Qt::AlignLeft | Qt::AlignVCenter)
        || opt.decorationPosition != QStyleOptionViewItem::Left)
        return false;
    if (opt.text.isEmpty())
        return true;
    if (!opt.rect.isValid() || opt.text.contains(QLatin1Char('\n'))
        || opt.text.contains(QChar(0x9c)) || opt.text.isRightToLeft())
        return false;

    const int flags = (opt.features & QStyleOptionViewItem::WrapText ? Wrap : 0)
                      | (opt.showDecorationSelected ? WholeCellSelected : 0)
                      | int(opt.textElideMode) << 2;
    const CellKey key{opt.text, opt.font, opt.rect.size(), flags};
    CellText *cell = m_cells.object(key);
    if (!cell) {
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        auto made = std::make_unique<CellText>();
        if (!layOutFitting(opt, margin, *made) && !layOutCutShort(opt, margin, *made))
            return false;
        cell = made.get();
        m_cells.insert(key, made.release());
    }

    QPalette::ColorGroup group = opt.state & QStyle::State_Enabled ? QPalette::Normal
                                                                   : QPalette::Disabled;
    if (group == QPalette::Normal && !(opt.state & QStyle::State_Active))
        group = QPalette::Inactive;
    painter->save();
    painter->setClipRegion(painter->hasClipping() ? painter->clipRegion() & opt.rect
                                                  : QRegion(opt.rect));
    painter->setPen(opt.palette.color(group, QPalette::Text));
    cell->layout.draw(painter, QPointF(opt.rect.topLeft()) + cell->at);
    painter->restore();
    ++m_quickCells;
    return true;
}

// One line that fits the cell: measured, broken and drawn from one layout.
bool GridCellPainter::layOutFitting(const QStyleOptionViewItem &opt,
                                    int margin,
                                    CellText &cell) const
{
    const qsizetype length = opt.text.size();
    if (opt.text.contains(QChar::LineSeparator))
        return false;
    const QRect display = opt.rect;
    const int width = display.width() - 2 * margin;
    QTextLayout &layout = cell.layout;
    layout.setCacheEnabled(true);
    layout.setText(opt.text);
    layout.setFont(opt.font);
    layout.setTextOption(drawingOption(opt));
    layout.beginLayout();
    QTextLine line = layout.createLine();
    bool fits = line.isValid();
    qreal natural = 0;
    if (fits) {
        line.setLineWidth(width);
        natural = line.naturalTextWidth();
        fits = line.textLength() == length && natural <= width;
    }
    // The text rectangle is as wide as the text measured; at that width the line breaks again
    // (the last glyph's overhang counts), so the line is broken anew where it is narrower.
    if (fits && !opt.showDecorationSelected && qCeil(natural) < width) {
        line.setLineWidth(qCeil(natural));
        fits = line.textLength() == length && line.naturalTextWidth() <= qCeil(natural);
    }
    if (fits) {
        line.setPosition(QPointF(0, 0));
        fits = !layout.createLine().isValid();
    }
    layout.endLayout();
    const int height = fits ? qCeil(line.height()) : 0;
    if (!fits || height > display.height())
        return false;

    QRect textRect = textRectangle(opt, QSize(qCeil(natural) + 2 * margin, height));
    textRect.adjust(margin, 0, -margin, 0);
    const QRect lineRect = QStyle::alignedRect(
        Qt::LayoutDirectionAuto, opt.displayAlignment, QSize(textRect.width(), height), textRect);
    cell.at = QPointF(textRect.x(), lineRect.top()) - display.topLeft();
    return true;
}

// A text that does not fit: the default painter's own steps, from measuring to the text it
// draws, cut short where that one cuts it.
bool GridCellPainter::layOutCutShort(const QStyleOptionViewItem &opt,
                                     int margin,
                                     CellText &cell) const
{
    const bool wrap = opt.features & QStyleOptionViewItem::WrapText;
    const QRect display = opt.rect;
    QSize measured;
    {
        QTextOption option;
        option.setWrapMode(QTextOption::WordWrap);
        QTextLayout layout(opt.text, opt.font);
        layout.setTextOption(option);
        const QSizeF size = layOutLines(layout, wrap ? display.width() - 2 * margin : kNoLimit);
        measured = QSize(qCeil(size.width()) + 2 * margin, qCeil(size.height()));
    }
    const QRect textRect = textRectangle(opt, measured).adjusted(margin, 0, -margin, 0);
    const QTextOption option = drawingOption(opt);

    QTextLayout layout(opt.text, opt.font);
    layout.setTextOption(option);
    int lastVisible = -1;
    layOutLines(layout, textRect.width(), textRect.height(), &lastVisible);
    const QRect layoutRect = QStyle::alignedRect(Qt::LayoutDirectionAuto,
                                                 opt.displayAlignment,
                                                 layout.boundingRect().size().toSize(),
                                                 textRect);
    QPointF start(textRect.x(), layoutRect.top());
    QString shown;
    qreal height = 0;
    const int lineCount = layout.lineCount();
    for (int i = 0; i < lineCount; ++i) {
        const QTextLine line = layout.lineAt(i);
        height += line.height();
        if (height + layoutRect.top() <= textRect.top()) {
            start.ry() += line.height();
            continue;
        }
        const bool cut = line.naturalTextWidth() > textRect.width();
        bool cutLast = lastVisible == i;
        if (!cut && i + 1 < lineCount) {
            const int nextHeight = int(height + layout.lineAt(i + 1).height() / 2);
            if (nextHeight + layoutRect.top() > textRect.height() + textRect.top())
                cutLast = true;
        }
        QString text = layout.text().mid(line.textStart(), line.textLength());
        if (cut || cutLast) {
            if (cutLast) {
                if (text.endsWith(QChar::LineSeparator))
                    text.chop(1);
                text += QChar(0x2026);
            }
            shown += QFontMetrics(opt.font).elidedText(text, opt.textElideMode, textRect.width());
            if (i < lineCount - 1 && !shown.endsWith(QChar::LineSeparator))
                shown += QChar::LineSeparator;
        } else {
            shown += text;
        }
        if (height + layoutRect.top() >= textRect.bottom()
            || (lastVisible >= 0 && lastVisible == i))
            break;
    }

    cell.layout.setCacheEnabled(true);
    cell.layout.setText(shown);
    cell.layout.setFont(opt.font);
    cell.layout.setTextOption(option);
    layOutLines(cell.layout, textRect.width());
    cell.at = start - QPointF(display.topLeft());
    return true;
}

} // namespace zq::widgets
