#pragma once

#include "TransferFormat.h"

#include <QGroupBox>
#include <QList>

class QCheckBox;
class QPushButton;
class QVBoxLayout;

namespace zq::forms {

/// The Format panel: the thirteen column rows, each a check box named after its column,
/// with Up and Down to move the selected row. A click on a row's check-box part toggles it,
/// a click on its caption only selects it.
class FormatPanel : public QGroupBox
{
    Q_OBJECT
public:
    explicit FormatPanel(QWidget *parent = nullptr);

    const zq::transfer::FormatOrder &order() const { return m_order; }
    /// The check box of the row at `row` (top to bottom).
    QCheckBox *rowBox(int row) const;
    /// The row of the column with `code`, -1 when none.
    int rowOf(QChar code) const;
    QString columnOrder() const { return m_order.columnOrder(); }
    /// Whether mouse clicks on the rows take effect (from the window's first show on).
    void setClicksEnabled(bool enabled) { m_clicks = enabled; }
    /// Selects a row without a click (the window's show selects HolderNo).
    void selectRow(int row);

    void btnUpClick();
    void btnDownClick();

    QPushButton *btnUp;
    QPushButton *btnDown;

signals:
    /// A row was clicked or moved: the window empties its progress bars.
    void touched();
    /// The column order may have changed.
    void orderChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void rowClicked(int row, int x);
    QCheckBox *boxOf(QChar code) const;
    void syncRows();
    zq::transfer::FormatOrder m_order;
    QList<QCheckBox *> m_boxes; // by catalogue position
    QVBoxLayout *m_rows;
    bool m_clicks = false;
};

} // namespace zq::forms
