#include "TfrmHolder.h"

#include "Connection.h"
#include "Helpers.h"
#include "HolderCodes.h"
#include "HolderStatements.h"
#include "ModuleState.h"
#include "PictureBox.h"
#include "Recordset.h"
#include "RecordsetModel.h"
#include "Services.h"
#include "TfrmHolderSearch.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>

#include <utility>

namespace zq::forms {

namespace svc = zq::services;
namespace st = zq::forms::holder;
using zq::data::Connection;
using zq::data::Recordset;

namespace {
const QString kLayoutKey = QStringLiteral("ZQHolderOfHolderData");
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
                         "btnLabel",
                         "btnRefresh",
                         "btnOutput",
                         "|",
                         "btnExit",
                         "SpeedButton1"};
const QStringList kMenu{
    "Add", "Search", "Edit", "Delete", "Output", "First", "Prev", "Next", "Last", "Ok", "Cancel"};
const QStringList kGrid{
    "HolderNo", "HolderName", "DepartmentName", "TitleName", "TypeName", "ShowText", "Description"};
const QColor kSkyBlue(166, 202, 240);
} // namespace

TfrmHolder::TfrmHolder(int rights, QWidget *parent)
    : QWidget(parent)
    , adq1DB(new Recordset(QStringLiteral("adq1DB"), this))
    , adq2DB(new Recordset(QStringLiteral("adq2DB"), this))
    , adoChk(new Recordset(QStringLiteral("adoChk"), this))
    , adqTmp(new Recordset(QStringLiteral("adqTmp"), this))
    , adoSearch(new Recordset(QStringLiteral("adoSearch"), this))
    , adqphoto(new Recordset(QStringLiteral("adqphoto"), this))
    , adqCardData(new Recordset(QStringLiteral("adqCardData"), this))
    , adqDevice(new Recordset(QStringLiteral("adqDevice"), this))
    , adqDelete(new Recordset(QStringLiteral("adqDelete"), this))
    , dsDB(new zq::data::RecordsetModel(this))
    , m_rights(rights)
{
    setObjectName(QStringLiteral("frmHolder"));
    setProperty("zq.formClass", QStringLiteral("TfrmHolder"));
    setWindowTitle(QStringLiteral("Holder Establish"));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_ui.build(this, kTools, kMenu);
    m_ui.button(QStringLiteral("btnLabel"))->setText(QStringLiteral("Card Label"));
    m_ui.setButtonVisible(QStringLiteral("btnLabel"), false);
    m_ui.button(QStringLiteral("SpeedButton1"))->setText(QString());
    m_ui.setButtonVisible(QStringLiteral("SpeedButton1"), false);
    // The window opens on the listing: with the View page current from the start, showing
    // the window lays out and polishes only that page, not the Data page first; switched
    // before the pages are filled, the switch itself has nothing to hide or lay out.
    m_ui.pcData->setCurrentWidget(m_ui.tsView);
    buildViewPage();
    m_deposits.setPath(svc::GetProgramPath() + QStringLiteral("ZQDeposit.ini"));
    m_lock = true;
    m_modified = false;
    connectControls();
    formCreate();
    connectBatchEdit();
    QApplication::restoreOverrideCursor();
}

TfrmHolder::~TfrmHolder()
{
    // Never shown, the Data page's layout has no widget to own it (its fields belong to the
    // page either way).
    delete m_dataLayout;
}

QList<QLineEdit *> TfrmHolder::textFields() const
{
    return {edNo, edName, edShowText, edEmail, edPIN, edDefinable1, edDefinable2, edDescription};
}

