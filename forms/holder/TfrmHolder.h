#pragma once

#include "DepositList.h"
#include "HolderCodes.h"
#include "LazyControl.h"
#include "MaintenanceChrome.h"

#include <QByteArray>
#include <QSet>
#include <QStringList>
#include <QWidget>

#include <optional>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace zq::data {
class Recordset;
class RecordsetModel;
} // namespace zq::data

namespace zq::forms {

class PictureBox;

/// The card holders: the listing by department on the View page, one holder on the Data
/// page, with photo, deposit data, validity dates and the punch-card switch. The Data page's
/// controls are made when one of them is first used (the page shown, Add, Edit, a field
/// read): until then the holder to show is only noted.
class TfrmHolder : public QWidget, private LazyPage
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
    /// The department filter: "" for all departments, else a department number.
    QString departmentFilter() const { return m_filter; }
    /// Card label printing clears an "ALL" filter here, as it stands for every department.
    void setDepartmentFilter(const QString &filter) { m_filter = filter; }
    bool isSupervisor() const { return m_supervisor; }
    bool hasDepartmentRights() const { return m_rightsFlag; }
    const QStringList &departmentNumbers() const { return m_departmentNumbers; }
    const QStringList &filterNumbers() const { return m_filterNumbers; }
    const QStringList &titleNumbers() const { return m_titleNumbers; }
    const QStringList &typeNumbers() const { return m_typeNumbers; }
    int punchFlag() const { return m_punch; }
    /// The JPEG bytes that a save stores in Photo ("" = no photo).
    const QByteArray &currentPhoto() const;
    /// Whether the Data page's controls are made yet.
    bool isDataPageBuilt() const { return m_dataBuilt; }
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
    void btnOpenClick();
    void btnClearClick();
    void btnPunchCardClick();
    void btnBatchSetClick();
    /// "Change selected…": one change for the holders selected in the grid.
    void btnBatchEditClick();
    void btnLabelClick();
    void SpeedButton1Click();
    void edEmailClick();
    void tbEditDblClick();
    void dgViewTitleClick(int column);
    /// Closing the department filter's drop-down: lists the chosen department.
    void cmbDeptCloseUp();
    /// Runs the search with the criteria the search dialog would hand back.
    void searchFor(const QString &number, const QString &name);

