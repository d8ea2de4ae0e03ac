#include "GridHeader.h"

#include <QAbstractItemModel>
#include <QStyle>

namespace zq::data {

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
    if (m_style != style() || m_font != font() || m_sortShown != isSortIndicatorShown()) {
        m_sizes.clear();
        m_style = style();
        m_font = font();
        m_sortShown = isSortIndicatorShown();
    }
    const QString text = m->headerData(logicalIndex, o, Qt::DisplayRole).toString();
    const auto known = m_sizes.constFind(text);
    if (known != m_sizes.constEnd())
        return *known;
    const QSize size = QHeaderView::sectionSizeFromContents(logicalIndex);
    if (m_sizes.size() >= 4096)
        m_sizes.clear();
    m_sizes.insert(text, size);
    return size;
}

} // namespace zq::data
