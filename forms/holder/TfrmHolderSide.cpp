// The holder window's side functions: photo, deposits, expiry and deposit visibility, the
// punch-card switch, the display text, the e-mail link, key filters and the sub-windows.
#include "TfrmHolder.h"

#include "Connection.h"
#include "FileDialogs.h"
#include "Helpers.h"
#include "ModuleState.h"
#include "PictureBox.h"
#include "PictureCodec.h"
#include "Recordset.h"
#include "Services.h"
#include "TfrmLabelPic.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>

#include <utility>

namespace zq::forms {

namespace svc = zq::services;
using zq::data::Connection;
using zq::data::Recordset;

void TfrmHolder::clearPhoto()
{
    m_photo.clear();
    m_photoShown = QVariant();
    imgPhoto->clear();
}

void TfrmHolder::showPhoto()
{
    clearPhoto();
    try {
        adqphoto->close();
        adqphoto->setStatement(
            QStringLiteral(" SELECT HolderNo,Photo FROM HolderData WHERE HolderNo = ")
            + Connection::quoted(adq1DB->text(QStringLiteral("HolderNo"))) + QStringLiteral(" "));
        adqphoto->open();
        m_photoShown = adqphoto->isEmpty() ? QVariant() : adqphoto->value(QStringLiteral("Photo"));
        if (!adqphoto->isEmpty()) {
            const QByteArray stored = adqphoto->bytes(QStringLiteral("Photo"));
            if (!stored.isEmpty()) {
                const QImage image = zq::platform::decodeJpeg(stored);
                if (!image.isNull()) {
                    imgPhoto->setImage(image);
                    m_photo = stored;
                }
            }
        }
    } catch (...) {
        clearPhoto();
    }
    adqphoto->close();
}

void TfrmHolder::btnOpenClick()
{
    m_modified = true;
    svc::PlaySoundOk();
    const QString path = zq::platform::getOpenFileName(this, QString(), TfrmLabelPic::fileFilter());
    if (path.isEmpty())
        return;
    const zq::platform::PictureResult picture = zq::platform::pictureForFile(path, 70);
    if (!picture.ok) {
        // Not a picture (or not readable): refused, and the holder is left without a photo
        // rather than with a part of one.
        clearPhoto();
        svc::PlaySoundError();
        return;
    }
    m_photo = picture.jpeg;
    imgPhoto->setImage(picture.image);
}

void TfrmHolder::btnClearClick()
{
    m_modified = true;
    svc::PlaySoundOk();
    clearPhoto();
}

void TfrmHolder::applyVisibility()
{
    const bool view = m_mode == ViewMode;
    const QList<QPair<QCheckBox *, QDateEdit *>> deposits{{cbxDeposit02, dtDeposit02},
                                                          {cbxDeposit03, dtDeposit03}};
    for (const auto &d : deposits) {
        d.first->setVisible(!view || d.first->isChecked());
        d.second->setVisible(d.first->isChecked());
    }
    cbxExpireDate->setVisible(!view || cbxExpireDate->isChecked());
    labExpireDate->setVisible(!view || cbxExpireDate->isChecked());
    dtExpiredDate->setVisible(cbxExpireDate->isChecked());
}

void TfrmHolder::setPunch(bool down)
{
    m_punch = down ? 1 : 0;
    if (!m_dataBuilt)
        return;
    btnPunchCard->setChecked(down);
    btnPunchCard->setIcon(down ? m_yes : m_no);
    btnPunchCard->setText(QString());
}

void TfrmHolder::btnPunchCardClick()
{
    if (m_mode == ViewMode) {
        svc::PlaySoundError();
        setPunch(!btnPunchCard->isChecked());
        return;
    }
    setPunch(btnPunchCard->isChecked());
    m_modified = true;
}

void TfrmHolder::SpeedButton1Click()
{
    try {
        // The number comes along so that each row is written back by its key; by PunchCard
        // alone the first write would change every row at once.
        if (zq::data::RunQuery(
                adqTmp,
                QStringLiteral(" SELECT HolderNo, PunchCard FROM HolderData ORDER BY HolderNo "),
                0)
            != 1)
            return;
        for (int i = 0; i < adqTmp->recordCount(); ++i) {
            adqTmp->moveTo(i);
            if (adqTmp->value(QStringLiteral("PunchCard")).toInt() == 0) {
                adqTmp->edit();
                adqTmp->setField(QStringLiteral("PunchCard"), 1);
                adqTmp->post();
            }
        }
    } catch (...) {
    }
    adqTmp->close();
}

void TfrmHolder::loadDeposits()
{
    // Read again only when the file changed since (another workstation may write it too).
    const QFileInfo file(m_deposits.path());
    const QPair<qint64, qint64> stamp = file.exists() ? qMakePair(
                                            file.lastModified().toMSecsSinceEpoch(), file.size())
                                                      : qMakePair(qint64(-1), qint64(-1));
    if (stamp == m_depositStamp && (!m_dataBuilt || cmbDeposit04->count() == m_depositItems.size()))
        return;
    m_depositStamp = stamp;
    m_depositItems = m_deposits.load();
    if (!m_dataBuilt)
        return;
    const QString text = cmbDeposit04->currentText();
    const QSignalBlocker block(cmbDeposit04);
    cmbDeposit04->clear();
    cmbDeposit04->addItems(m_depositItems);
    cmbDeposit04->setEditText(text);
}

void TfrmHolder::storeDeposit(const QString &text)
{
    if (text.trimmed().isEmpty())
        return;
    m_deposits.store(m_depositItems, text);
    if (!m_dataBuilt)
        return;
    const QString shown = cmbDeposit04->currentText();
    const QSignalBlocker block(cmbDeposit04);
    cmbDeposit04->clear();
    cmbDeposit04->addItems(m_depositItems);
    cmbDeposit04->setEditText(shown);
}

void TfrmHolder::edEmailClick()
{
    const QString address = edEmail->text().trimmed();
    if (m_mode != ViewMode || address.isEmpty())
        return;
    zq::platform::openUrl(QStringLiteral("mailto:") + address + QStringLiteral("?Subject=&body="));
}

void TfrmHolder::btnBatchSetClick()
{
    using namespace zq::module;
    if (state().flags[int(WindowKind::BatchShow)] == 0)
        createWindow(WindowKind::BatchShow);
    showDocumentWindow(state().registry[int(WindowKind::BatchShow)]);
}

void TfrmHolder::btnLabelClick()
{
    using namespace zq::module;
    try {
        m_filter = m_filterNumbers.value(cmbDept->currentIndex()).trimmed();
        QWidget *window = createWindow(WindowKind::PrintOption);
        if (auto *dialog = qobject_cast<QDialog *>(window))
            dialog->exec();
        else if (window)
            showDocumentWindow(window);
    } catch (...) {
    }
}

bool TfrmHolder::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::Show && watched == m_ui.tsData)
        buildPage();
    if (type == QEvent::Show && watched == m_ui.tsData && m_dataLayout) {
        // Laid out at once: the page paints, and a click may land on it, before the
        // layout's own request would come round; the window takes on the page's minimum
        // size as well.
        m_ui.tsData->setLayout(std::exchange(m_dataLayout, nullptr));
        m_ui.tsData->layout()->activate();
        if (layout())
            layout()->activate();
        return false;
    }
    // The Data page's controls are compared with peek(): events of other controls must not
    // make the page.
    QComboBox *const deposit04 = cmbDeposit04.peek();
    QLineEdit *const deposit04Edit = deposit04 ? deposit04->lineEdit() : nullptr;
    if (type == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (watched == m_ui.dgView && key->key() == Qt::Key_Delete) {
            if (m_ui.button(QStringLiteral("btnDelete"))->isEnabled())
                btnDeleteClick();
            return true;
        }
        // The key reaches the combo box, which hands it to its line edit.
        if ((watched == deposit04 || watched == deposit04Edit) && key->key() == Qt::Key_Backspace) {
            const QString text = cmbDeposit04->currentText();
            m_deposits.remove(m_depositItems, text);
            const QSignalBlocker block(cmbDeposit04);
            cmbDeposit04->clear();
            cmbDeposit04->addItems(m_depositItems);
            cmbDeposit04->setEditText(QString());
            if (m_mode != ViewMode && !text.isEmpty())
                m_modified = true;
            return true;
        }
        auto *edit = qobject_cast<QLineEdit *>(watched);
        if (edit && edit != deposit04Edit) {
            if (key->key() == Qt::Key_PageDown) {
                btnNextClick();
                return true;
            }
            if (key->key() == Qt::Key_PageUp) {
                btnPrevClick();
                return true;
            }
            // Typed characters only: shortcuts (Ctrl+V, ...) pass, and the digits-only
            // validator of the field judges what they insert.
            const bool shortcut = key->modifiers()
                                  & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
            if ((edit == edPIN.peek() || edit == edtSequenceNo.peek()) && !shortcut
                && !key->text().isEmpty()) {
                const QChar c = key->text().at(0);
                const bool allowed = (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                                     || key->key() == Qt::Key_Backspace
                                     || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter
                                     || !c.isPrint();
                if (!allowed)
                    return true;
            }
            if (edit == edShowText.peek())
                m_showTextTyped = true;
            else
                m_keyTyped = true;
        }
    } else if (type == QEvent::KeyRelease) {
        if ((watched == edNo.peek() || watched == edName.peek()) && !m_showTextTyped
            && m_keyTyped) {
            edShowText->setText(holder::displayText(edNo->text(), edName->text()));
            m_keyTyped = false;
        }
    } else if (type == QEvent::MouseButtonRelease && watched == edEmail.peek()) {
        edEmailClick();
    } else if (type == QEvent::MouseButtonDblClick && watched == m_ui.tbEdit) {
        tbEditDblClick();
        return true;
    } else if (type == QEvent::Wheel && watched == m_ui.dgView->viewport()) {
        if (!adq1DB->isOpen())
            return false;
        const int delta = static_cast<QWheelEvent *>(event)->angleDelta().y();
        if (delta < 0)
            btnNextClick();
        else if (delta > 0)
            btnPrevClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace zq::forms
