#include "GridHeader.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QList>
#include <QStyle>

namespace zq::widgets {

namespace {

// Headers drawn in the application's own style (no style sheet) measure a text alike when
// font, resolution, orientation and sort indicator agree: their sizes are shared by every
// header of the process, so that the grid of each new window does not measure the same row
// numbers again.
struct SharedSizes
{
    QPointer<QStyle> style;
    QFont font;
    int dpi = 0;
    Qt::Orientation orientation = Qt::Horizontal;
    bool sortShown = false;
    QHash<QString, QSize> sizes;
};

QHash<QString, QSize> &sharedSizes(
    QStyle *style, const QFont &font, int dpi, Qt::Orientation orientation, bool sortShown)
{
    static QList<SharedSizes> all;
    all.removeIf([](const SharedSizes &s) { return s.style.isNull(); });
    for (SharedSizes &s : all)
        if (s.style == style && s.font == font && s.dpi == dpi && s.orientation == orientation
            && s.sortShown == sortShown)
            return s.sizes;
    if (all.size() >= 8)
        all.removeFirst();
    all.append({style, font, dpi, orientation, sortShown, {}});
    return all.last().sizes;
}

} // namespace

GridHeader::GridHeader(Qt::Orientation orientation, QWidget *parent)
    : QHeaderView(orientation, parent)
{}

QSize GridHeader::sectionSizeFromContents(int logicalIndex) const
{
    ensurePolished();
    const QAbstractItemModel *m = model();
    if (!m)
        return QHeaderView::sectionSizeFromContents(logicalIndex);
    const Qt::Orientation o = orientation();
    for (const int role : {int(Qt::SizeHintRole), int(Qt::FontRole), int(Qt::DecorationRole)})
        if (m->headerData(logicalIndex, o, role).isValid())
            return QHeaderView::sectionSizeFromContents(logicalIndex);
    QHash<QString, QSize> *sizes = &m_sizes;
    if (style() == QApplication::style() && qApp->styleSheet().isEmpty()) {
        sizes = &sharedSizes(style(), font(), logicalDpiY(), o, isSortIndicatorShown());
    } else if (m_style != style() || m_font != font() || m_sortShown != isSortIndicatorShown()) {
        m_sizes.clear();
        m_style = style();
        m_font = font();
        m_sortShown = isSortIndicatorShown();
    }
    const QString text = m->headerData(logicalIndex, o, Qt::DisplayRole).toString();
    const auto known = sizes->constFind(text);
    if (known != sizes->constEnd())
        return *known;
    const QSize size = QHeaderView::sectionSizeFromContents(logicalIndex);
    if (sizes->size() >= 4096)
        sizes->clear();
    sizes->insert(text, size);
    return size;
}

} // namespace zq::widgets
