#pragma once

#include "zqwidgets_export.h"

#include <QCache>
#include <QFont>
#include <QHashFunctions>
#include <QSize>
#include <QStyledItemDelegate>

namespace zq::widgets {

/// The cell painter of the recordset grids: draws every cell exactly as the default item
/// painter of the view's style does, in fewer steps for the common cell (text only, nothing
/// selected, no focus, check box, icon or background of its own): its text is laid out once
/// instead of three or four times, and kept for the next cell of the same text, size and
/// font. Every other cell goes the default way.
class ZQWIDGETS_EXPORT GridCellPainter : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit GridCellPainter(QObject *parent = nullptr);
    ~GridCellPainter() override;

    /// Off: every cell goes the default way (to compare the two).
    void setQuickCells(bool on) { m_quick = on; }
    /// How many texts of cells were drawn in fewer steps since the painter was made.
    int quickCells() const { return m_quickCells; }

    void paint(QPainter *painter,
               const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

private:
    struct CellText;
    struct CellKey
    {
        QString text;
        QFont font;
        QSize size;
        int flags;
        bool operator==(const CellKey &o) const
        {
            return flags == o.flags && size == o.size && text == o.text && font == o.font;
        }
        friend size_t qHash(const CellKey &k, size_t seed = 0)
        {
            return qHashMulti(seed, k.text, k.font, k.size.width(), k.size.height(), k.flags);
        }
    };
    bool paintQuick(QPainter *painter, const QStyleOptionViewItem &option) const;
    bool layOutFitting(const QStyleOptionViewItem &opt, int margin, CellText &cell) const;
    bool layOutCutShort(const QStyleOptionViewItem &opt, int margin, CellText &cell) const;
    bool m_quick = true;
    mutable int m_quickCells = 0;
    mutable QCache<CellKey, CellText> m_cells;
};

} // namespace zq::widgets