    // Data page
    LazyControl<QLineEdit> edtSequenceNo{this};
    LazyControl<QLineEdit> edNo{this};
    LazyControl<QLineEdit> edName{this};
    LazyControl<QLineEdit> edShowText{this};
    LazyControl<QComboBox> cmbDepartment{this};
    LazyControl<QComboBox> cmbTitle{this};
    LazyControl<QComboBox> cmbType{this};
    LazyControl<QDateEdit> dtBirthday{this};
    LazyControl<QLineEdit> edEmail{this};
    LazyControl<QLineEdit> edPIN{this};
    LazyControl<QDateEdit> dtDeposit01{this};
    LazyControl<QCheckBox> cbxDeposit02{this};
    LazyControl<QDateEdit> dtDeposit02{this};
    LazyControl<QCheckBox> cbxDeposit03{this};
    LazyControl<QDateEdit> dtDeposit03{this};
    LazyControl<QComboBox> cmbDeposit04{this};
    LazyControl<QLineEdit> edDefinable1{this};
    LazyControl<QLineEdit> edDefinable2{this};
    LazyControl<QLineEdit> edDescription{this};
    LazyControl<QDateEdit> dtStartDate{this};
    LazyControl<QLabel> labExpireDate{this};
    LazyControl<QCheckBox> cbxExpireDate{this};
    LazyControl<QDateEdit> dtExpiredDate{this};
    LazyControl<QToolButton> btnPunchCard{this};
    LazyControl<PictureBox> imgPhoto{this};
    LazyControl<QPushButton> btnOpen{this};
    LazyControl<QPushButton> btnClear{this};
    // View page
    QComboBox *cmbDept;
    QCheckBox *chkBatch;
    QPushButton *btnBatchSet;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildPage() override;
    void buildDataPage();
    void connectDataPage();
    void buildViewPage();
    void connectControls();
    void formCreate();
    void formShow();
    void loadCodeLists();
    void loadUserAndDepartments();
    void applyRights();
    void enterMode(Mode mode);
    // The look of the mode on the Data page, once the page is made.
    void showModeOnPage();
    void clearFields();
    void showHolder();
    void showPhoto();
    void clearPhoto();
    void applyVisibility();
    void setPunch(bool down);
    void loadDeposits();
    void storeDeposit(const QString &text);
    void navigate(int where);
    void onDataChanged();
    bool savePrompt();
    bool insertHolder();
    bool updateHolder();
    void writeHolder(zq::data::Recordset &rs, bool inserting);
    // The write of adq2DB's row in one transaction, then its audit entry and the deposit
    // list; `ready` says that adq2DB holds what the write needs.
    bool storeHolder(bool ready, bool inserting, const QString &number);
    QString cardCondition(const QString &stored, int sharing);
    void reloadAfterSave();
    void setColours();
    void selectFilterIndex(int index);
    void runListing(const QString &statement);
    // The department filter's listing, on the row of `key` (HolderNo as stored) when given;
    // the holder is displayed once, on the row it ends on.
    void listFilter(const QString &key);
    // The user whose department rights bound every listing, search and print; empty for a
    // supervisor or a site without department rights.
    std::optional<QString> rightsUser() const;
    QList<QLineEdit *> textFields() const;
    // Batch change of the selected holders (TfrmHolderBatch.cpp).
    void connectBatchEdit();
    void updateBatchEdit();
    QList<int> selectedRows() const;
    void reselectAfterBatch(const QSet<QString> &chosen, const QString &current);

    MaintenanceChrome m_ui;
    zq::data::Recordset *adq1DB;
    zq::data::Recordset *adq2DB;
    zq::data::Recordset *adoChk;
    zq::data::Recordset *adqTmp;
    zq::data::Recordset *adoSearch;
    zq::data::Recordset *adqphoto;
    zq::data::Recordset *adqCardData;
    zq::data::Recordset *adqDevice;
    zq::data::Recordset *adqDelete;
    zq::data::RecordsetModel *dsDB;
    int m_rights;
    Mode m_mode = ViewMode;
    bool m_modified = false;
    bool m_lock = true;
    bool m_keyTyped = false;
    bool m_showTextTyped = false;
    bool m_shown = false;
    bool m_supervisor = false;
    bool m_rightsFlag = false;
    int m_punch = 1;
    int m_colouredMode = -1;                      // the mode whose colours the controls show
    QPair<qint64, qint64> m_depositStamp{-2, -2}; // list file's time and size when last read
    QString m_filter;
    QString m_userId;
    QString m_displayed;
    QString m_displayedKey; // HolderNo of the displayed holder as stored (blanks and all)
    QByteArray m_photo;
    /// The Photo value as it was read when the holder was shown (guards its update).
    QVariant m_photoShown;
    QStringList m_departmentNumbers, m_filterNumbers, m_titleNumbers, m_typeNumbers;
    QStringList m_depositItems;
    holder::DepositList m_deposits;
    QIcon m_yes, m_no;
    // The Data page's layout until the page is first shown; null once it is on the page.
    QGridLayout *m_dataLayout = nullptr;
    bool m_dataBuilt = false;
    bool m_building = false;
    bool m_modeEntered = false; // enterMode has run: the page takes on the mode's look
    bool m_showPending = false; // the holder to show waits for the page
    // The departments the code lists read, for the department filter filled next.
    std::optional<holder::CodeList> m_departmentsRead;
    // The combo boxes' items while the page is not made.
    QStringList m_departmentItems, m_titleItems, m_typeItems;
    // The receiver of the batch command's connections to the grid and its model: destroyed
    // with the window's members, before the children whose teardown still signals.
    QObject m_batchReceiver;
};

} // namespace zq::forms