void TfrmHolder::connectControls()
{
    using Handler = void (TfrmHolder::*)();
    const QList<QPair<QString, Handler>> commands{
        {"Add", &TfrmHolder::btnAddClick},
        {"Search", &TfrmHolder::btnSearchClick},
        {"Edit", &TfrmHolder::btnEditClick},
        {"Delete", &TfrmHolder::btnDeleteClick},
        {"Ok", &TfrmHolder::btnOkClick},
        {"Cancel", &TfrmHolder::btnCancelClick},
        {"First", &TfrmHolder::btnFirstClick},
        {"Prev", &TfrmHolder::btnPrevClick},
        {"Next", &TfrmHolder::btnNextClick},
        {"Last", &TfrmHolder::btnLastClick},
        {"Refresh", &TfrmHolder::btnRefreshClick},
        {"Output", &TfrmHolder::btnOutputClick},
        {"Exit", &TfrmHolder::btnExitClick},
        {"Label", &TfrmHolder::btnLabelClick},
    };
    for (const auto &c : commands) {
        const Handler handler = c.second;
        m_ui.connectCommand(c.first, this, [this, handler] { (this->*handler)(); });
    }
    connect(m_ui.button(QStringLiteral("SpeedButton1")),
            &QToolButton::clicked,
            this,
            &TfrmHolder::SpeedButton1Click);
    connect(m_ui.dgView->horizontalHeader(),
            &QHeaderView::sectionClicked,
            this,
            &TfrmHolder::dgViewTitleClick);
    connect(m_ui.dgView, &QTableView::doubleClicked, this, [this] {
        if (m_ui.button(QStringLiteral("btnEdit"))->isEnabled() && m_mode == ViewMode)
            btnEditClick();
    });
    connect(adq1DB, &Recordset::dataChanged, this, &TfrmHolder::onDataChanged);
    connect(cmbDept, &QComboBox::activated, this, &TfrmHolder::cmbDeptCloseUp);
    connect(btnBatchSet, &QPushButton::clicked, this, &TfrmHolder::btnBatchSetClick);
    m_ui.tsData->installEventFilter(this);
    m_ui.tbEdit->installEventFilter(this);
    m_ui.dgView->installEventFilter(this);
    m_ui.dgView->viewport()->installEventFilter(this);
}

void TfrmHolder::connectDataPage()
{
    connect(btnOpen, &QPushButton::clicked, this, &TfrmHolder::btnOpenClick);
    connect(btnClear, &QPushButton::clicked, this, &TfrmHolder::btnClearClick);
    connect(btnPunchCard, &QToolButton::clicked, this, &TfrmHolder::btnPunchCardClick);
    for (QCheckBox *box : {cbxDeposit02, cbxDeposit03, cbxExpireDate})
        connect(box, &QCheckBox::clicked, this, [this] {
            if (m_mode != ViewMode)
                m_modified = true;
            applyVisibility();
        });
    for (QLineEdit *e : textFields()) {
        connect(e, &QLineEdit::textChanged, this, [this] {
            if (m_mode != ViewMode)
                m_modified = true;
        });
        e->installEventFilter(this);
    }
    edtSequenceNo->installEventFilter(this);
    for (QComboBox *c : {cmbDepartment, cmbTitle, cmbType, cmbDeposit04})
        connect(c, &QComboBox::currentTextChanged, this, [this] {
            if (m_mode != ViewMode)
                m_modified = true;
        });
    for (QDateEdit *d : {dtBirthday, dtStartDate, dtExpiredDate})
        connect(d, &QDateEdit::dateChanged, this, [this] {
            if (m_mode != ViewMode)
                m_modified = true;
        });
    cmbDeposit04->installEventFilter(this);
    cmbDeposit04->lineEdit()->installEventFilter(this);
}

void TfrmHolder::formCreate()
{
    resize(790, 640);
    zq::data::BindFormDataSets(this, 0);
    svc::SelectLanguage();
    loadCodeLists();
    // Holders without dates get today's. Each statement finds its holders through its own
    // index of the holders without that date; the day goes in as text, so that no statement
    // is prepared (three round trips on PostgreSQL instead of one).
    const QString today = Connection::quoted(
        Connection::dateTimeText(QDate::currentDate().startOfDay()));
    for (const char *column : {"Birthday", "StartDate"})
        zq::data::RunQuery(adqTmp,
                           QStringLiteral(" UPDATE HolderData SET %1 = %2 WHERE %1 IS NULL ")
                               .arg(QLatin1String(column), today),
                           1);
    adqTmp->close();
    if (m_dataBuilt) {
        cmbDepartment->setCurrentIndex(cmbDepartment->count() > 0 ? 0 : -1);
        cmbTitle->setCurrentIndex(cmbTitle->count() > 0 ? 0 : -1);
        cmbType->setCurrentIndex(cmbType->count() > 0 ? 0 : -1);
    }
    setPunch(true);
    dsDB->setColumns(kGrid);
    dsDB->setRecordset(adq1DB);
    dsDB->attach(m_ui.dgView);
    const int width = (790 - 40) / 8;
    for (int i = 0; i < int(kGrid.size()); ++i)
        m_ui.dgView->setColumnWidth(i, width);
    applyRights();
}

