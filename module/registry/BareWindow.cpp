#include "BareWindow.h"

#include "Services.h"

#include <QCloseEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace zq::module {

BareWindow::BareWindow(const QString &formClass, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("frm") + formClass.mid(4));
    setProperty("zq.formClass", formClass);
    setWindowTitle(formClass);
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(this);
    label->setObjectName(QStringLiteral("lblPending"));
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    resize(480, 320);
    zq::services::SetupFormLanguage(this);
    label->setText(windowTitle());
}

void BareWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        zq::services::PlaySoundOpen();
    }
}

void BareWindow::closeEvent(QCloseEvent *event)
{
    zq::services::PlaySoundClose();
    event->accept();
}

} // namespace zq::module
