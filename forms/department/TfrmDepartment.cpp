#include "TfrmDepartment.h"

#include "Connection.h"
#include "Helpers.h"
#include "ModuleLog.h"
#include "Recordset.h"
#include "Services.h"
#include "TfrmDepartmentView.h"
#include "WriteFailure.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QToolButton>

namespace zq::forms {

namespace svc = zq::services;
using zq::data::Connection;
using zq::data::Recordset;

namespace {
const QString kCaption = QStringLiteral("SystemMessage");
const QStringList kTools{"btnAdd",
                         "btnSearch",
                         "btnEdit",
                         "btnDelete",
                         "btnOk",
                         "btnCancel",
                         "|",
                         "btnFirst",
                         "btnPrev",
                         "btnNext",
                         "btnLast",
                         "|",
                         "btnRefresh",
                         "btnOutput",
                         "btnTreeView",
                         "|",
                         "btnExit"};
const QStringList kMenu{
    "Add", "Search", "Edit", "Delete", "Output", "First", "Prev", "Next", "Last", "Ok", "Cancel"};
} // namespace

MaintenanceSpec TfrmDepartment::departmentSpec()
{
    MaintenanceSpec s;
    s.kind = zq::module::WindowKind::Department;
    s.formClass = QStringLiteral("TfrmDepartment");
    s.designCaption = QStringLiteral("Department Establish");
    s.table = QStringLiteral("DepartmentData");
    s.keyColumn = QStringLiteral("DepartmentNo");
    s.nameColumn = QStringLiteral("DepartmentName");
    s.duplicatePrefix = QStringLiteral(" Select * From DepartmentData Where DepartmentNo = ");
    s.msgInputKey = QStringLiteral("PleaseInputDepartmentNo");
    s.msgInputName = QStringLiteral("PleaseInputDepartmentName");
    s.msgDouble = QStringLiteral("DepartmentNoDouble");
    s.gridLayoutKey = QStringLiteral("ZQHolderOfDepartment");
    s.gridColumns = {QStringLiteral("DepartmentNo"),
                     QStringLiteral("DepartmentName"),
                     QStringLiteral("Description"),
                     QStringLiteral("UnderName")};
    s.hasOutput = false;
    return s;
}

TfrmDepartment::TfrmDepartment(int rights, QWidget *parent)
    : MaintenanceWindow(departmentSpec(), rights, kTools, kMenu, parent)
    , adqUnder(new Recordset(QStringLiteral("adqUnder"), this))
    , adqUserData(new Recordset(QStringLiteral("adqUserData"), this))
    , adqUserRightDept(new Recordset(QStringLiteral("adqUserRightDept"), this))
{
    edNo = addEdit("edNo", "lblNo", "No:", 10, "DepartmentNo");
    edName = addEdit("edName", "lblName", "Name:", 20, "DepartmentName");
    edDescription = addEdit("edDescription", "lblDescription", "Description:", 40, "Description");
    const int row = dataLayout()->rowCount() - 1;
    auto *label = new QLabel(QStringLiteral("UnderNo:"), m_ui.tsData);
    label->setObjectName(QStringLiteral("lblUnderNo"));
    cmbUnderNo = new QComboBox(m_ui.tsData);
    cmbUnderNo->setObjectName(QStringLiteral("cmbUnderNo"));
    cmbUnderNo->setEditable(false);
    cmbUnderNo->setMinimumWidth(260);
    label->setBuddy(cmbUnderNo);
    dataLayout()->addWidget(label, row, 0, Qt::AlignRight | Qt::AlignVCenter);
    dataLayout()->addWidget(cmbUnderNo, row, 1);
    dataLayout()->setRowStretch(row, 0);
    dataLayout()->setRowStretch(row + 1, 1);
    connect(cmbUnderNo, &QComboBox::currentIndexChanged, this, [this] { setModified(); });

    m_ui.setButtonVisible(QStringLiteral("btnSearch"), false);
    m_ui.menuItem(QStringLiteral("mnuSearch"))->setVisible(false);
    connect(m_ui.button(QStringLiteral("btnTreeView")),
            &QToolButton::clicked,
            this,
            &TfrmDepartment::btnTreeViewClick);
    // A double-click is the Edit command, so it needs the Edit right like the button.
    connect(m_ui.dgView, &QTableView::doubleClicked, this, [this] {
        if (granted(RightEdit))
            btnEditClick();
    });

    formCreate();
    btnRefreshClick();
}

QString TfrmDepartment::loginUser() const
{
    return svc::GetLoginUserID();
}

bool TfrmDepartment::hasRightsTables() const
{
    return zq::module::tableExists(QStringLiteral("UserData"))
           && zq::module::tableExists(QStringLiteral("UserRightDept"));
}

void TfrmDepartment::openExtraQueries()
{
    const QString user = loginUser();
    Recordset q;
    q.setConnection(zq::data::moduleConnection());
    if (zq::data::RunQuery(&q,
                           QStringLiteral(" Select * From UserData WHERE UserID = ")
                               + Connection::quoted(user) + QStringLiteral(" "),
                           0)
            == 1
        && !q.isEmpty())
        m_supervisor = q.value(QStringLiteral("Supervisor")).toInt() == 1;
    m_candidates = loadParentCandidates(zq::data::moduleConnection(), m_supervisor, user);
}

QString TfrmDepartment::listStatement() const
{
    if (m_supervisor)
        return QStringLiteral(" SELECT T2.*, T1.DepartmentName AS UnderName FROM DepartmentData AS "
                              "T2 LEFT JOIN DepartmentData AS T1 ON T2.UnderNo = T1.DepartmentNo "
                              "ORDER BY T2.DepartmentNo,T2.UnderNo ");
    return QStringLiteral(" SELECT T2.*, T1.DepartmentName AS UnderName ")
           + QStringLiteral(" FROM ((DepartmentData AS T2 LEFT JOIN DepartmentData AS T1 ON "
                            "T2.UnderNo = T1.DepartmentNo) ")
           + QStringLiteral(
               " INNER JOIN UserRightDept AS T3 ON T2.DepartmentNo = T3.DepartmentNo ) ")
           + QStringLiteral(" WHERE T3.UserID = ") + Connection::quoted(loginUser())
           + QStringLiteral("          ") + QStringLiteral(" ORDER BY T2.DepartmentNo,T2.UnderNo ");
}

void TfrmDepartment::sortFailed()
{
    adoDB->close();
}

void TfrmDepartment::loadPicker(const QString &underNo)
{
    const QSignalBlocker block(cmbUnderNo);
    cmbUnderNo->clear();
    cmbUnderNo->addItems(m_picker.names);
    const qsizetype at = underNo.trimmed().isEmpty() ? 0 : indexOfNumber(m_picker.numbers, underNo);
    cmbUnderNo->setCurrentIndex(at < 0 ? 0 : int(at));
}

void TfrmDepartment::clearDataPage()
{
    MaintenanceWindow::clearDataPage();
    m_picker = m_candidates;
    loadPicker(QString());
}

void TfrmDepartment::showRecord()
{
    if (!adoDB->isOpen() || adoDB->isEmpty() || adoDB->currentRow() < 0) {
        clearDataPage();
        rememberShown();
        clearModified();
        setBusy(false);
        return;
    }
    try {
        // The department is its number as stored (older tools left blanks after some).
        const QString stored = adoDB->text(QStringLiteral("DepartmentNo"));
        if (mode() != AddMode)
            edNo->setText(stored.trimmed());
        m_picker = m_candidates;
        if (mode() == EditMode)
            removeSubtree(adoDB->connection(), stored, m_picker);
        loadPicker(adoDB->text(QStringLiteral("UnderNo")));
        edDescription->setText(adoDB->text(QStringLiteral("Description")).trimmed());
        edName->setText(adoDB->text(QStringLiteral("DepartmentName")).trimmed());
    } catch (...) {
        zq::logCaught("showing the current department");
        clearDataPage();
    }
    rememberShown();
    clearModified();
    setBusy(false);
}

void TfrmDepartment::setRow(Recordset &rs)
{
    writeText(rs, QStringLiteral("DepartmentNo"), edNo->text().trimmed());
    writeText(rs, QStringLiteral("DepartmentName"), edName->text().trimmed());
    writeText(rs, QStringLiteral("Description"), edDescription->text().trimmed());
    // The parent is written as its number is stored, so that it still names that row.
    const QString under = m_picker.numbers.value(cmbUnderNo->currentIndex());
    if (rs.state() == Recordset::State::Insert
        || differsFromShown(QStringLiteral("UnderNo"), under.trimmed()))
        rs.setField(QStringLiteral("UnderNo"), under);
}

void TfrmDepartment::grantToUsers(const QString &number)
{
    if (!hasRightsTables())
        return;
    Connection *c = adoDB->connection();
    try {
        if (zq::data::RunQuery(
                adqUserData,
                QStringLiteral(" SELECT * FROM UserData ") + QStringLiteral(" WHERE UserID = ")
                    + Connection::quoted(loginUser()) + QStringLiteral(" OR Supervisor = 1 "),
                0)
            == 1) {
            for (int row = 0; row < adqUserData->recordCount(); ++row) {
                const QString user = Recordset::textOf(
                    adqUserData->valueAt(row, adqUserData->fieldIndex(QStringLiteral("UserID"))));
                const QString sql = QStringLiteral(" SELECT * FROM UserRightDept WHERE UserID = ")
                                    + Connection::quoted(user)
                                    + QStringLiteral(" AND DepartmentNo = ")
                                    + Connection::quoted(number) + QStringLiteral(" ");
                if (zq::data::RunQuery(adqUserRightDept, sql, 0) != 1
                    || !adqUserRightDept->isEmpty())
                    continue;
                if (!zq::data::WriteInTransaction(c, [&] {
                        adqUserRightDept->append();
                        adqUserRightDept->setField(QStringLiteral("UserID"), user);
                        adqUserRightDept->setField(QStringLiteral("DepartmentNo"), number);
                        adqUserRightDept->post();
                    }))
                    adqUserRightDept->cancel();
            }
        }
    } catch (...) {
        zq::logCaught("granting a new department");
    }
    adqUserData->close();
    adqUserRightDept->close();
}

QString TfrmDepartment::numberStatement(const QString &number) const
{
    return m_spec.duplicatePrefix + Connection::quoted(number) + QStringLiteral(" ");
}

bool TfrmDepartment::insertRecord()
{
    try {
        trimInput();
        const QString number = edNo->text().trimmed();
        const KeyCheck check = checkKey(numberStatement(number));
        if (check == KeyCheck::Taken) {
            svc::SelectLanguage();
            svc::ShowMessageBox(m_spec.msgDouble, kCaption, 16);
            m_ui.pcData->setCurrentWidget(m_ui.tsData);
            edNo->setFocus();
            adoChk->close();
            return false;
        }
        // The new row goes through the (empty) check query; the listing is read again after.
        const bool written = check == KeyCheck::Free
                             && writeRow(*adoChk, true, [this](Recordset &rs) { setRow(rs); });
        adoChk->close();
        if (!written) {
            if (check == KeyCheck::Failed)
                writeFailed(false, QString());
            return false;
        }
        Connection *c = adoDB->connection();
        audit(QStringLiteral("A "), number);
        grantToUsers(number);
        m_candidates = loadParentCandidates(c, m_supervisor, loginUser());
        reloadList();
        zq::data::LocateRecord(adoDB, QStringLiteral("DepartmentNo"), number);
        setBusy(false);
        clearModified();
        showRecord();
        return true;
    } catch (...) {
        zq::logCaught("saving a department");
        setBusy(false);
        adoChk->close();
        svc::PlaySoundError();
        return false;
    }
}

bool TfrmDepartment::updateRecord()
{
    try {
        trimInput();
        const QString number = edNo->text().trimmed();
        // Found by its number as stored, which may end in blanks the Data page trims.
        const QString stored = currentListKey();
        const KeyCheck check = checkKey(numberStatement(stored));
        if (check == KeyCheck::Failed) {
            // A check that could not run is a failed save: the input stays.
            adoChk->close();
            writeFailed(false, QString());
            return false;
        }
        if (check == KeyCheck::Free) {
            // Deleted on another workstation since it was shown: nothing is written and the
            // input stays.
            adoChk->close();
            tellConflict();
            return false;
        }
        // The row as it was shown guards the update (writeRow), not as it was just read again.
        const bool written = writeRow(*adoChk, false, [this](Recordset &rs) { setRow(rs); });
        adoChk->close();
        if (!written)
            return false;
        audit(QStringLiteral("E "), number);
        m_candidates = loadParentCandidates(adoDB->connection(), m_supervisor, loginUser());
        reloadList();
        zq::data::LocateRecord(adoDB, QStringLiteral("DepartmentNo"), stored);
        setBusy(false);
        clearModified();
        showRecord();
        return true;
    } catch (...) {
        zq::logCaught("saving a department");
        setBusy(false);
        adoChk->close();
        svc::PlaySoundError();
        return false;
    }
}

// "Column = 'number'", also matching the number without its blanks where it has some: rows
// that refer to a department written back trimmed still count as referring to it.
QString TfrmDepartment::refersTo(const QString &column, const QString &stored)
{
    const QString exact = column + QStringLiteral(" = ") + Connection::quoted(stored);
    if (stored.trimmed() == stored)
        return exact;
    return QStringLiteral("( ") + exact + QStringLiteral(" OR ") + column + QStringLiteral(" = ")
           + Connection::quoted(stored.trimmed()) + QStringLiteral(" )");
}

bool TfrmDepartment::deleteRefused(const QString &stored)
{
    const auto used = [this](const QString &sql) {
        return zq::data::RunQuery(adqTmp, sql, 0) == 1 && !adqTmp->isEmpty();
    };
    QString refusal;
    if (used(QStringLiteral(" SELECT DepartmentNo FROM HolderData ") + QStringLiteral("  WHERE ")
             + refersTo(QStringLiteral("DepartmentNo"), stored) + QStringLiteral(" ")))
        refusal = QStringLiteral("HaveDepartmentCantDelete");
    else if (used(QStringLiteral(" SELECT DepartmentNo FROM DepartmentData ")
                  + QStringLiteral("  WHERE ") + refersTo(QStringLiteral("UnderNo"), stored)
                  + QStringLiteral(" ")))
        refusal = QStringLiteral("CantDelete");
    if (refusal.isEmpty())
        return false;
    svc::PlaySoundError();
    svc::SelectLanguage();
    svc::ShowMessageBox(refusal, kCaption, 16);
    return true;
}

bool TfrmDepartment::deleteShownRow(const QString &stored)
{
    // Deleted only as it was shown: a department changed or deleted on another workstation
    // meanwhile stays, and the user is told.
    bool deleted = false;
    if (zq::data::RunQuery(adoChk, numberStatement(stored), 0) != 1)
        tellWriteFailure(adoDB->connection());
    else if (adoChk->isEmpty())
        tellConflict();
    else {
        try {
            guardWithShown(*adoChk);
            adoChk->deleteCurrent();
            deleted = true;
        } catch (...) {
            zq::logCaught("deleting a department");
            tellWriteFailure(adoDB->connection());
        }
    }
    adoChk->close();
    return deleted;
}

void TfrmDepartment::btnDeleteClick()
{
    if (mode() == AddMode) {
        svc::PlaySoundError();
        return;
    }
    if (!adoDB->isOpen() || adoDB->isEmpty() || zq::data::CheckConnection() != 1) {
        svc::PlaySoundError();
        return;
    }
    try {
        const QString stored = currentListKey();
        if (!deleteRefused(stored)) {
            svc::PlaySoundQuestion();
            svc::SelectLanguage();
            if (svc::ShowMessageBox(QStringLiteral("DeleteRecord"), kCaption, 36) == 6) {
                setBusy(true);
                if (deleteShownRow(stored)) {
                    audit(QStringLiteral("D "), stored.trimmed());
                    if (hasRightsTables())
                        zq::data::RunQuery(
                            adqTmp,
                            QStringLiteral(" DELETE FROM UserRightDept WHERE DepartmentNo = ")
                                + Connection::quoted(stored) + QStringLiteral(" "),
                            1);
                }
                adqUserData->close();
                adqUserRightDept->close();
                reloadList();
                if (adoDB->isOpen())
                    adoDB->first();
                enterMode(ViewMode);
                showRecord();
            }
        }
    } catch (...) {
        zq::logCaught("the department delete");
        svc::PlaySoundError();
    }
    setBusy(false);
    adqTmp->close();
}

void TfrmDepartment::btnTreeViewClick()
{
    if (!leaveCheck())
        return;
    svc::PlaySoundOk();
    enterMode(ViewMode);
    showRecord();
    QToolButton *edit = m_ui.button(QStringLiteral("btnEdit"));
    TfrmDepartmentView view(edit && edit->isEnabled(), this);
    view.exec();
    if (view.changed())
        btnRefreshClick();
}

void TfrmDepartment::modeEntered(Mode mode)
{
    QPalette p = QApplication::palette(cmbUnderNo);
    if (mode == ViewMode) {
        const QColor blue(ReadOnlyRgb[0], ReadOnlyRgb[1], ReadOnlyRgb[2]);
        p.setColor(QPalette::Base, blue);
        p.setColor(QPalette::Button, blue);
    }
    cmbUnderNo->setPalette(p);
}

} // namespace zq::forms
