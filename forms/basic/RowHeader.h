#pragma once

#include "GridHeader.h"

#include <QHeaderView>
#include <QPointer>

namespace zq::forms {

/// The row-number header of the maintenance grids. It remembers its size hint for as long as
/// nothing it is measured from changed: the rows and which of them are hidden, the model's
/// header data, the font and the style. Qt measures the first and last hundred sections again
/// each time the grid's viewport changes size, which the first listing of a window does
/// twice (the header, then the scroll bar appear); when it does measure again, each row
/// number already measured is not measured again (GridHeader).
class RowHeader : public zq::widgets::GridHeader
{
public:
    explicit RowHeader(QWidget *parent = nullptr);

    QSize sizeHint() const override;
    void setModel(QAbstractItemModel *model) override;

protected:
    bool event(QEvent *event) override;

private:
    struct Key
    {
        const QAbstractItemModel *model = nullptr;
        const QStyle *style = nullptr;
        QFont font;
        int count = -1;
        int hidden = -1;
        int generation = -1;
        bool operator==(const Key &other) const = default;
    };
    Key key() const;
    void forget() { ++m_generation; }

    int m_generation = 0;
    mutable Key m_key;
    mutable QSize m_hint;
    QPointer<QAbstractItemModel> m_watched;
};

} // namespace zq::forms
