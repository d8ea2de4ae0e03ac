#pragma once

#include <QDialog>
#include <QTreeWidget>

class QPushButton;
class QTimer;

namespace zq::data {
class Recordset;
}

namespace zq::forms {

/// The tree of the department view: drags a department onto another node; the move itself
/// is decided by the window.
class DepartmentTree : public QTreeWidget
{
    Q_OBJECT
public:
    explicit DepartmentTree(QWidget *parent = nullptr);
    void setMovesAllowed(bool allowed);

signals:
    void nodeDropped(QTreeWidgetItem *dragged, QTreeWidgetItem *target);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    bool m_movesAllowed = false;
};

/// The department hierarchy of the login user as a fully expanded tree; with the edit right
/// a department is re-parented by dropping it onto another node.
class TfrmDepartmentView : public QDialog
{
    Q_OBJECT
public:
    enum Role { NumberRole = Qt::UserRole, LevelRole };

    TfrmDepartmentView(bool movesAllowed, QWidget *parent = nullptr);

    /// True once a move was written to the database.
    bool changed() const { return m_changed; }
    bool movesAllowed() const { return m_movesAllowed; }
    /// Reads the tree again (what the timer runs).
    void rebuild();
    /// Moves `dragged` under `target` when the rules allow it; true when it moved.
    bool dropNode(QTreeWidgetItem *dragged, QTreeWidgetItem *target);
    QTreeWidgetItem *findNumber(const QString &number) const;

    DepartmentTree *trvDept;
    QPushButton *btnRefresh;
    QPushButton *btnExit;
    QTimer *tmrfresh;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void addChildren(QTreeWidgetItem *parent, int level, const QString &statement);
    /// `shownParent` is the parent the tree showed (empty for a top-level department); a
    /// department whose parent changed on another workstation meanwhile is not moved.
    bool moveInDatabase(const QString &dragged,
                        const QString &target,
                        int targetLevel,
                        const QString &shownParent);
    zq::data::Recordset *adqTmp;
    bool m_movesAllowed;
    bool m_changed = false;
    QSet<QString> m_shown; // departments already in the tree during a rebuild
};

} // namespace zq::forms
