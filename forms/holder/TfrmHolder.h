#pragma once

#include "DepositList.h"
#include "HolderCodes.h"
#include "HolderRecord.h"
#include "MaintenanceChrome.h"

#include <QSet>
#include <QStringList>
#include <QWidget>

#include <optional>

class QCheckBox;
class QComboBox;
class QPushButton;

namespace zq::data {
class Recordset;
} // namespace zq::data
namespace zq::widgets {
class RecordsetModel;
} // namespace zq::widgets

namespace zq::forms {

class HolderDataPage;

/// The card holders: the listing by department on the View page, one holder on the Data
/// page, with photo, deposit data, validity dates and the punch-card switch. The holder
/// shown is a HolderRecord filled from the listing; the Data page (HolderDataPage) is made
/// the first time it is shown, and shows and edits a copy of it.
class TfrmHolder : public QWidget
{
    Q_OBJECT
public:
    enum Mode { ViewMode = 0, AddMode = 1, EditMode = 2 };

    explicit TfrmHolder(int rights, QWidget *parent = nullptr);
    ~TfrmHolder() override;

    Mode mode() const { return m_mode; }
    bool isModified() const { return m_modified; }
    zq::data::Recordset *listing() const { return adq1DB; }
    const MaintenanceChrome &chrome() const { return m_ui; }
    /// The holder shown, with his values as read.
    const holder::HolderRecord &holder() const { return m_holder; }
    /// The department filter: "" for all departments, else a department number.
    QString departmentFilter() const { return m_filter; }
    /// Card label printing clears an "ALL" filter here, as it stands for every department.
    void setDepartmentFilter(const QString &filter) { m_filter = filter; }
    /// The hidden Batch box of the View page: card labels for the batch list only.
    bool batchChosen() const;
    bool isSupervisor() const { return m_supervisor; }
    const QStringList &departmentNumbers() const { return m_departmentNumbers; }
    int punchFlag() const;
    /// The photo bytes a save stores ("" = no photo).
    QByteArray currentPhoto() const;
    /// Whether the Data page is made yet.
    bool isDataPageBuilt() const { return m_page != nullptr; }
    QString depositListPath() const { return m_deposits.path(); }

    // Handlers (menu items run the handler of the button of the same name).
    void btnAddClick();
    void btnSearchClick();
    void btnEditClick();
    void btnDeleteClick();
    void btnOkClick();
    void btnCancelClick();
    void btnRefreshClick();
    void btnOutputClick();
    void btnFirstClick() { navigate(0); }
    void btnPrevClick() { navigate(1); }
    void btnNextClick() { navigate(2); }
    void btnLastClick() { navigate(3); }
    void btnExitClick() { close(); }
    void btnBatchSetClick();
    /// "Change selected…": one change for the holders selected in the grid.
    void btnBatchEditClick();
    void btnLabelClick();
    void SpeedButton1Click();
    void dgViewTitleClick(int column);
    /// Closing the department filter's drop-down: lists the chosen department.
    void cmbDeptCloseUp();
    /// Runs the search with the criteria the search dialog would hand back.
    void searchFor(const QString &number, const QString &name);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Window and lists (TfrmHolder.cpp)
    void buildViewPage();
    void connectControls();
    void formCreate();
    void formShow();
    void loadCodeLists();
    void loadUserAndDepartments();
    void giveCodesToPage();
    // The Data page and the modes (TfrmHolderModes.cpp)
    HolderDataPage *page();
    void enterMode(Mode mode);
    void showHolder();
    void showOnPage();
    void readPhoto();
    void navigate(int where);
    bool savePrompt();
    // Listing and search (TfrmHolderListing.cpp)
    void selectFilterIndex(int index);
    void runListing(const QString &statement);
    void listFilter(const QString &key);
    void resetListing();
    std::optional<QString> rightsUser() const;
    // Saving (TfrmHolderSave.cpp)
    bool insertHolder();
    bool updateHolder();
    bool refuseDuplicate(const QString &number, bool inserting);
    bool storeHolder(bool ready, bool inserting, const holder::HolderRecord &edited);
    void reloadAfterSave();
    // Deleting (TfrmHolderDelete.cpp)
    struct CardRemoval;
    QString cardCondition(const QString &stored, int sharing);
    bool stillAsShown(CardRemoval &removal);
    bool takeCardsOff(CardRemoval &removal);
    void removeFromDevices(CardRemoval &removal);
    bool deleteRows(const CardRemoval &removal, bool &changed);
    void tellSkipped(const QString &key, const QStringList &items, int flags);
    // Batch change of the selected holders (TfrmHolderBatch.cpp)
    void connectBatchEdit();
    void updateBatchEdit();
    QList<int> selectedRows() const;
    void reselectAfterBatch(const QSet<QString> &chosen, const QString &current);
    // Side functions (TfrmHolderSide.cpp)
    void btnOpenClick();
    void btnClearClick();
    void tbEditDblClick();
    void loadDeposits();
    void storeDeposit(const QString &text);
    void removeDeposit(const QString &text);

    MaintenanceChrome m_ui;
    QComboBox *cmbDept;
    QCheckBox *chkBatch;
    QPushButton *btnBatchSet;
    HolderDataPage *m_page = nullptr;
    // The listing, one holder for a write, the duplicate test, code lists and fix-ups, user
    // and departments, the photo, and the cards and devices of a deletion.
    zq::data::Recordset *adq1DB, *adq2DB, *adoChk, *adqTmp, *adoSearch, *adqphoto;
    zq::data::Recordset *adqCardData, *adqDevice;
    zq::widgets::RecordsetModel *dsDB;
    int m_rights;
    Mode m_mode = ViewMode;
    bool m_modified = false;
    bool m_lock = true;
    bool m_shown = false;
    bool m_supervisor = false;
    bool m_rightsFlag = false;
    /// The holder shown: from the listing's current row and his photo, as read.
    holder::HolderRecord m_holder;
    /// The holder as the page showed him: the save writes what differs from it.
    holder::HolderRecord m_pageShown;
    QPair<qint64, qint64> m_depositStamp{-2, -2}; // list file's time and size when last read
    QString m_filter;
    QString m_userId;
    QStringList m_departmentNumbers, m_filterNumbers, m_titleNumbers, m_typeNumbers;
    QStringList m_departmentItems, m_titleItems, m_typeItems;
    QStringList m_depositItems;
    holder::DepositList m_deposits;
    // The departments the code lists read, for the department filter filled next.
    std::optional<holder::CodeList> m_departmentsRead;
    // The receiver of the batch command's connections to the grid and its model: destroyed
    // with the window's members, before the children whose teardown still signals.
    QObject m_batchReceiver;
};

} // namespace zq::forms
