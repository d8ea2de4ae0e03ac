#include "TfrmDepartmentView.h"

#include "Connection.h"
#include "DepartmentPicker.h"
#include "Helpers.h"
#include "ModuleLog.h"
#include "ModuleState.h"
#include "Recordset.h"
#include "Services.h"
#include "WriteFailure.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace zq::forms {

namespace svc = zq::services;
using zq::data::Connection;
using zq::data::Recordset;

DepartmentTree::DepartmentTree(QWidget *parent)
    : QTreeWidget(parent)
{
    setHeaderHidden(true);
    setIndentation(19);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragDropMode(QAbstractItemView::NoDragDrop);
}

void DepartmentTree::setMovesAllowed(bool allowed)
{
    m_movesAllowed = allowed;
    setDragEnabled(allowed);
    setAcceptDrops(allowed);
    viewport()->setAcceptDrops(allowed);
    setDropIndicatorShown(allowed);
    setDragDropMode(allowed ? QAbstractItemView::DragDrop : QAbstractItemView::NoDragDrop);
}

void DepartmentTree::dragEnterEvent(QDragEnterEvent *event)
{
    if (m_movesAllowed && event->source() == this)
        event->acceptProposedAction();
    else
        event->ignore();
}

void DepartmentTree::dragMoveEvent(QDragMoveEvent *event)
{
    if (m_movesAllowed && event->source() == this && itemAt(event->position().toPoint()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void DepartmentTree::dropEvent(QDropEvent *event)
{
    QTreeWidgetItem *target = itemAt(event->position().toPoint());
    if (!m_movesAllowed || event->source() != this || !target || !currentItem()) {
        event->ignore();
        return;
    }
    // The window moves the nodes itself; Qt's own move would ignore the level rule.
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
    emit nodeDropped(currentItem(), target);
}

TfrmDepartmentView::TfrmDepartmentView(bool movesAllowed, QWidget *parent)
    : QDialog(parent)
    , trvDept(new DepartmentTree(this))
    , btnRefresh(new QPushButton(QStringLiteral("Refresh"), this))
    , btnExit(new QPushButton(QStringLiteral("Exit"), this))
    , tmrfresh(new QTimer(this))
    , adqTmp(new Recordset(QStringLiteral("adqTmp"), this))
    , m_movesAllowed(movesAllowed)
{
    setObjectName(QStringLiteral("frmDepartmentView"));
    setProperty("zq.formClass", QStringLiteral("TfrmDepartmentView"));
    setWindowTitle(QStringLiteral("frmDepartmentView"));
    setModal(true);
    resize(500, 580);
    trvDept->setObjectName(QStringLiteral("trvDept"));
    btnRefresh->setObjectName(QStringLiteral("btnRefresh"));
    btnExit->setObjectName(QStringLiteral("btnExit"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(trvDept, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnRefresh);
    buttons->addWidget(btnExit);
    layout->addLayout(buttons);
    adqTmp->setConnection(zq::data::moduleConnection());
    tmrfresh->setObjectName(QStringLiteral("tmrfresh"));
    tmrfresh->setInterval(1);
    tmrfresh->setSingleShot(true);
    connect(tmrfresh, &QTimer::timeout, this, &TfrmDepartmentView::rebuild);
    connect(btnRefresh, &QPushButton::clicked, tmrfresh, qOverload<>(&QTimer::start));
    connect(btnExit, &QPushButton::clicked, this, &QDialog::close);
    connect(trvDept, &DepartmentTree::nodeDropped, this, &TfrmDepartmentView::dropNode);
    // Every node stays expanded.
    connect(trvDept, &QTreeWidget::itemCollapsed, trvDept, &QTreeWidget::expandItem);
}

void TfrmDepartmentView::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    svc::SetupFormLanguage(this);
    tmrfresh->start();
    trvDept->setMovesAllowed(m_movesAllowed);
}

void TfrmDepartmentView::closeEvent(QCloseEvent *event)
{
    adqTmp->close();
    QDialog::closeEvent(event);
}

void TfrmDepartmentView::rebuild()
{
    tmrfresh->stop();
    btnExit->setEnabled(false);
    btnRefresh->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        trvDept->clear();
        m_shown.clear();
        const QString all = svc::GetMessageString(QStringLiteral("ALLDepartment"));
        auto *root = new QTreeWidgetItem(trvDept, QStringList{all});
        root->setData(0, NumberRole, all);
        root->setData(0, LevelRole, 0);
        const QString user = svc::GetLoginUserID();
        addChildren(root,
                    1,
                    QStringLiteral(" SELECT T1.* FROM DepartmentData T1, UserRightDept T2 WHERE "
                                   "T1.DepartmentNo = T2.DepartmentNo AND ( T1.UnderNo = '' OR "
                                   "T1.UnderNo IS NULL ) ")
                        + QStringLiteral(" AND T2.UserID = ") + Connection::quoted(user)
                        + QStringLiteral("          ")
                        + QStringLiteral(" ORDER BY T1.DepartmentNo "));
        trvDept->setCurrentItem(root);
        trvDept->expandAll();
    } catch (...) {
        zq::logCaught("building the department tree");
    }
    trvDept->setFocus();
    QApplication::restoreOverrideCursor();
    btnExit->setEnabled(true);
    btnRefresh->setEnabled(true);
}

void TfrmDepartmentView::addChildren(QTreeWidgetItem *parent, int level, const QString &statement)
{
    Recordset q;
    q.setConnection(zq::data::moduleConnection());
    if (zq::data::RunQuery(&q, statement, 0) != 1)
        return;
    // Numbers as stored (older tools left blanks after some): the node names its row.
    QList<QPair<QString, QString>> rows;
    for (int row = 0; row < q.recordCount(); ++row)
        rows.append(
            {Recordset::textOf(q.valueAt(row, q.fieldIndex(QStringLiteral("DepartmentNo")))),
             Recordset::textOf(q.valueAt(row, q.fieldIndex(QStringLiteral("DepartmentName"))))
                 .trimmed()});
    q.close();
    for (const auto &r : std::as_const(rows)) {
        try {
            // A cycle written into UnderNo by other means shows each department once.
            if (m_shown.contains(r.first))
                continue;
            m_shown.insert(r.first);
            auto *item = new QTreeWidgetItem(parent, QStringList{r.second});
            item->setData(0, NumberRole, r.first);
            item->setData(0, LevelRole, level);
            item->setToolTip(0, r.first.trimmed());
            const QString user = svc::GetLoginUserID();
            addChildren(
                item,
                level + 1,
                QStringLiteral(" SELECT T1.* FROM DepartmentData T1, UserRightDept T2 WHERE "
                               "T1.DepartmentNo = T2.DepartmentNo ")
                    + QStringLiteral(" AND T2.UserID = ") + Connection::quoted(user)
                    + QStringLiteral(" ") + QStringLiteral(" AND T1.UnderNo = ")
                    + Connection::quoted(r.first) + QStringLiteral(" ")
                    + QStringLiteral(" ORDER BY T1.DepartmentNo "));
        } catch (...) {
            zq::logCaught("adding a department to the tree");
        }
    }
}

namespace {
void setLevels(QTreeWidgetItem *item, int level)
{
    item->setData(0, TfrmDepartmentView::LevelRole, level);
    for (int i = 0; i < item->childCount(); ++i)
        setLevels(item->child(i), level + 1);
}
} // namespace

bool TfrmDepartmentView::dropNode(QTreeWidgetItem *dragged, QTreeWidgetItem *target)
{
    if (!m_movesAllowed || !dragged || !target || !dragged->parent())
        return false;
    const int draggedLevel = dragged->data(0, LevelRole).toInt();
    const int targetLevel = target->data(0, LevelRole).toInt();
    if (draggedLevel < targetLevel)
        return false;
    const QString draggedNo = dragged->data(0, NumberRole).toString();
    const QString targetNo = target->data(0, NumberRole).toString();
    if (draggedNo == targetNo)
        return false;
    const QString shownParent = dragged->parent()->data(0, LevelRole).toInt() == 0
                                    ? QString()
                                    : dragged->parent()->data(0, NumberRole).toString();
    if (!moveInDatabase(draggedNo, targetNo, targetLevel, shownParent))
        return false;
    // A move is an update of the department, audited as the department window audits one.
    svc::AddProgramRunEdit(zq::module::rightKey(zq::module::WindowKind::Department),
                           QStringLiteral("E ") + draggedNo.trimmed());
    dragged->parent()->removeChild(dragged);
    target->addChild(dragged);
    // Levels stay equal to the depth, so the level rule keeps refusing drops into the
    // moved department's own subtree later on.
    setLevels(dragged, targetLevel + 1);
    trvDept->expandAll();
    trvDept->setCurrentItem(dragged);
    return true;
}

bool TfrmDepartmentView::moveInDatabase(const QString &dragged,
                                        const QString &target,
                                        int targetLevel,
                                        const QString &shownParent)
{
    if (dragged == target)
        return false;
    Connection *c = zq::data::moduleConnection();
    try {
        if (targetLevel != 0 && isAncestorOrSelf(c, dragged, target))
            return false;
        const QString sql = targetLevel == 0
                                ? QStringLiteral(" UPDATE DepartmentData SET UnderNo = '' WHERE "
                                                 "DepartmentNo = ")
                                      + Connection::quoted(dragged)
                                : QStringLiteral(" UPDATE DepartmentData SET UnderNo = ")
                                      + Connection::quoted(target)
                                      + QStringLiteral(" WHERE DepartmentNo = ")
                                      + Connection::quoted(dragged);
        const QString asShown = shownParent.isEmpty()
                                    ? QStringLiteral(" AND ( UnderNo = '' OR UnderNo IS NULL ) ")
                                    : QStringLiteral(" AND UnderNo = ")
                                          + Connection::quoted(shownParent) + QStringLiteral(" ");
        adqTmp->close();
        adqTmp->setConnection(c);
        adqTmp->setStatement(sql + asShown);
        adqTmp->execute();
        const int moved = adqTmp->rowsAffected();
        adqTmp->close();
        if (moved == 0) {
            // Moved or deleted on another workstation since the tree was shown.
            tellConflict();
            return false;
        }
        m_changed = true;
        return true;
    } catch (...) {
        zq::logCaught("moving a department");
        adqTmp->close();
        tellWriteFailure(c);
        return false;
    }
}

QTreeWidgetItem *TfrmDepartmentView::findNumber(const QString &number) const
{
    QTreeWidgetItemIterator it(trvDept);
    for (; *it; ++it)
        if ((*it)->data(0, NumberRole).toString().trimmed() == number.trimmed() && (*it)->parent())
            return *it;
    return nullptr;
}

} // namespace zq::forms
