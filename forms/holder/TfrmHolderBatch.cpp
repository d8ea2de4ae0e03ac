// "Change selected…": several holders chosen in the View page's grid, one change written to
// all of them.
#include "TfrmHolder.h"

#include "BatchEditRun.h"
#include "Helpers.h"
#include "Recordset.h"
#include "RecordsetModel.h"
#include "Services.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMenuBar>
#include <QSet>
#include <QStyle>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>

namespace zq::forms {

namespace svc = zq::services;
using zq::data::Recordset;

namespace {
constexpr int kEditRight = 4;
const QString kCommand = QStringLiteral("BatchEdit");
} // namespace

void TfrmHolder::connectBatchEdit()
{
    // The grid selects several rows with the usual gestures; a plain click still selects
    // the one row and moves the current holder there.
    m_ui.dgView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // After Delete, in the edit group of the tool bar.
    auto *button = new QToolButton(m_ui.tbEdit);
    button->setObjectName(QStringLiteral("btnBatchEdit"));
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setText(QStringLiteral("Change"));
    button->setToolTip(QStringLiteral("Change the selected holders"));
    button->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    button->setMinimumSize(50, 52);
    QAction *before = m_ui.buttonActions.value(QStringLiteral("btnOk"));
    m_ui.buttonActions.insert(button->objectName(), m_ui.tbEdit->insertWidget(before, button));
    m_ui.buttons.insert(button->objectName(), button);
    if (auto *function = m_ui.mnuMain->findChild<QMenu *>(QStringLiteral("mnuFunction"))) {
        function->addSeparator();
        QAction *item = function->addAction(QStringLiteral("Change &selected..."));
        item->setObjectName(QStringLiteral("mnuBatchEdit"));
        m_ui.menuItems.insert(item->objectName(), item);
    }
    m_ui.connectCommand(kCommand, &m_batchReceiver, [this] { btnBatchEditClick(); });
    const auto update = [this] { updateBatchEdit(); };
    connect(m_ui.dgView->selectionModel(),
            &QItemSelectionModel::selectionChanged,
            &m_batchReceiver,
            update);
    connect(dsDB, &QAbstractItemModel::modelReset, &m_batchReceiver, update);
    updateBatchEdit();
}

QList<int> TfrmHolder::selectedRows() const
{
    QList<int> rows;
    const QItemSelectionModel *selection = m_ui.dgView->selectionModel();
    if (!selection || !adq1DB->isOpen())
        return rows;
    for (const QItemSelectionRange &range : selection->selection())
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows << row;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void TfrmHolder::updateBatchEdit()
{
    // Counting the rows of the selection's ranges, not its cells: a whole listing selected
    // with Ctrl+A is one range.
    int selected = 0;
    if (const QItemSelectionModel *selection = m_ui.dgView->selectionModel())
        for (const QItemSelectionRange &range : selection->selection())
            selected += range.height();
    const bool enabled = (m_rights & kEditRight) != 0 && selected >= 2;
    for (QObject *control : {static_cast<QObject *>(m_ui.button(QStringLiteral("btnBatchEdit"))),
                             static_cast<QObject *>(m_ui.menuItem(QStringLiteral("mnuBatchEdit")))})
        if (control)
            control->setProperty("enabled", enabled);
}

void TfrmHolder::btnBatchEditClick()
{
    const QList<int> rows = selectedRows();
    if ((m_rights & kEditRight) == 0 || m_mode != ViewMode || rows.size() < 2) {
        svc::PlaySoundError();
        return;
    }
    const int keyColumn = adq1DB->fieldIndex(QStringLiteral("HolderNo"));
    QSet<QString> chosen;
    for (const int row : rows)
        chosen.insert(Recordset::textOf(adq1DB->valueAt(row, keyColumn)));
    const QString current = adq1DB->currentRow() >= 0 ? Recordset::textOf(
                                adq1DB->valueAt(adq1DB->currentRow(), keyColumn))
                                                      : QString();
    holder::BatchCodes codes;
    codes.departmentNumbers = m_departmentNumbers;
    codes.departmentItems = m_departmentItems;
    codes.titleNumbers = m_titleNumbers;
    codes.titleItems = m_titleItems;
    codes.typeNumbers = m_typeNumbers;
    codes.typeItems = m_typeItems;
    m_ui.tbEdit->setEnabled(false);
    const auto outcome = holder::runBatchEdit(this, *adq1DB, rows, codes, rightsUser());
    m_ui.tbEdit->setEnabled(true);
    if (!outcome)
        return;
    reselectAfterBatch(chosen, current);
}

// The listing read again with its statement; the holders chosen before that it still lists
// are selected again, the current one current again when it is still there.
void TfrmHolder::reselectAfterBatch(const QSet<QString> &chosen, const QString &current)
{
    runListing(adq1DB->statement());
    m_lock = true;
    if (!current.isEmpty())
        zq::data::LocateRecord(adq1DB, QStringLiteral("HolderNo"), current);
    QItemSelection selection;
    const int keyColumn = adq1DB->fieldIndex(QStringLiteral("HolderNo"));
    for (int row = 0; adq1DB->isOpen() && row < adq1DB->recordCount(); ++row) {
        if (!chosen.contains(Recordset::textOf(adq1DB->valueAt(row, keyColumn))))
            continue;
        // Neighbouring rows join one range: a selection of thousands stays a few ranges.
        if (!selection.isEmpty() && selection.last().bottom() == row - 1)
            selection.last() = QItemSelectionRange(selection.last().topLeft(),
                                                   dsDB->index(row, dsDB->columnCount() - 1));
        else
            selection.append(QItemSelectionRange(dsDB->index(row, 0),
                                                 dsDB->index(row, dsDB->columnCount() - 1)));
    }
    m_lock = false;
    enterMode(ViewMode);
    showHolder();
    if (QItemSelectionModel *model = m_ui.dgView->selectionModel())
        model->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    updateBatchEdit();
}

} // namespace zq::forms