void TfrmHolder::loadCodeLists()
{
    svc::SelectFormLanguage(this);
    const st::CodeList departments = st::loadCodes(
        *adqTmp,
        QStringLiteral("DepartmentData"),
        QStringLiteral("DepartmentNo"),
        QStringLiteral("DepartmentName"),
        svc::GetMessageString(QStringLiteral("DefineDepartmentName")));
    const st::CodeList titles = st::loadCodes(
        *adqTmp,
        QStringLiteral("OccupationTitle"),
        QStringLiteral("TitleNo"),
        QStringLiteral("TitleName"),
        svc::GetMessageString(QStringLiteral("DefineTitleName")));
    const st::CodeList types = st::loadCodes(
        *adqTmp,
        QStringLiteral("OccupationType"),
        QStringLiteral("TypeNo"),
        QStringLiteral("TypeName"),
        svc::GetMessageString(QStringLiteral("DefineTypeName")));
    // The department filter is filled right after from the same statement's rows.
    m_departmentsRead.reset();
    if (departments.complete)
        m_departmentsRead = departments;
    m_departmentItems = departments.names;
    m_departmentNumbers = departments.numbers;
    m_titleItems = titles.names;
    m_titleNumbers = titles.numbers;
    m_typeItems = types.names;
    m_typeNumbers = types.numbers;
    if (!m_dataBuilt)
        return;
    const QSignalBlocker b1(cmbDepartment), b2(cmbTitle), b3(cmbType);
    cmbDepartment->clear();
    cmbDepartment->addItems(m_departmentItems);
    cmbTitle->clear();
    cmbTitle->addItems(m_titleItems);
    cmbType->clear();
    cmbType->addItems(m_typeItems);
}

void TfrmHolder::loadUserAndDepartments()
{
    m_userId.clear();
    m_supervisor = false;
    m_rightsFlag = zq::module::tableExists(QStringLiteral("UserRightDept"));
    try {
        m_userId = svc::GetLoginUserID();
        if (zq::data::RunQuery(adoSearch,
                               QStringLiteral(" Select * From UserData WHERE UserID = ")
                                   + Connection::quoted(m_userId) + QStringLiteral(" "),
                               0)
                == 1
            && !adoSearch->isEmpty())
            m_supervisor = adoSearch->value(QStringLiteral("Supervisor")).toInt() == 1;
    } catch (...) {
    }
    const QSignalBlocker b2(cmbDept);
    m_departmentItems.clear();
    m_departmentNumbers.clear();
    cmbDept->clear();
    cmbDept->addItem(QString());
    m_filterNumbers = {QString()};
    const QString sql = m_supervisor || !m_rightsFlag
                            ? QStringLiteral(" SELECT * FROM DepartmentData ORDER BY DepartmentNo ")
                            : QStringLiteral(" SELECT T1.DepartmentNo,T1.DepartmentName  ")
                                  + QStringLiteral("   FROM UserRightDept T2,DepartmentData T1 ")
                                  + QStringLiteral("  WHERE T1.DepartmentNo = T2.DepartmentNo  ")
                                  + QStringLiteral("    AND T2.UserID = ")
                                  + Connection::quoted(svc::GetLoginUserID())
                                  + QStringLiteral("          ")
                                  + QStringLiteral("  ORDER BY T1.DepartmentNo                 ");
    // Every department: the rows the code lists have just read.
    const std::optional<st::CodeList> read = std::exchange(m_departmentsRead, std::nullopt);
    if ((m_supervisor || !m_rightsFlag) && read) {
        QStringList items;
        items.reserve(read->numbers.size());
        for (qsizetype i = 0; i < read->numbers.size(); ++i)
            items << read->numbers.at(i) + QStringLiteral(" : ") + read->names.at(i);
        m_departmentNumbers = read->numbers;
        m_filterNumbers << read->numbers;
        m_departmentItems = items;
        cmbDept->addItems(items);
    } else if (zq::data::RunQuery(adoSearch, sql, 0) == 1) {
        const int no = adoSearch->fieldIndex(QStringLiteral("DepartmentNo"));
        const int name = adoSearch->fieldIndex(QStringLiteral("DepartmentName"));
        QStringList items;
        items.reserve(adoSearch->recordCount());
        for (int row = 0; row < adoSearch->recordCount(); ++row) {
            const QString number = Recordset::textOf(adoSearch->valueAt(row, no)).trimmed();
            items << number + QStringLiteral(" : ")
                         + Recordset::textOf(adoSearch->valueAt(row, name)).trimmed();
            m_departmentNumbers << number;
            m_filterNumbers << number;
        }
        // In one insertion each: the combo boxes handle one batch of new rows, not one each.
        m_departmentItems = items;
        cmbDept->addItems(items);
    }
    adoSearch->close();
    if (m_dataBuilt) {
        const QSignalBlocker b1(cmbDepartment);
        cmbDepartment->clear();
        cmbDepartment->addItems(m_departmentItems);
    }
}

