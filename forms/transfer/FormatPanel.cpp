#include "FormatPanel.h"

#include "Services.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

namespace zq::forms {

using zq::transfer::transferColumns;

FormatPanel::FormatPanel(QWidget *parent)
    : QGroupBox(QStringLiteral("Format"), parent)
{
    setObjectName(QStringLiteral("gbFormat"));
    auto *outer = new QHBoxLayout(this);
    m_rows = new QVBoxLayout;
    m_rows->setSpacing(0);
    for (const zq::transfer::TransferColumn &c : transferColumns()) {
        auto *box = new QCheckBox(c.caption, this);
        box->setObjectName(c.checkName);
        box->setFocusPolicy(Qt::NoFocus);
        box->setAutoFillBackground(true);
        box->setFixedHeight(19);
        box->setMinimumWidth(200);
        box->installEventFilter(this);
        m_boxes << box;
        m_rows->addWidget(box);
    }
    outer->addLayout(m_rows, 1);
    auto *buttons = new QVBoxLayout;
    btnUp = new QPushButton(QStringLiteral("Up"), this);
    btnUp->setObjectName(QStringLiteral("btnUp"));
    btnDown = new QPushButton(QStringLiteral("Down"), this);
    btnDown->setObjectName(QStringLiteral("btnDown"));
    buttons->addStretch();
    buttons->addWidget(btnUp);
    buttons->addWidget(btnDown);
    buttons->addStretch();
    outer->addLayout(buttons);
    connect(btnUp, &QPushButton::clicked, this, &FormatPanel::btnUpClick);
    connect(btnDown, &QPushButton::clicked, this, &FormatPanel::btnDownClick);
    syncRows();
}

QCheckBox *FormatPanel::boxOf(QChar code) const
{
    for (int i = 0; i < transferColumns().size(); ++i)
        if (transferColumns().at(i).code == code)
            return m_boxes.at(i);
    return nullptr;
}

QCheckBox *FormatPanel::rowBox(int row) const
{
    if (row < 0 || row >= m_order.rowCount())
        return nullptr;
    return boxOf(m_order.codeAt(row));
}

int FormatPanel::rowOf(QChar code) const
{
    for (int row = 0; row < m_order.rowCount(); ++row)
        if (m_order.codeAt(row) == code)
            return row;
    return -1;
}

void FormatPanel::selectRow(int row)
{
    m_order.select(row);
    syncRows();
}

void FormatPanel::btnUpClick()
{
    zq::services::PlaySoundClick();
    emit touched();
    if (m_order.moveUp())
        syncRows();
    emit orderChanged();
}

void FormatPanel::btnDownClick()
{
    zq::services::PlaySoundClick();
    emit touched();
    if (m_order.moveDown())
        syncRows();
    emit orderChanged();
}

void FormatPanel::rowClicked(int row, int x)
{
    const bool toggles = x < zq::transfer::FormatOrder::CheckBoxWidth;
    m_order.click(row, x);
    syncRows();
    emit touched();
    if (toggles)
        emit orderChanged();
}

bool FormatPanel::eventFilter(QObject *watched, QEvent *event)
{
    auto *box = qobject_cast<QCheckBox *>(watched);
    if (!box || !m_boxes.contains(box))
        return QGroupBox::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (m_clicks && mouse->button() == Qt::LeftButton)
            rowClicked(m_rows->indexOf(box), int(mouse->position().x()));
        return true;
    }
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        // The panel decides what a click does; the box itself never toggles.
        return true;
    default:
        return QGroupBox::eventFilter(watched, event);
    }
}

void FormatPanel::syncRows()
{
    // Rows stand in the layout in the order's sequence; the selected one is highlighted.
    for (int row = 0; row < m_order.rowCount(); ++row) {
        QCheckBox *box = boxOf(m_order.codeAt(row));
        if (!box)
            continue;
        if (m_rows->indexOf(box) != row) {
            m_rows->removeWidget(box);
            m_rows->insertWidget(row, box);
        }
        box->setChecked(m_order.isChecked(row));
        const bool selected = row == m_order.selected();
        const QPalette p = palette();
        const QColor back = selected ? p.color(QPalette::Active, QPalette::Highlight)
                                     : p.color(QPalette::Active, QPalette::Button);
        const QColor text = selected ? QColor(Qt::white) : QColor(Qt::black);
        box->setStyleSheet(
            QStringLiteral("QCheckBox { background-color: %1; color: %2; font-weight: bold; }")
                .arg(back.name(), text.name()));
    }
}

} // namespace zq::forms
