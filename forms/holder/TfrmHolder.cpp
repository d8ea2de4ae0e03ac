// The holder window: its controls, creation, showing and closing, and the code and
// department lists.
#include "TfrmHolder.h"

#include "Connection.h"
#include "Helpers.h"
#include "HolderDataPage.h"
#include "HolderLog.h"
#include "HolderStatements.h"
#include "ModuleState.h"
#include "Recordset.h"
#include "RecordsetModel.h"
#include "Services.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

Q_LOGGING_CATEGORY(lcHolder, "zq.forms.holder")

namespace zq::forms {

namespace svc = zq::services;
namespace st = zq::forms::holder;
using zq::data::Connection;
using zq::data::Recordset;

void holder::logCaught(const char *where)
{
    try {
        throw;
    } catch (const std::exception &e) {
        qCWarning(lcHolder) << where << "failed:" << e.what();
    } catch (...) {
        qCWarning(lcHolder) << where << "failed";
    }
}

namespace {
const QString kLayoutKey = QStringLiteral("ZQHolderOfHolderData");
// The tool bar, in order ("|" a separator), and the commands that have a menu item.
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
// The grid's columns, in order.
const QStringList kGrid{
    "HolderNo", "HolderName", "DepartmentName", "TitleName", "TypeName", "ShowText", "Description"};
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
    , dsDB(new zq::widgets::RecordsetModel(this))
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
    // the window lays out and polishes only that page.
    m_ui.pcData->setCurrentWidget(m_ui.tsView);
    buildViewPage();
    m_deposits.setPath(svc::GetProgramPath() + QStringLiteral("ZQDeposit.ini"));
    connectControls();
    formCreate();
    connectBatchEdit();
    QApplication::restoreOverrideCursor();
}

TfrmHolder::~TfrmHolder() = default;

bool TfrmHolder::batchChosen() const
{
    return chkBatch->isChecked();
}

void TfrmHolder::buildViewPage()
{
    QWidget *page = m_ui.tsView;
    auto *layout = static_cast<QVBoxLayout *>(page->layout());
    auto *top = new QWidget(page);
    top->setObjectName(QStringLiteral("pnlTop"));
    auto *h = new QHBoxLayout(top);
    h->setContentsMargins(2, 2, 2, 2);
    auto *caption = new QLabel(QStringLiteral("Department:"), top);
    caption->setObjectName(QStringLiteral("labDepartment"));
    h->addWidget(caption);
    cmbDept = new QComboBox(top);
    cmbDept->setObjectName(QStringLiteral("cmbDept"));
    cmbDept->setMinimumWidth(260);
    h->addWidget(cmbDept);
    chkBatch = new QCheckBox(QStringLiteral("Batch"), top);
    chkBatch->setObjectName(QStringLiteral("chkBatch"));
    chkBatch->hide();
    btnBatchSet = new QPushButton(QStringLiteral("Batch Setting"), top);
    btnBatchSet->setObjectName(QStringLiteral("btnBatchSet"));
    btnBatchSet->hide();
    h->addWidget(chkBatch);
    h->addWidget(btnBatchSet);
    h->addStretch(1);
    auto *version = new QLabel(QStringLiteral("20210112"), top);
    version->setObjectName(QStringLiteral("Label1"));
    QFont bold = version->font();
    bold.setBold(true);
    version->setFont(bold);
    version->setStyleSheet(QStringLiteral("color: red"));
    h->addWidget(version);
    layout->insertWidget(0, top);
}

void TfrmHolder::connectControls()
{
    // A command: its button "btn" + name and its menu item run the handler.
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
    connect(adq1DB, &Recordset::dataChanged, this, [this] {
        if (!m_lock)
            showHolder();
    });
    connect(cmbDept, &QComboBox::activated, this, &TfrmHolder::cmbDeptCloseUp);
    connect(btnBatchSet, &QPushButton::clicked, this, &TfrmHolder::btnBatchSetClick);
    m_ui.tsData->installEventFilter(this);
    m_ui.tbEdit->installEventFilter(this);
    m_ui.dgView->installEventFilter(this);
    m_ui.dgView->viewport()->installEventFilter(this);
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
    dsDB->setColumns(kGrid);
    dsDB->setRecordset(adq1DB);
    dsDB->attach(m_ui.dgView);
    const int width = (790 - 40) / int(kGrid.size());
    for (int i = 0; i < int(kGrid.size()); ++i)
        m_ui.dgView->setColumnWidth(i, width);
    m_ui.applyRights(m_rights);
}

void TfrmHolder::loadCodeLists()
{
    svc::SelectFormLanguage(this);
    const auto codes =
        [this](const char *table, const char *key, const char *name, const char *def) {
            return st::loadCodes(*adqTmp,
                                 QLatin1String(table),
                                 QLatin1String(key),
                                 QLatin1String(name),
                                 svc::GetMessageString(QLatin1String(def)));
        };
    const st::CodeList departments = codes(
        "DepartmentData", "DepartmentNo", "DepartmentName", "DefineDepartmentName");
    const st::CodeList titles = codes("OccupationTitle", "TitleNo", "TitleName", "DefineTitleName");
    const st::CodeList types = codes("OccupationType", "TypeNo", "TypeName", "DefineTypeName");
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
    giveCodesToPage();
}

void TfrmHolder::giveCodesToPage()
{
    if (!m_page)
        return;
    using Codes = HolderDataPage::Codes;
    m_page->setCodes(Codes::Department, m_departmentNumbers, m_departmentItems);
    m_page->setCodes(Codes::Title, m_titleNumbers, m_titleItems);
    m_page->setCodes(Codes::Type, m_typeNumbers, m_typeItems);
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
        st::logCaught("reading the user");
    }
    const QSignalBlocker b2(cmbDept);
    cmbDept->clear();
    cmbDept->addItem(QString());
    m_filterNumbers = {QString()};
    m_departmentNumbers.clear();
    m_departmentItems.clear();
    // Every department: the rows the code lists have just read.
    const std::optional<st::CodeList> read = std::exchange(m_departmentsRead, std::nullopt);
    const bool all = m_supervisor || !m_rightsFlag;
    st::CodeList departments;
    if (all && read)
        departments = *read;
    else
        departments = st::loadDepartments(*adoSearch, all ? QString() : svc::GetLoginUserID());
    for (qsizetype i = 0; i < departments.numbers.size(); ++i)
        m_departmentItems << departments.numbers.at(i) + QStringLiteral(" : ")
                                 + departments.names.at(i);
    m_departmentNumbers = departments.numbers;
    m_filterNumbers << departments.numbers;
    // In one insertion: the combo box handles one batch of new rows, not one each.
    cmbDept->addItems(m_departmentItems);
    adoSearch->close();
    giveCodesToPage();
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
    // Every title whole and the columns as wide as the grid together: a title longer than its
    // share widens its column, and the last column takes what is left. A layout the operator
    // saved replaces these widths.
    QHeaderView *header = m_ui.dgView->horizontalHeader();
    const int columns = int(kGrid.size());
    // The window is 790 wide; the grid's frame, row numbers and scroll bar take the rest.
    int rest = 790 - 40 - m_ui.dgView->verticalHeader()->sizeHint().width() - 24;
    int narrow = columns;
    for (int i = 0; i < columns; ++i) {
        if (header->sectionSizeHint(i) > rest / columns) {
            rest -= header->sectionSizeHint(i);
            --narrow;
        }
    }
    const int share = narrow > 0 ? std::max(rest / narrow, 40) : 40;
    for (int i = 0; i < columns; ++i)
        header->resizeSection(i, std::max(share, header->sectionSizeHint(i)));
    header->setStretchLastSection(true);
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
    svc::PlaySoundClose();
    event->accept();
}

} // namespace zq::forms
