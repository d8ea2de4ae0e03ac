#pragma once

#include <QStringList>
#include <QWidget>

class QPushButton;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;

namespace zq::data {
class Recordset;
} // namespace zq::data
namespace zq::widgets {
class RecordsetModel;
} // namespace zq::widgets

namespace zq::forms {

/// Collects holders for card label printing, one by one or whole departments at a time;
/// OK stores them as the batch list of ZQMain.ini, Cancel stores nothing.
class TfrmBatchShow : public QWidget
{
    Q_OBJECT
public:
    explicit TfrmBatchShow(QWidget *parent = nullptr);
    ~TfrmBatchShow() override;

    /// "" for the root, then the number of each department node in tree order.
    const QStringList &departmentNumbers() const { return m_departmentNumbers; }
    const QStringList &selectedHolders() const { return m_holders; }
    const QStringList &selectedDepartments() const { return m_departments; }
    /// The holders offered for the current department node.
    zq::data::Recordset *holderListing() const { return adqHolder; }
    /// The two group nodes of the selection tree.
    QTreeWidgetItem *holderGroup() const { return m_holderGroup; }
    QTreeWidgetItem *departmentGroup() const { return m_departmentGroup; }

    void trvDepartmentChange(QTreeWidgetItem *item);
    void trvDepartmentDblClick();
    void dbgLeaveDataDblClick();
    void dbgLeaveDataTitleClick(int column);
    void trvSelectDblClick() { btnRemoveClick(); }
    void btnAddClick();
    void btnAddAllClick();
    void btnRemoveClick();
    void btnRemoveAllClick();
    void btnOkClick();
    void btnCancelClick() { close(); }

    QTreeWidget *trvDepartment;
    QTableView *dbgLeaveData;
    QTreeWidget *trvSelect;
    QPushButton *btnAddAll;
    QPushButton *btnAdd;
    QPushButton *btnRemove;
    QPushButton *btnRemoveAll;
    QPushButton *btnOk;
    QPushButton *btnCancel;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildLayout();
    void formCreate();
    QStringList rightsDepartments();
    void addDepartment(int position);
    void addHolder(const QString &number, const QString &name);
    void addHolderAtCursor();
    void expandSelection();

    zq::data::Recordset *adqDepartment;
    zq::data::Recordset *adqHolder;
    zq::data::Recordset *adqTmp;
    zq::widgets::RecordsetModel *dsHolder;
    QTreeWidgetItem *m_holderGroup = nullptr;
    QTreeWidgetItem *m_departmentGroup = nullptr;
    QString m_userId;
    QStringList m_departmentNumbers;
    QStringList m_departmentNames;
    QStringList m_holders;
    QStringList m_departments;
    bool m_shown = false;
};

} // namespace zq::forms