void TfrmHolder::applyRights()
{
    m_ui.applyRights(m_rights);
}

void TfrmHolder::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    formShow();
}

void TfrmHolder::formShow()
{
    svc::SetupFormLanguage(this);
    QStringList titles;
    for (const QString &field : kGrid)
        titles << svc::GetFunctionString(field);
    dsDB->setHeaderTitles(titles);
    svc::GetDBGridView(m_ui.dgView, kLayoutKey);
    svc::SelectFormLanguage(this);
    loadUserAndDepartments();
    m_filter.clear();
    adq1DB->close();
    adq2DB->close();
    selectFilterIndex(cmbDept->count() >= 2 ? 1 : 0);
    cmbDeptCloseUp();
    svc::PlaySoundOpen();
}

void TfrmHolder::closeEvent(QCloseEvent *event)
{
    svc::SetDBGridView(m_ui.dgView, kLayoutKey);
    zq::data::BindFormDataSets(this, 1);
    m_photo.clear();
    svc::PlaySoundClose();
    event->accept();
}

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
    }
    QApplication::restoreOverrideCursor();
}

void TfrmHolder::setColours()
{
    // A new palette restyles and repaints the page: only when the mode really changed.
    if (m_colouredMode == int(m_mode))
        return;
    m_colouredMode = int(m_mode);
    const bool view = m_mode == ViewMode;
    for (QLineEdit *e : textFields()) {
        const bool writable = !view && !(m_mode == EditMode && e == edNo);
        setEditWritable(e, writable);
    }
    for (QWidget *w : std::initializer_list<QWidget *>{cmbDepartment,
                                                       cmbTitle,
                                                       cmbType,
                                                       cmbDeposit04,
                                                       dtBirthday,
                                                       dtStartDate,
                                                       dtExpiredDate,
                                                       dtDeposit01,
                                                       dtDeposit02,
                                                       dtDeposit03}) {
        QPalette p = QApplication::palette(w);
        if (view) {
            p.setColor(QPalette::Base, kSkyBlue);
            p.setColor(QPalette::Button, kSkyBlue);
        }
        w->setPalette(p);
    }
    edEmail->setCursor(view ? Qt::PointingHandCursor : Qt::IBeamCursor);
}

