// Saving a holder: OK, insert and update.
#include "TfrmHolder.h"

#include "Connection.h"
#include "Helpers.h"
#include "HolderStatements.h"
#include "Recordset.h"
#include "Services.h"
#include "WriteFailure.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QTabWidget>
#include <QToolBar>

namespace zq::forms {

namespace svc = zq::services;
namespace st = zq::forms::holder;
using zq::data::Connection;
using zq::data::Recordset;

namespace {
const QString kRightKey = QStringLiteral("BasicDataHolderI");
// The row under its key exactly as stored.
QString holderByKey(const QString &key)
{
    return QStringLiteral(" SELECT * FROM HolderData WHERE HolderNo = ") + Connection::quoted(key);
}
} // namespace

void TfrmHolder::btnOkClick()
{
    for (QLineEdit *e : {edNo, edName, edShowText})
        e->setText(e->text().trimmed());
    m_ui.tbEdit->setEnabled(false);
    QCoreApplication::processEvents();
    try {
        if (m_mode == ViewMode) {
            svc::PlaySoundError();
        } else if (edNo->text().isEmpty() || edName->text().isEmpty()) {
            const bool noNumber = edNo->text().isEmpty();
            svc::PlaySoundQuestion();
            svc::SelectLanguage();
            svc::ShowMessageBox(noNumber ? QStringLiteral("PleaseInputHolderNo")
                                         : QStringLiteral("PleaseInputHolderName"),
                                QStringLiteral("SystemMessage"),
                                64);
            m_ui.tsData->setEnabled(true);
            m_ui.pcData->setCurrentWidget(m_ui.tsData);
            (noNumber ? edNo : edName)->setFocus();
        } else if (m_mode == AddMode) {
            svc::PlaySoundOk();
            insertHolder();
        } else if (adq1DB->isOpen()) {
            svc::PlaySoundOk();
            updateHolder();
        }
    } catch (...) {
    }
    m_ui.tbEdit->setEnabled(true);
    QCoreApplication::processEvents();
}

void TfrmHolder::writeHolder(Recordset &rs, bool inserting)
{
    const auto text = [](QLineEdit *e) { return e->text().trimmed(); };
    // A key stored with trailing blanks stays as it is: the holder's cards are filed under it.
    if (inserting || rs.text(QStringLiteral("HolderNo")).trimmed() != text(edNo))
        rs.setField(QStringLiteral("HolderNo"), text(edNo));
    rs.setField(QStringLiteral("HolderName"), text(edName));
    rs.setField(QStringLiteral("ShowText"), text(edShowText));
    rs.setField(QStringLiteral("Email"), text(edEmail));
    rs.setField(QStringLiteral("PIN"), text(edPIN));
    rs.setField(QStringLiteral("Definable1"), text(edDefinable1));
    rs.setField(QStringLiteral("Definable2"), text(edDefinable2));
    rs.setField(QStringLiteral("Description"), text(edDescription));
    const auto code = [](QComboBox *combo, const QStringList &numbers) {
        return combo->currentText().trimmed().isEmpty()
                   ? QString()
                   : numbers.value(combo->currentIndex()).trimmed();
    };
    // A department the user may not see leaves the combo without selection; the holder
    // keeps the one stored rather than losing it.
    if (inserting || cmbDepartment->currentIndex() >= 0)
        rs.setField(QStringLiteral("DepartmentNo"), code(cmbDepartment, m_departmentNumbers));
    rs.setField(QStringLiteral("TitleNo"), code(cmbTitle, m_titleNumbers));
    rs.setField(QStringLiteral("TypeNo"), code(cmbType, m_typeNumbers));
    rs.setField(QStringLiteral("PunchCard"), m_punch);
    rs.setField(QStringLiteral("Birthday"), dtBirthday->date().startOfDay());
    rs.setField(QStringLiteral("StartDate"), dtStartDate->date().startOfDay());
    rs.setField(QStringLiteral("Deposit01"), dtDeposit01->date().startOfDay());
    rs.setField(QStringLiteral("Deposit02"),
                cbxDeposit02->isChecked() ? QVariant(dtDeposit02->date().startOfDay())
                                          : QVariant());
    rs.setField(QStringLiteral("Deposit03"),
                cbxDeposit03->isChecked() ? QVariant(dtDeposit03->date().startOfDay())
                                          : QVariant());
    rs.setField(QStringLiteral("Deposit04"), cmbDeposit04->currentText());
    rs.setField(QStringLiteral("ExpiredDate"),
                cbxExpireDate->isChecked() ? QVariant(dtExpiredDate->date().startOfDay())
                                           : QVariant());
    rs.setField(QStringLiteral("Photo"), m_photo.isEmpty() ? QVariant() : QVariant(m_photo));
    rs.setField(QStringLiteral("CheckMark"), 1);
    if (inserting)
        rs.setField(QStringLiteral("Enabled"), 1);
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

bool TfrmHolder::storeHolder(bool ready, bool inserting, const QString &number)
{
    m_lock = true;
    if (ready && !inserting) {
        // The holder as the window showed him guards the update, not as just read again:
        // a field another workstation changed since is not overwritten unseen.
        adq2DB->takeValuesFrom(*adq1DB);
        adq2DB->setReadValue(QStringLiteral("Photo"), m_photoShown);
    }
    const bool committed = ready
                           && zq::data::WriteInTransaction(adq1DB->connection(), [this, inserting] {
                                  if (inserting)
                                      adq2DB->append();
                                  else
                                      adq2DB->edit();
                                  writeHolder(*adq2DB, inserting);
                                  adq2DB->post();
                              });
    if (!committed) {
        adq2DB->cancel();
        // Nothing was stored: the input stays on the Data page, and the audit trail holds
        // only what was committed.
        m_lock = false;
        if (!ready && !inserting && adq2DB->isOpen() && number == m_displayed)
            tellConflict(); // deleted on another workstation since it was shown
        else
            tellWriteFailure(adq1DB->connection());
        return false;
    }
    svc::AddProgramRunEdit(kRightKey,
                           (inserting ? QStringLiteral("A ") : QStringLiteral("E ")) + number);
    storeDeposit(cmbDeposit04->currentText());
    return true;
}

bool TfrmHolder::insertHolder()
{
    try {
        for (QLineEdit *e : {edNo, edName, edShowText})
            e->setText(e->text().trimmed());
        const QString number = edNo->text();
        if (zq::data::RunQuery(adoChk, st::holdersNumbered(number), 0) == 1 && !adoChk->isEmpty()) {
            svc::SelectLanguage();
            const QString text = svc::GetMessageString(QStringLiteral("HolderNoDouble"))
                                 + QStringLiteral("  ")
                                 + adoChk->text(QStringLiteral("HolderNo")).trimmed()
                                 + QStringLiteral(" : ")
                                 + adoChk->text(QStringLiteral("HolderName")).trimmed()
                                 + QStringLiteral("  ");
            svc::ShowMessageBox(text, QStringLiteral("SystemMessage"), 64);
            m_ui.tsData->setEnabled(true);
            m_ui.pcData->setCurrentWidget(m_ui.tsData);
            edNo->setFocus();
            adoChk->close();
            return false;
        }
        adoChk->close();
        adq2DB->close();
        zq::data::RunQuery(
            adq2DB, QStringLiteral(" SELECT * FROM HolderData WHERE HolderNo IS NULL "), 0);
        const QString department = m_departmentNumbers.value(cmbDepartment->currentIndex());
        if (!storeHolder(adq2DB->isOpen(), true, number))
            return false;
        adq1DB->close();
        adq2DB->close();
        m_filter.clear();
        const qsizetype at = m_filterNumbers.indexOf(department);
        selectFilterIndex(at < 0 ? 0 : int(at));
        reloadAfterSave();
        zq::data::LocateRecord(adq1DB, QStringLiteral("HolderNo"), number);
        m_lock = false;
        m_modified = false;
        enterMode(ViewMode);
        showHolder();
        adoChk->close();
        return true;
    } catch (...) {
        m_lock = false;
        m_modified = false;
        adoChk->close();
        return false;
    }
}

bool TfrmHolder::updateHolder()
{
    try {
        for (QLineEdit *e : {edNo, edName, edShowText})
            e->setText(e->text().trimmed());
        const QString number = edNo->text();
        // The row is found by its key as stored; trailing blanks do not make it another number.
        const bool renamed = number != m_displayed;
        if (renamed && zq::data::RunQuery(adoChk, st::holdersNumbered(number), 0) == 1
            && !adoChk->isEmpty()) {
            svc::SelectLanguage();
            svc::ShowMessageBox(
                svc::GetMessageString(QStringLiteral("HolderNoDouble")) + QStringLiteral("   [")
                    + adoChk->text(QStringLiteral("HolderName")) + QStringLiteral("]   "),
                QStringLiteral("SystemMessage"),
                0);
            m_ui.tsData->setEnabled(true);
            m_ui.pcData->setCurrentWidget(m_ui.tsData);
            edNo->setFocus();
            adoChk->close();
            return false;
        }
        adoChk->close();
        const QString department = m_departmentNumbers.value(cmbDepartment->currentIndex());
        m_lock = true;
        adq2DB->close();
        const bool found = zq::data::RunQuery(adq2DB, holderByKey(m_displayedKey), 0) == 1
                           && !adq2DB->isEmpty();
        if (!storeHolder(found, false, number))
            return false;
        const QString key = renamed ? number : m_displayedKey;
        m_lock = false;
        m_modified = false;
        const QString statement = adq1DB->statement();
        adq1DB->close();
        adq2DB->close();
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
        m_lock = false;
        m_modified = false;
        adoChk->close();
        return true;
    } catch (...) {
        m_lock = false;
        m_modified = false;
        adoChk->close();
        return false;
    }
}

} // namespace zq::forms
