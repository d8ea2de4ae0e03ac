// The holder window's listing: the department filter, search, sort, refresh and print.
#include "TfrmHolder.h"

#include "Connection.h"
#include "Helpers.h"
#include "HolderLog.h"
#include "HolderStatements.h"
#include "Recordset.h"
#include "RecordsetModel.h"
#include "Services.h"
#include "TfrmHolderSearch.h"

#include <QApplication>
#include <QComboBox>

namespace zq::forms {

namespace svc = zq::services;
namespace st = zq::forms::holder;
using zq::data::Recordset;

void TfrmHolder::selectFilterIndex(int index)
{
    const QSignalBlocker block(cmbDept);
    cmbDept->setCurrentIndex(index);
}

// Every caller shows the holder once the listing is open: the fields are not cleared for the
// moment the listing is closed in between.
void TfrmHolder::runListing(const QString &statement)
{
    m_lock = true;
    adq2DB->close();
    adq1DB->close();
    zq::data::RunQuery(adq1DB, statement, 0);
    m_lock = false;
    m_modified = false;
}

// After a failed listing, sort or search: the listing of the first filter entry.
void TfrmHolder::resetListing()
{
    adq1DB->close();
    adq2DB->close();
    m_filter.clear();
    selectFilterIndex(0);
    cmbDeptCloseUp();
}

std::optional<QString> TfrmHolder::rightsUser() const
{
    if (m_supervisor || !m_rightsFlag)
        return std::nullopt;
    return m_userId;
}

void TfrmHolder::cmbDeptCloseUp()
{
    listFilter(QString());
}

// The department filter's listing, on the row of `key` (HolderNo as stored) when given; the
// holder is shown once, on the row it ends on.
void TfrmHolder::listFilter(const QString &key)
{
    // The listing runs to its end without giving events a turn, so no click can come in
    // meanwhile: disabling the page and the tool bar around it would only repaint the whole
    // window for a state nobody sees.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        m_filter = m_filterNumbers.value(cmbDept->currentIndex()).trimmed();
        const bool all = m_supervisor || !m_rightsFlag;
        if (m_filter.isEmpty() && !all)
            m_userId = svc::GetLoginUserID();
        runListing(st::filterListing(m_filter, all, m_userId));
        if (!key.isEmpty()) {
            m_lock = true;
            zq::data::LocateRecord(adq1DB, QStringLiteral("HolderNo"), key);
            m_lock = false;
        }
        enterMode(ViewMode);
        showHolder();
    } catch (...) {
        st::logCaught("listing a department");
    }
    QApplication::restoreOverrideCursor();
}

void TfrmHolder::btnSearchClick()
{
    svc::SelectLanguage();
    if (m_mode != ViewMode) {
        svc::PlaySoundError();
        return;
    }
    QString number, name;
    {
        TfrmHolderSearch dialog(this);
        dialog.exec();
        number = dialog.numberCriterion();
        name = dialog.nameCriterion();
    }
    searchFor(number, name);
}

void TfrmHolder::searchFor(const QString &number, const QString &name)
{
    try {
        const bool byNumber = !number.isEmpty();
        const QString s = byNumber ? number : name;
        if (s.isEmpty())
            return;
        zq::data::RunQuery(adqTmp, st::exactSearch(s, byNumber), 0);
        if (adqTmp->isOpen() && !adqTmp->isEmpty()) {
            // The first hit in a department the user may list; a holder without a department
            // is shown with the filter on its empty item, to those who see every department.
            // Hits elsewhere only leave the listing as it was.
            const int keyColumn = adqTmp->fieldIndex(QStringLiteral("HolderNo"));
            const int deptColumn = adqTmp->fieldIndex(QStringLiteral("DepartmentNo"));
            for (int row = 0; row < adqTmp->recordCount(); ++row) {
                const QString dept = Recordset::textOf(adqTmp->valueAt(row, deptColumn)).trimmed();
                const qsizetype at = m_filterNumbers.indexOf(dept);
                if (at > 0 || (at == 0 && !rightsUser())) {
                    // The key as stored, so that the listing finds the row whatever blanks
                    // follow it.
                    const QString key = Recordset::textOf(adqTmp->valueAt(row, keyColumn));
                    adqTmp->close();
                    selectFilterIndex(int(at));
                    listFilter(key);
                    return;
                }
            }
            adqTmp->close();
            return;
        }
        adqTmp->close();
        selectFilterIndex(0);
        const zq::data::Dialect &dialect = zq::data::Dialect::of(
            adq1DB->connection() ? adq1DB->connection()->engine() : zq::data::Engine::SQLite);
        m_filter.clear();
        runListing(st::likeListing(s, byNumber, dialect, rightsUser()));
        enterMode(ViewMode);
        showHolder();
    } catch (...) {
        st::logCaught("the search");
        resetListing();
    }
}

void TfrmHolder::btnRefreshClick()
{
    if (!savePrompt())
        return;
    svc::PlaySoundOk();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    setEnabled(false);
    m_lock = true;
    m_modified = false;
    loadCodeLists();
    svc::SelectFormLanguage(this);
    loadUserAndDepartments();
    m_filter.clear();
    selectFilterIndex(cmbDept->count() >= 2 ? 1 : 0);
    cmbDeptCloseUp();
    setEnabled(true);
    QApplication::restoreOverrideCursor();
}

void TfrmHolder::dgViewTitleClick(int column)
{
    if (!adq1DB->isOpen() || adq1DB->isEmpty())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QString field = dsDB->fieldOfColumn(column);
    try {
        if (adq1DB->sort().contains(QLatin1String("DESC")))
            adq1DB->setSort(field);
        else
            adq1DB->setSort(field + QStringLiteral(" DESC"));
    } catch (...) {
        st::logCaught("sorting the listing");
        resetListing();
    }
    QApplication::restoreOverrideCursor();
}

void TfrmHolder::btnOutputClick()
{
    svc::SelectReportLanguage();
    if (!adq1DB->isOpen() || adq1DB->isEmpty())
        return;
    m_filter = m_filterNumbers.value(cmbDept->currentIndex()).trimmed();
    svc::ShowReport(QStringLiteral("HolderData.frf"), st::printListing(m_filter, rightsUser()));
}

void TfrmHolder::tbEditDblClick()
{
    svc::ShowMessageBox(QStringLiteral("20170813"), QStringLiteral("SystemMessage"), 0);
}

} // namespace zq::forms