void TfrmHolder::enterMode(Mode mode)
{
    // The Data page is made before its mode is entered; the listing's mode leaves it alone
    // until it is made.
    if (mode != ViewMode)
        buildPage();
    m_modeEntered = true;
    m_mode = mode;
    m_lock = false;
    m_modified = false;
    svc::SelectLanguage();
    static const char *const names[] = {"ViewMode", "AddMode", "EditMode"};
    m_ui.panel0->setText(svc::GetFunctionString(QString::fromLatin1(names[mode])));
    m_ui.panel1->clear();
    if (adq1DB->isOpen() && !adq1DB->isEmpty())
        m_ui.panel1->setText(QString(QChar(0x3000)) + QString::number(adq1DB->recordCount()));
    showModeOnPage();
    switch (mode) {
    case ViewMode:
        m_ui.pcData->setCurrentWidget(m_ui.tsView);
        m_ui.tsData->setEnabled(false);
        loadDeposits();
        break;
    case AddMode:
        m_ui.tsData->setEnabled(true);
        m_ui.pcData->setCurrentWidget(m_ui.tsData);
        clearPhoto();
        clearFields();
        cbxExpireDate->setChecked(false);
        applyVisibility();
        cmbDeposit04->setEditText(QString());
        edNo->setFocus();
        break;
    case EditMode:
        m_ui.tsData->setEnabled(true);
        m_ui.pcData->setCurrentWidget(m_ui.tsData);
        edName->setFocus();
        break;
    }
    m_keyTyped = false;
    m_showTextTyped = false;
    m_modified = false;
}

void TfrmHolder::showModeOnPage()
{
    if (!m_dataBuilt)
        return;
    setColours();
    const bool editing = m_mode != ViewMode;
    btnOpen->setVisible(editing);
    btnClear->setVisible(editing);
    cbxExpireDate->setVisible(editing);
    labExpireDate->setVisible(editing);
    if (m_mode == ViewMode) {
        dtExpiredDate->hide();
        for (QWidget *w :
             std::initializer_list<QWidget *>{cbxDeposit02, cbxDeposit03, dtDeposit02, dtDeposit03})
            w->hide();
    }
}

void TfrmHolder::clearFields()
{
    for (QLineEdit *e : textFields())
        e->clear();
    edtSequenceNo->clear();
    cmbDepartment->setCurrentIndex(cmbDepartment->count() > 0 ? 0 : -1);
    cmbTitle->setCurrentIndex(cmbTitle->count() > 0 ? 0 : -1);
    cmbType->setCurrentIndex(cmbType->count() > 0 ? 0 : -1);
    const QDate today = QDate::currentDate();
    for (QDateEdit *d :
         {dtBirthday, dtStartDate, dtExpiredDate, dtDeposit01, dtDeposit02, dtDeposit03})
        d->setDate(today);
    clearPhoto();
}

void TfrmHolder::onDataChanged()
{
    if (!m_lock)
        showHolder();
}

