#include "RowHeader.h"

#include <QEvent>

namespace zq::forms {

RowHeader::RowHeader(QWidget *parent)
    : zq::widgets::GridHeader(Qt::Vertical, parent)
{
    // As the header a QTableView makes for itself.
    setSectionsClickable(true);
    setHighlightSections(true);
}

RowHeader::Key RowHeader::key() const
{
    return {model(), style(), font(), count(), hiddenSectionCount(), m_generation};
}

QSize RowHeader::sizeHint() const
{
    const Key now = key();
    if (!m_hint.isValid() || !(now == m_key)) {
        m_hint = QHeaderView::sizeHint();
        m_key = now;
    }
    return m_hint;
}

void RowHeader::setModel(QAbstractItemModel *model)
{
    if (m_watched)
        disconnect(m_watched, nullptr, this, nullptr);
    QHeaderView::setModel(model);
    m_watched = model;
    forget();
    if (!model)
        return;
    // Texts of the same number of rows may change with these.
    connect(
        model, &QAbstractItemModel::headerDataChanged, this, [this](Qt::Orientation orientation) {
            if (orientation == Qt::Vertical)
                forget();
        });
    connect(model, &QAbstractItemModel::modelReset, this, [this] { forget(); });
    connect(model, &QAbstractItemModel::layoutChanged, this, [this] { forget(); });
    connect(model, &QAbstractItemModel::rowsMoved, this, [this] { forget(); });
    connect(model, &QAbstractItemModel::rowsInserted, this, [this] { forget(); });
    connect(model, &QAbstractItemModel::rowsRemoved, this, [this] { forget(); });
}

bool RowHeader::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::StyleChange:
    case QEvent::FontChange:
    case QEvent::ApplicationFontChange:
    case QEvent::LayoutDirectionChange:
    case QEvent::ScreenChangeInternal:
        forget();
        break;
    default:
        break;
    }
    return QHeaderView::event(event);
}

} // namespace zq::forms
