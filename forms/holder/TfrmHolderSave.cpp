// Saving a holder: OK, insert and update.
#include "TfrmHolder.h"

#include "Connection.h"
#include "Helpers.h"
#include "HolderDataPage.h"
#include "HolderLog.h"
#include "HolderStatements.h"
#include "Recordset.h"
#include "Services.h"
#include "WriteFailure.h"

#include <QApplication>
#include <QComboBox>
#include <QTabWidget>
#include <QToolBar>

namespace zq::forms {

namespace svc = zq::services;
namespace st = zq::forms::holder;
using zq::data::Connection;
using zq::data::Recordset;

namespace {
const QString kRightKey = QStringLiteral("BasicDataHolderI");
} // namespace

void TfrmHolder::btnOkClick()
{
    if (m_page)
        m_page->trimKeyFields();
    m_ui.tbEdit->setEnabled(false);
    QCoreApplication::processEvents();
    try {
        if (m_mode == ViewMode || !m_page) {
            svc::PlaySoundError();
        } else if (m_page->number().isEmpty() || m_page->name().isEmpty()) {
            const bool noNumber = m_page->number().isEmpty();
            svc::PlaySoundQuestion();
            svc::SelectLanguage();
            svc::ShowMessageBox(noNumber ? QStringLiteral("PleaseInputHolderNo")
                                         : QStringLiteral("PleaseInputHolderName"),
                                QStringLiteral("SystemMessage"),
                                64);
            m_ui.tsData->setEnabled(true);
            m_ui.pcData->setCurrentWidget(m_ui.tsData);
            if (noNumber)
                m_page->focusNumber();
            else
                m_page->focusName();
        } else if (m_mode == AddMode) {
            svc::PlaySoundOk();
            insertHolder();
        } else if (adq1DB->isOpen()) {
            svc::PlaySoundOk();
            updateHolder();
        }
    } catch (...) {
        st::logCaught("OK");
    }
    m_ui.tbEdit->setEnabled(true);
    QCoreApplication::processEvents();
}

void TfrmHolder::reloadAfterSave()
{
    m_ui.pcData->setEnabled(false);
    m_ui.tbEdit->setEnabled(false);
    m_filter = m_filterNumbers.value(cmbDept->currentIndex()).trimmed();
    runListing(st::reloadListing(m_filter, rightsUser()));
    m_ui.pcData->setEnabled(true);
    m_ui.tbEdit->setEnabled(true);
}

// The write of adq2DB's row in one transaction, then its audit entry and the deposit list;
// `ready` says that adq2DB holds what the write needs.
bool TfrmHolder::storeHolder(bool ready, bool inserting, const st::HolderRecord &edited)
{
    m_lock = true;
    // The holder as the window read him guards the update, not as just read again: a field
    // another workstation changed since is not overwritten unseen.
    if (ready && !inserting)
        st::guardWith(*adq2DB, m_holder);
    const bool committed = ready && zq::data::WriteInTransaction(adq1DB->connection(), [&] {
                               if (inserting)
                                   adq2DB->append();
                               else
                                   adq2DB->edit();
                               st::writeHolder(*adq2DB, m_pageShown, edited, inserting);
                               adq2DB->post();
                           });
    if (!committed) {
        adq2DB->cancel();
        // Nothing was stored: the input stays on the Data page, the holder as read stays the
        // guard of the next OK, and the audit trail holds only what was committed.
        m_lock = false;
        if (!ready && !inserting && adq2DB->isOpen())
            tellConflict(); // deleted on another workstation since it was shown
        else
            tellWriteFailure(adq1DB->connection());
        return false;
    }
    svc::AddProgramRunEdit(
        kRightKey, (inserting ? QStringLiteral("A ") : QStringLiteral("E ")) + edited.number);
    storeDeposit(edited.deposit04);
    return true;
}

// The duplicate test: true (and the operator told) when `number` is another holder's.
bool TfrmHolder::refuseDuplicate(const QString &number, bool inserting)
{
    if (zq::data::RunQuery(adoChk, st::holdersNumbered(number), 0) != 1 || adoChk->isEmpty()) {
        adoChk->close();
        return false;
    }
    svc::SelectLanguage();
    const QString message = svc::GetMessageString(QStringLiteral("HolderNoDouble"));
    if (inserting)
        svc::ShowMessageBox(
            message + QStringLiteral("  ") + adoChk->text(QStringLiteral("HolderNo")).trimmed()
                + QStringLiteral(" : ") + adoChk->text(QStringLiteral("HolderName")).trimmed()
                + QStringLiteral("  "),
            QStringLiteral("SystemMessage"),
            64);
    else
        svc::ShowMessageBox(message + QStringLiteral("   [")
                                + adoChk->text(QStringLiteral("HolderName"))
                                + QStringLiteral("]   "),
                            QStringLiteral("SystemMessage"),
                            0);
    m_ui.tsData->setEnabled(true);
    m_ui.pcData->setCurrentWidget(m_ui.tsData);
    m_page->focusNumber();
    adoChk->close();
    return true;
}

bool TfrmHolder::insertHolder()
{
    try {
        m_page->trimKeyFields();
        const st::HolderRecord edited = m_page->current();
        if (refuseDuplicate(edited.number, true))
            return false;
        adq2DB->close();
        zq::data::RunQuery(
            adq2DB, QStringLiteral(" SELECT * FROM HolderData WHERE HolderNo IS NULL "), 0);
        if (!storeHolder(adq2DB->isOpen(), true, edited))
            return false;
        adq1DB->close();
        adq2DB->close();
        m_filter.clear();
        const qsizetype at = m_filterNumbers.indexOf(edited.departmentNo);
        selectFilterIndex(at < 0 ? 0 : int(at));
        reloadAfterSave();
        zq::data::LocateRecord(adq1DB, QStringLiteral("HolderNo"), edited.number);
        enterMode(ViewMode);
        showHolder();
        return true;
    } catch (...) {
        st::logCaught("adding a holder");
        m_lock = false;
        m_modified = false;
        adoChk->close();
        return false;
    }
}

bool TfrmHolder::updateHolder()
{
    try {
        m_page->trimKeyFields();
        const st::HolderRecord edited = m_page->current();
        // The row is found by its key as stored; trailing blanks do not make it another number.
        const bool renamed = edited.number != m_holder.number;
        if (renamed && refuseDuplicate(edited.number, false))
            return false;
        adq2DB->close();
        const bool found = zq::data::RunQuery(adq2DB, st::holderByKey(m_holder.key), 0) == 1
                           && !adq2DB->isEmpty();
        if (!storeHolder(found, false, edited))
            return false;
        const QString key = renamed ? edited.number : m_holder.key;
        const QString statement = adq1DB->statement();
        adq1DB->close();
        adq2DB->close();
        const QString department = edited.departmentNo;
        const QString filter = m_filterNumbers.value(cmbDept->currentIndex()).trimmed();
        if (filter != department) {
            m_filter.clear();
            const qsizetype at = m_filterNumbers.indexOf(department);
            selectFilterIndex(at < 0 ? 0 : int(at));
            reloadAfterSave();
        } else {
            runListing(statement);
        }
        zq::data::LocateRecord(adq1DB, QStringLiteral("HolderNo"), key);
        enterMode(EditMode);
        showHolder();
        adoChk->close();
        return true;
    } catch (...) {
        st::logCaught("saving a holder");
        m_lock = false;
        m_modified = false;
        adoChk->close();
        return false;
    }
}

} // namespace zq::forms