void TfrmHolder::showHolder()
{
    if (!m_dataBuilt) {
        // Noted for the page; what the window keeps of the holder shown is kept now.
        m_showPending = true;
        try {
            if (adq1DB->isOpen() && !adq1DB->isEmpty() && adq1DB->currentRow() >= 0) {
                m_displayed = adq1DB->text(QStringLiteral("HolderNo")).trimmed();
                m_displayedKey = adq1DB->text(QStringLiteral("HolderNo"));
                storeDeposit(adq1DB->text(QStringLiteral("Deposit04")).trimmed());
                m_punch = adq1DB->value(QStringLiteral("PunchCard")).toInt() == 1 ? 1 : 0;
            }
        } catch (...) {
        }
        m_photo.clear();
        m_photoShown = QVariant();
        m_modified = false;
        m_lock = false;
        m_showTextTyped = false;
        m_keyTyped = false;
        return;
    }
    const bool wasLocked = m_lock;
    m_lock = true;
    try {
        if (!adq1DB->isOpen() || adq1DB->isEmpty() || adq1DB->currentRow() < 0) {
            clearFields();
        } else {
            const QString number = adq1DB->text(QStringLiteral("HolderNo")).trimmed();
            if (m_mode != AddMode)
                edNo->setText(number);
            edName->setText(adq1DB->text(QStringLiteral("HolderName")).trimmed());
            edShowText->setText(adq1DB->text(QStringLiteral("ShowText")).trimmed());
            edPIN->setText(adq1DB->text(QStringLiteral("PIN")).trimmed());
            edEmail->setText(adq1DB->text(QStringLiteral("Email")).trimmed());
            edDefinable1->setText(adq1DB->text(QStringLiteral("Definable1")).trimmed());
            edDefinable2->setText(adq1DB->text(QStringLiteral("Definable2")).trimmed());
            edDescription->setText(adq1DB->text(QStringLiteral("Description")).trimmed());
            edtSequenceNo->setText(adq1DB->hasField(QStringLiteral("SequenceNo"))
                                       ? adq1DB->text(QStringLiteral("SequenceNo"))
                                       : QString());
            m_displayed = number;
            m_displayedKey = adq1DB->text(QStringLiteral("HolderNo"));
            cmbDepartment->setCurrentIndex(int(m_departmentNumbers.indexOf(
                adq1DB->text(QStringLiteral("DepartmentNo")).trimmed())));
            cmbTitle->setCurrentIndex(
                int(m_titleNumbers.indexOf(adq1DB->text(QStringLiteral("TitleNo")).trimmed())));
            cmbType->setCurrentIndex(
                int(m_typeNumbers.indexOf(adq1DB->text(QStringLiteral("TypeNo")).trimmed())));
            // A holder without a date shows today's; each field is set once, as every setting
            // formats and lays out the date's text again.
            const QDate today = QDate::currentDate();
            const QList<QPair<QString, QDateEdit *>> dates{{"Birthday", dtBirthday},
                                                           {"StartDate", dtStartDate},
                                                           {"ExpiredDate", dtExpiredDate},
                                                           {"Deposit01", dtDeposit01},
                                                           {"Deposit02", dtDeposit02},
                                                           {"Deposit03", dtDeposit03}};
            for (const auto &d : dates) {
                // Empty or unreadable text (other tools write '' into date columns) is no date.
                const QDate stored = adq1DB->isNull(d.first) ? QDate()
                                                             : adq1DB->dateTime(d.first).date();
                d.second->setDate(stored.isValid() ? stored : today);
                if (d.second == dtExpiredDate)
                    cbxExpireDate->setChecked(stored.isValid());
                else if (d.second == dtDeposit02)
                    cbxDeposit02->setChecked(stored.isValid());
                else if (d.second == dtDeposit03)
                    cbxDeposit03->setChecked(stored.isValid());
            }
            const QString deposit = adq1DB->text(QStringLiteral("Deposit04")).trimmed();
            cmbDeposit04->setEditText(deposit);
            storeDeposit(deposit);
            cmbDeposit04->setEditText(deposit);
            applyVisibility();
            setPunch(adq1DB->value(QStringLiteral("PunchCard")).toInt() == 1);
            showPhoto();
        }
    } catch (...) {
        clearFields();
    }
    Q_UNUSED(wasLocked)
    m_modified = false;
    m_lock = false;
    m_showTextTyped = false;
    m_keyTyped = false;
}

bool TfrmHolder::savePrompt()
{
    // Only the listing's mode has run without the page: there is nothing to save.
    if (!m_dataBuilt)
        return true;
    try {
        for (QLineEdit *e : {edNo, edName, edShowText})
            e->setText(e->text().trimmed());
        if (!adq1DB->isOpen())
            return true;
        // Only the OK command saves: without its right the input goes as on Cancel.
        if (!(m_rights & 16))
            return true;
        const bool filled = !edNo->text().isEmpty() && !edName->text().isEmpty();
        if (m_mode == AddMode) {
            if (!filled)
                return true;
            svc::SelectLanguage();
            if (svc::ShowMessageBox(QStringLiteral("SaveEdit"), QStringLiteral("SystemMessage"), 36)
                == 6)
                return insertHolder();
            return true;
        }
        if (m_mode != EditMode || !m_modified || adq1DB->isEmpty())
            return true;
        if (!filled)
            return true;
        svc::SelectLanguage();
        if (svc::ShowMessageBox(QStringLiteral("SaveEdit"), QStringLiteral("SystemMessage"), 36)
            == 6)
            return updateHolder();
        return true;
    } catch (...) {
        return false;
    }
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
        const bool postgres = adq1DB->connection()
                              && adq1DB->connection()->engine() == zq::data::Engine::PostgreSQL;
        m_filter.clear();
        runListing(st::likeListing(s, byNumber, postgres, rightsUser()));
        enterMode(ViewMode);
        showHolder();
    } catch (...) {
        adq1DB->close();
        adq2DB->close();
        m_filter.clear();
        selectFilterIndex(0);
        cmbDeptCloseUp();
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
        adq1DB->close();
        adq2DB->close();
        m_filter.clear();
        selectFilterIndex(0);
        cmbDeptCloseUp();
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
