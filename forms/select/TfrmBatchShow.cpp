#include "TfrmBatchShow.h"

#include "BatchList.h"
#include "BatchStatements.h"
#include "Helpers.h"
#include "ModuleLog.h"
#include "Recordset.h"
#include "RecordsetModel.h"
#include "Services.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace zq::forms {

namespace svc = zq::services;
using zq::data::Recordset;

namespace {
const QString kLayoutKey = QStringLiteral("ZQBasiciBatchShow");
constexpr int PositionRole = Qt::UserRole;
// More selected holders than this show the progress window while the list is built.
constexpr int kQuietCount = 10;

QPushButton *glyphButton(QWidget *parent, const char *name, QStyle::StandardPixmap glyph)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(parent->style()->standardIcon(glyph));
    button->setFixedSize(34, 30);
    // The buttons act on the list that had the focus before, so they must not take it.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}
} // namespace

TfrmBatchShow::TfrmBatchShow(QWidget *parent)
    : QWidget(parent)
    , trvDepartment(new QTreeWidget(this))
    , dbgLeaveData(new QTableView(this))
    , trvSelect(new QTreeWidget(this))
    , btnAddAll(glyphButton(this, "btnAddAll", QStyle::SP_MediaSeekForward))
    , btnAdd(glyphButton(this, "btnAdd", QStyle::SP_ArrowRight))
    , btnRemove(glyphButton(this, "btnRemove", QStyle::SP_ArrowLeft))
    , btnRemoveAll(glyphButton(this, "btnRemoveAll", QStyle::SP_MediaSeekBackward))
    , btnOk(new QPushButton(QStringLiteral("OK"), this))
    , btnCancel(new QPushButton(QStringLiteral("Cancel"), this))
    , adqDepartment(new Recordset(QStringLiteral("adqDepartment"), this))
    , adqHolder(new Recordset(QStringLiteral("adqHolder"), this))
    , adqTmp(new Recordset(QStringLiteral("adqTmp"), this))
    , dsHolder(new zq::widgets::RecordsetModel(this))
{
    setObjectName(QStringLiteral("frmBatchShow"));
    setProperty("zq.formClass", QStringLiteral("TfrmBatchShow"));
    setWindowTitle(QStringLiteral("Batch Show"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    buildLayout();
    formCreate();
}

TfrmBatchShow::~TfrmBatchShow() = default;

void TfrmBatchShow::buildLayout()
{
    trvDepartment->setObjectName(QStringLiteral("trvDepartment"));
    dbgLeaveData->setObjectName(QStringLiteral("dbgLeaveData"));
    trvSelect->setObjectName(QStringLiteral("trvSelect"));
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    for (QTreeWidget *tree : {trvDepartment, trvSelect}) {
        tree->setHeaderHidden(true);
        tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
        tree->setExpandsOnDoubleClick(false);
        tree->setIndentation(16);
    }
    // The department tree never collapses, so it needs no branch marks.
    trvDepartment->setRootIsDecorated(false);
    connect(trvDepartment, &QTreeWidget::itemCollapsed, trvDepartment, &QTreeWidget::expandItem);

    dsHolder->setRecordset(adqHolder);
    dsHolder->setColumns({QStringLiteral("HolderNo"), QStringLiteral("HolderName")});
    dsHolder->attach(dbgLeaveData);
    dbgLeaveData->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dbgLeaveData->setSelectionBehavior(QAbstractItemView::SelectRows);
    dbgLeaveData->setSelectionMode(QAbstractItemView::SingleSelection);
    dbgLeaveData->verticalHeader()->hide();
    dbgLeaveData->verticalHeader()->setDefaultSectionSize(20);
    dbgLeaveData->horizontalHeader()->setHighlightSections(false);
    dbgLeaveData->horizontalHeader()->setStretchLastSection(true);
    dbgLeaveData->setColumnWidth(0, 99);
    dbgLeaveData->setColumnWidth(1, 137);
    dbgLeaveData->viewport()->installEventFilter(this);
    // Wide enough for both columns beside the vertical scroll bar.
    dbgLeaveData->setFixedWidth(99 + 137 + style()->pixelMetric(QStyle::PM_ScrollBarExtent)
                                + 2 * dbgLeaveData->frameWidth() + 2);
    dbgLeaveData->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto *moves = new QVBoxLayout;
    moves->addStretch(1);
    for (QPushButton *b : {btnAddAll, btnAdd, btnRemove, btnRemoveAll})
        moves->addWidget(b);
    moves->addStretch(1);

    auto *lists = new QHBoxLayout;
    lists->setSpacing(5);
    lists->addWidget(trvDepartment, 1);
    lists->addWidget(dbgLeaveData);
    lists->addLayout(moves);
    lists->addWidget(trvSelect, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton *b : {btnOk, btnCancel}) {
        b->setMinimumWidth(88);
        buttons->addWidget(b);
    }
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addLayout(lists, 1);
    layout->addLayout(buttons);
    // Not a fixed size: a document frame would then be laid out around the wrong size.
    setMinimumSize(600, 455);
    resize(600, 455);

    connect(trvDepartment, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *item) {
        trvDepartmentChange(item);
    });
    connect(trvDepartment,
            &QTreeWidget::itemDoubleClicked,
            this,
            &TfrmBatchShow::trvDepartmentDblClick);
    connect(dbgLeaveData, &QTableView::doubleClicked, this, &TfrmBatchShow::dbgLeaveDataDblClick);
    connect(dbgLeaveData->horizontalHeader(),
            &QHeaderView::sectionClicked,
            this,
            &TfrmBatchShow::dbgLeaveDataTitleClick);
    connect(trvSelect, &QTreeWidget::itemDoubleClicked, this, &TfrmBatchShow::trvSelectDblClick);
    connect(btnAdd, &QPushButton::clicked, this, &TfrmBatchShow::btnAddClick);
    connect(btnAddAll, &QPushButton::clicked, this, &TfrmBatchShow::btnAddAllClick);
    connect(btnRemove, &QPushButton::clicked, this, &TfrmBatchShow::btnRemoveClick);
    connect(btnRemoveAll, &QPushButton::clicked, this, &TfrmBatchShow::btnRemoveAllClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmBatchShow::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmBatchShow::btnCancelClick);
}

QStringList TfrmBatchShow::rightsDepartments()
{
    QStringList numbers;
    try {
        zq::data::OpenQueryText(adqTmp, batch::rightsStatement(m_userId));
        for (int row = 0; row < adqTmp->recordCount(); ++row)
            numbers << Recordset::textOf(
                adqTmp->valueAt(row, adqTmp->fieldIndex(QStringLiteral("DepartmentNo"))));
    } catch (...) {
        zq::logCaught("reading the department rights");
        // A site without department rights: every department is visible, as with no rows.
        numbers.clear();
    }
    adqTmp->close();
    return numbers;
}

void TfrmBatchShow::formCreate()
{
    zq::data::BindFormDataSets(this, 0);
    svc::SelectFormLanguage(this);
    m_userId = svc::GetLoginUserID();

    const QStringList rights = rightsDepartments();
    try {
        if (rights.isEmpty())
            zq::data::OpenTableOrdered(
                adqDepartment, QStringLiteral("DepartmentData"), QStringLiteral("DepartmentNo"));
        else
            zq::data::OpenQueryText(adqDepartment, batch::departmentsIn(rights));
    } catch (...) {
        zq::logCaught("reading the departments");
        adqDepartment->close();
    }

    m_departmentNumbers = QStringList{QString()};
    m_departmentNames = QStringList{QString()};
    auto *root = new QTreeWidgetItem(
        trvDepartment, QStringList{svc::GetMessageString(QStringLiteral("All Department"))});
    root->setData(0, PositionRole, 0);
    root->setIcon(0, style()->standardIcon(QStyle::SP_DirHomeIcon));
    if (adqDepartment->isOpen()) {
        const int noColumn = adqDepartment->fieldIndex(QStringLiteral("DepartmentNo"));
        const int nameColumn = adqDepartment->fieldIndex(QStringLiteral("DepartmentName"));
        for (int row = 0; row < adqDepartment->recordCount(); ++row) {
            const QString name = Recordset::textOf(adqDepartment->valueAt(row, nameColumn))
                                     .trimmed();
            auto *item = new QTreeWidgetItem(root, QStringList{name});
            item->setData(0, PositionRole, int(m_departmentNumbers.size()));
            item->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
            m_departmentNumbers
                << Recordset::textOf(adqDepartment->valueAt(row, noColumn)).trimmed();
            m_departmentNames << name;
        }
    }
    adqDepartment->close();
    trvDepartment->expandAll();

    svc::SelectFormLanguage(this);
    m_holderGroup = new QTreeWidgetItem(
        trvSelect, QStringList{svc::GetMessageString(QStringLiteral("Holder"))});
    m_holderGroup->setIcon(0, style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    m_departmentGroup = new QTreeWidgetItem(
        trvSelect, QStringList{svc::GetMessageString(QStringLiteral("Department"))});
    m_departmentGroup->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));

    {
        const QSignalBlocker block(trvDepartment);
        trvDepartment->setCurrentItem(root);
    }
    trvDepartmentChange(root);
    try {
        svc::GetDBGridView(dbgLeaveData, kLayoutKey);
    } catch (...) {
        zq::logCaught("loading the batch list");
    }
}

