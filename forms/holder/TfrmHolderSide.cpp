// The holder window's side functions: photo, deposits, the punch-card fix-up, the key and
// wheel hooks of the grid and the sub-windows.
#include "TfrmHolder.h"

#include "FileDialogs.h"
#include "Helpers.h"
#include "HolderDataPage.h"
#include "HolderLog.h"
#include "ModuleState.h"
#include "PictureCodec.h"
#include "Recordset.h"
#include "Services.h"
#include "TfrmLabelPic.h"

#include <QComboBox>
#include <QDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>

namespace zq::forms {

namespace svc = zq::services;
namespace st = zq::forms::holder;

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
        m_page->clearPhoto();
        svc::PlaySoundError();
        return;
    }
    m_page->setPhoto(picture.jpeg, picture.image);
}

void TfrmHolder::btnClearClick()
{
    m_modified = true;
    svc::PlaySoundOk();
    m_page->clearPhoto();
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
        st::logCaught("setting every punch card");
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
    if (stamp == m_depositStamp)
        return;
    m_depositStamp = stamp;
    m_depositItems = m_deposits.load();
    if (m_page)
        m_page->setDepositItems(m_depositItems);
}

void TfrmHolder::storeDeposit(const QString &text)
{
    if (text.trimmed().isEmpty())
        return;
    const qsizetype before = m_depositItems.size();
    m_deposits.store(m_depositItems, text);
    if (m_page && m_depositItems.size() != before)
        m_page->setDepositItems(m_depositItems);
}

void TfrmHolder::removeDeposit(const QString &text)
{
    m_deposits.remove(m_depositItems, text);
    m_page->setDepositItems(m_depositItems);
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
        st::logCaught("opening the card label window");
        svc::PlaySoundError();
    }
}

bool TfrmHolder::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::Show && watched == m_ui.tsData) {
        page(); // made when first shown, as a whole
    } else if (type == QEvent::KeyPress && watched == m_ui.dgView
               && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete) {
        if (m_ui.button(QStringLiteral("btnDelete"))->isEnabled())
            btnDeleteClick();
        return true;
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
