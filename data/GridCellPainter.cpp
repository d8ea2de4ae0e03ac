#include "GridCellPainter.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>
#include <QtMath>

namespace zq::data {

GridCellPainter::GridCellPainter(QObject *parent)
    : QStyledItemDelegate(parent)
{}

void GridCellPainter::paint(QPainter *painter, const QStyleOptionViewItem &option,
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
// rectangle, lays it out again at the width measured to see whether it must be cut short and
// a third time to draw it. A cell whose text fits on one line is laid out once here, its line
// broken at both widths as the default painter breaks it, and drawn where that one draws it,
// with the same pen and clip. The background is the view's (alternate rows) or none: the style
// paints nothing of its own under an unselected cell without a brush. Anything else, or a
// style whose item painting is not the one reproduced here, goes the default way.
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
    if (opt.state & (QStyle::State_Selected | QStyle::State_HasFocus | QStyle::State_Editing
                     | QStyle::State_MouseOver))
        return false;
    if (opt.backgroundBrush.style() != Qt::NoBrush || opt.direction != Qt::LeftToRight
        || opt.displayAlignment != (Qt::AlignLeft | Qt::AlignVCenter))
        return false;
    if (opt.text.isEmpty())
        return true;
    const qsizetype length = opt.text.size();
    if (opt.text.contains(QChar::LineSeparator) || opt.text.contains(QLatin1Char('\n'))
        || opt.text.isRightToLeft())
        return false;

    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect display = opt.rect;
    const int width = display.width() - 2 * margin;
    QTextOption textOption;
    textOption.setWrapMode(opt.features & QStyleOptionViewItem::WrapText
                               ? QTextOption::WordWrap
                               : QTextOption::ManualWrap);
    textOption.setTextDirection(opt.direction);
    textOption.setAlignment(QStyle::visualAlignment(opt.direction, opt.displayAlignment));
    QTextLayout layout(opt.text, opt.font);
    layout.setTextOption(textOption);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    bool fits = line.isValid();
    qreal natural = 0;
    int lineWidth = width;
    if (fits) {
        line.setLineWidth(width);
        natural = line.naturalTextWidth();
        fits = line.textLength() == length && natural <= width;
    }
    // The text rectangle is as wide as the text measured; at that width the line breaks again
    // (the last glyph's overhang counts), so the line is broken anew where it is narrower.
    if (fits && !opt.showDecorationSelected && qCeil(natural) < width) {
        lineWidth = qCeil(natural);
        line.setLineWidth(lineWidth);
        fits = line.textLength() == length && line.naturalTextWidth() <= lineWidth;
    }
    if (fits) {
        line.setPosition(QPointF(0, 0));
        fits = !layout.createLine().isValid();
    }
    layout.endLayout();
    const int height = fits ? qCeil(line.height()) : 0;
    if (!fits || height > display.height())
        return false;

    QRect textRect = display;
    if (!opt.showDecorationSelected)
        textRect = QStyle::alignedRect(opt.direction, opt.displayAlignment,
                                       QSize(qCeil(natural) + 2 * margin, height)
                                           .boundedTo(display.size()),
                                       display);
    textRect.adjust(margin, 0, -margin, 0);
    const QRect lineRect = QStyle::alignedRect(Qt::LayoutDirectionAuto, opt.displayAlignment,
                                               QSize(textRect.width(), height), textRect);

    QPalette::ColorGroup group = opt.state & QStyle::State_Enabled ? QPalette::Normal
                                                                   : QPalette::Disabled;
    if (group == QPalette::Normal && !(opt.state & QStyle::State_Active))
        group = QPalette::Inactive;
    painter->save();
    painter->setClipRegion(painter->hasClipping() ? painter->clipRegion() & opt.rect
                                                  : QRegion(opt.rect));
    painter->setPen(opt.palette.color(group, QPalette::Text));
    layout.draw(painter, QPointF(textRect.x(), lineRect.top()));
    painter->restore();
    ++m_quickCells;
    return true;
}

} // namespace zq::data