void TfrmBatchShow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    svc::SetupFormLanguage(this);
    dsHolder->setHeaderTitles({svc::GetFunctionString(QStringLiteral("HolderNo")),
                               svc::GetFunctionString(QStringLiteral("HolderName"))});
    svc::PlaySoundOpen();
}

void TfrmBatchShow::closeEvent(QCloseEvent *event)
{
    try {
        svc::SetDBGridView(dbgLeaveData, kLayoutKey);
    } catch (...) {
        zq::logCaught("closing the batch window");
    }
    zq::data::BindFormDataSets(this, 1);
    m_departmentNumbers.clear();
    svc::PlaySoundClose();
    // Lets the close sound start before the window goes.
    QThread::msleep(100);
    event->accept();
}

void TfrmBatchShow::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        btnCancel->click();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

bool TfrmBatchShow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == dbgLeaveData->viewport() && event->type() == QEvent::Wheel) {
        const int delta = static_cast<QWheelEvent *>(event)->angleDelta().y();
        if (delta < 0)
            adqHolder->next();
        else if (delta > 0)
            adqHolder->prior();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmBatchShow::trvDepartmentChange(QTreeWidgetItem *item)
{
    if (!item)
        return;
    const int position = item->data(0, PositionRole).toInt();
    try {
        if (position > 0)
            zq::data::OpenQueryText(
                adqHolder, batch::holdersOfDepartment(m_departmentNumbers.value(position)));
        else
            zq::data::OpenQueryText(adqHolder, batch::holdersOfAll(rightsDepartments()));
    } catch (...) {
        zq::logCaught("reading the holders of a department");
    }
    dbgLeaveData->setColumnWidth(0, 99);
}

void TfrmBatchShow::addDepartment(int position)
{
    const QString number = m_departmentNumbers.value(position);
    if (position <= 0 || m_departments.contains(number))
        return;
    m_departments << number;
    new QTreeWidgetItem(m_departmentGroup, QStringList{m_departmentNames.value(position)});
}

void TfrmBatchShow::addHolder(const QString &number, const QString &name)
{
    if (m_holders.contains(number))
        return;
    m_holders << number;
    new QTreeWidgetItem(m_holderGroup, QStringList{number + QStringLiteral(" : ") + name});
}

void TfrmBatchShow::expandSelection()
{
    trvSelect->expandAll();
}

void TfrmBatchShow::trvDepartmentDblClick()
{
    QTreeWidgetItem *item = trvDepartment->currentItem();
    if (!item)
        return;
    const int position = item->data(0, PositionRole).toInt();
    if (position == 0) {
        for (int i = 1; i < m_departmentNumbers.size(); ++i)
            addDepartment(i);
    } else {
        addDepartment(position);
    }
    expandSelection();
}

void TfrmBatchShow::addHolderAtCursor()
{
    if (!adqHolder->isOpen() || adqHolder->isEmpty() || adqHolder->currentRow() < 0)
        return;
    addHolder(adqHolder->text(QStringLiteral("HolderNo")).trimmed(),
              adqHolder->text(QStringLiteral("HolderName")).trimmed());
}

void TfrmBatchShow::dbgLeaveDataDblClick()
{
    try {
        addHolderAtCursor();
    } catch (...) {
        zq::logCaught("choosing holders");
    }
    expandSelection();
}

void TfrmBatchShow::btnAddClick()
{
    if (trvDepartment->hasFocus())
        trvDepartmentDblClick();
    else
        dbgLeaveDataDblClick();
}

void TfrmBatchShow::btnAddAllClick()
{
    if (trvDepartment->hasFocus()) {
        for (int i = 1; i < m_departmentNumbers.size(); ++i)
            addDepartment(i);
    } else if (adqHolder->isOpen()) {
        try {
            for (adqHolder->first(); !adqHolder->eof(); adqHolder->next())
                addHolderAtCursor();
        } catch (...) {
            zq::logCaught("choosing a holder");
        }
    }
    expandSelection();
}

void TfrmBatchShow::btnRemoveClick()
{
    if (!trvSelect->hasFocus()) {
        svc::PlaySoundError();
        return;
    }
    QTreeWidgetItem *item = trvSelect->currentItem();
    if (!item)
        return;
    if (item == m_holderGroup || item == m_departmentGroup) {
        QStringList &list = item == m_holderGroup ? m_holders : m_departments;
        if (!list.isEmpty()) {
            qDeleteAll(item->takeChildren());
            list.clear();
        }
        return;
    }
    QTreeWidgetItem *group = item->parent();
    if (group != m_holderGroup && group != m_departmentGroup)
        return;
    QStringList &list = group == m_holderGroup ? m_holders : m_departments;
    const int position = group->indexOfChild(item);
    if (position >= 0 && position < list.size())
        list.removeAt(position);
    delete item;
}

void TfrmBatchShow::btnRemoveAllClick()
{
    qDeleteAll(m_holderGroup->takeChildren());
    qDeleteAll(m_departmentGroup->takeChildren());
    m_holders.clear();
    m_departments.clear();
}

void TfrmBatchShow::btnOkClick()
{
    if (!m_departments.isEmpty()) {
        try {
            zq::data::OpenQueryText(adqTmp, batch::holdersOfSelected(m_departments));
            const int column = adqTmp->fieldIndex(QStringLiteral("HolderNo"));
            for (int row = 0; row < adqTmp->recordCount(); ++row) {
                const QString number = Recordset::textOf(adqTmp->valueAt(row, column)).trimmed();
                if (!m_holders.contains(number))
                    m_holders << number;
            }
        } catch (...) {
            zq::logCaught("adding holders of a department");
        }
        adqTmp->close();
    }

    intptr_t progress = 0;
    if (m_holders.size() > kQuietCount) {
        svc::SelectFormLanguage(this);
        progress = svc::ShowProcessForm(
            0, int(m_holders.size()), svc::GetMessageString(QStringLiteral("DataInitial")));
    }
    bool cancelled = false;
    QStringList numbers;
    for (const QString &number : std::as_const(m_holders)) {
        numbers << number;
        // A cancel stops only the progress display; the list is always built in full.
        if (progress != 0 && !cancelled) {
            if (svc::CancelProcessForm(progress) != 0)
                cancelled = true;
            else
                svc::IncProcessFormPosition(progress, 1);
        }
    }
    bool written = false;
    try {
        written = batch::writeBatchList(batch::settingsFile(svc::GetProgramPath()),
                                        batch::batchText(numbers));
    } catch (...) {
        zq::logCaught("adding the holders of every department");
    }
    if (progress != 0 && !cancelled)
        svc::CloseProcessForm(progress);
    if (!written) {
        // The window stays, so that the operator can take out what the list cannot carry.
        svc::ShowMessageBox(
            QStringLiteral("BatchListNotWritten"), QStringLiteral("SystemMessage"), 16);
        return;
    }
    close();
}

void TfrmBatchShow::dbgLeaveDataTitleClick(int column)
{
    const QString field = dsHolder->fieldOfColumn(column);
    if (field.isEmpty())
        return;
    try {
        if (adqHolder->sort().contains(QLatin1String("DESC"), Qt::CaseInsensitive))
            adqHolder->setSort(field);
        else
            adqHolder->setSort(field + QStringLiteral(" DESC"));
    } catch (...) {
        zq::logCaught("saving the batch list");
    }
}

} // namespace zq::forms
