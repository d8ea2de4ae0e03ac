// The holder window's modes, the holder shown, navigation and the save prompt.
#include "TfrmHolder.h"

#include "Connection.h"
#include "FileDialogs.h"
#include "Helpers.h"
#include "HolderDataPage.h"
#include "HolderLog.h"
#include "Recordset.h"
#include "Services.h"

#include <QApplication>
#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

namespace zq::forms {

namespace svc = zq::services;
namespace st = zq::forms::holder;
using zq::data::Connection;

HolderDataPage *TfrmHolder::page()
{
    if (m_page)
        return m_page;
    m_page = new HolderDataPage(m_ui.tsData);
    auto *layout = new QVBoxLayout(m_ui.tsData);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_page);
    m_page->show(); // a layout would show it only once the events have their turn
    giveCodesToPage();
    m_page->setDepositItems(m_depositItems);
    m_page->setMode(HolderDataPage::Mode(m_mode));
    if (m_shown) {
        m_page->setProperty("zq.formClass", property("zq.formClass"));
        svc::SetupFormLanguage(m_page);
    }
    showOnPage();
    connect(m_page, &HolderDataPage::edited, this, [this] { m_modified = true; });
    connect(m_page, &HolderDataPage::refused, this, [] { svc::PlaySoundError(); });
    connect(m_page, &HolderDataPage::openPhotoClicked, this, &TfrmHolder::btnOpenClick);
    connect(m_page, &HolderDataPage::clearPhotoClicked, this, &TfrmHolder::btnClearClick);
    connect(m_page, &HolderDataPage::nextRequested, this, &TfrmHolder::btnNextClick);
    connect(m_page, &HolderDataPage::previousRequested, this, &TfrmHolder::btnPrevClick);
    connect(m_page, &HolderDataPage::depositRemoved, this, &TfrmHolder::removeDeposit);
    connect(m_page, &HolderDataPage::emailClicked, this, [](const QString &address) {
        zq::platform::openUrl(QStringLiteral("mailto:") + address
                              + QStringLiteral("?Subject=&body="));
    });
    // Made on a page being shown: laid out at once, as the page paints, and a click may land
    // on it, before the layout's own request would come round.
    layout->activate();
    if (QWidget::layout())
        QWidget::layout()->activate();
    return m_page;
}

int TfrmHolder::punchFlag() const
{
    return m_page ? m_page->current().punch : m_holder.punch;
}

QByteArray TfrmHolder::currentPhoto() const
{
    return m_page ? m_page->photo() : m_holder.photo;
}

void TfrmHolder::enterMode(Mode mode)
{
    m_mode = mode;
    m_lock = false;
    m_modified = false;
    svc::SelectLanguage();
    static const char *const names[] = {"ViewMode", "AddMode", "EditMode"};
    m_ui.panel0->setText(svc::GetFunctionString(QString::fromLatin1(names[mode])));
    m_ui.panel1->clear();
    if (adq1DB->isOpen() && !adq1DB->isEmpty())
        m_ui.panel1->setText(QString(QChar(0x3000)) + QString::number(adq1DB->recordCount()));
    if (mode == ViewMode) {
        if (m_page)
            m_page->setMode(HolderDataPage::Mode::View);
        m_ui.pcData->setCurrentWidget(m_ui.tsView);
        m_ui.tsData->setEnabled(false);
        loadDeposits();
    } else {
        page()->setMode(HolderDataPage::Mode(mode));
        m_ui.tsData->setEnabled(true);
        m_ui.pcData->setCurrentWidget(m_ui.tsData);
        if (mode == AddMode)
            m_page->focusNumber();
        else
            m_page->focusName();
    }
    m_modified = false;
}

// The holder of the listing's current row: read with his photo, and shown on the page when
// it is made.
void TfrmHolder::showHolder()
{
    m_lock = true;
    try {
        m_holder = st::fromListing(*adq1DB);
        if (m_holder.isStored()) {
            storeDeposit(m_holder.deposit04);
            readPhoto();
        }
    } catch (...) {
        st::logCaught("reading the holder shown");
        m_holder = st::HolderRecord();
    }
    if (m_page)
        showOnPage();
    m_modified = false;
    m_lock = false;
}

void TfrmHolder::showOnPage()
{
    if (m_holder.isStored())
        m_page->display(m_holder);
    else
        m_page->clearFields();
    m_pageShown = m_page->current();
}

// The photo is not in the listing: it is read by the holder's key, and its value as read
// guards his update and his deletion as the listing's columns do.
void TfrmHolder::readPhoto()
{
    adqphoto->close();
    adqphoto->setStatement(
        QStringLiteral(" SELECT HolderNo,Photo FROM HolderData WHERE HolderNo = ")
        + Connection::quoted(m_holder.key) + QStringLiteral(" "));
    adqphoto->open();
    st::takePhoto(m_holder,
                  adqphoto->isEmpty() ? QVariant() : adqphoto->value(QStringLiteral("Photo")));
    adqphoto->close();
}

void TfrmHolder::btnAddClick()
{
    if (m_mode == AddMode) {
        svc::PlaySoundError();
        return;
    }
    if (m_mode == EditMode && !savePrompt())
        return;
    svc::PlaySoundOk();
    enterMode(AddMode);
    adoChk->close();
}

void TfrmHolder::btnEditClick()
{
    if (!adq1DB->isOpen() || adq1DB->isEmpty()) {
        svc::PlaySoundError();
        return;
    }
    if (m_mode != ViewMode && !savePrompt())
        return;
    svc::PlaySoundOk();
    enterMode(m_mode == EditMode ? ViewMode : EditMode);
    showHolder();
}

void TfrmHolder::btnCancelClick()
{
    if (m_mode == ViewMode) {
        svc::PlaySoundError();
        return;
    }
    svc::PlaySoundOk();
    enterMode(ViewMode);
    showHolder();
}

void TfrmHolder::navigate(int where)
{
    if (!adq1DB->isOpen()) {
        svc::PlaySoundError();
        return;
    }
    if (!adq1DB->isEmpty() && m_mode == EditMode && !savePrompt())
        return;
    svc::PlaySoundOk();
    switch (where) {
    case 0:
        adq1DB->first();
        break;
    case 1:
        adq1DB->prior();
        break;
    case 2:
        adq1DB->next();
        break;
    default:
        adq1DB->last();
        break;
    }
}

bool TfrmHolder::savePrompt()
{
    // Only the listing's mode has run without the page: there is nothing to save.
    if (!m_page)
        return true;
    try {
        m_page->trimKeyFields();
        // Only the OK command saves: without its right the input goes as on Cancel.
        if (!adq1DB->isOpen() || !(m_rights & 16))
            return true;
        const bool filled = !m_page->number().isEmpty() && !m_page->name().isEmpty();
        if (m_mode == AddMode || (m_mode == EditMode && m_modified && !adq1DB->isEmpty())) {
            if (!filled)
                return true;
            svc::SelectLanguage();
            if (svc::ShowMessageBox(QStringLiteral("SaveEdit"), QStringLiteral("SystemMessage"), 36)
                == 6)
                return m_mode == AddMode ? insertHolder() : updateHolder();
        }
        return true;
    } catch (...) {
        st::logCaught("the save prompt");
        return false;
    }
}

} // namespace zq::forms
