#pragma once

#include "DepartmentPicker.h"
#include "MaintenanceWindow.h"

class QComboBox;

namespace zq::forms {

/// Departments: number, name, description and parent, with the users' department rights
/// kept in step. The tree button opens the department tree view.
class TfrmDepartment : public MaintenanceWindow
{
    Q_OBJECT
public:
    explicit TfrmDepartment(int rights, QWidget *parent = nullptr);
    static MaintenanceSpec departmentSpec();

    void btnDeleteClick() override;
    void btnTreeViewClick();

    bool isSupervisor() const { return m_supervisor; }
    const DepartmentList &candidates() const { return m_candidates; }
    const DepartmentList &picker() const { return m_picker; }

    QLineEdit *edNo;
    QLineEdit *edName;
    QLineEdit *edDescription;
    QComboBox *cmbUnderNo;

protected:
    QString listStatement() const override;
    void sortFailed() override;
    void openExtraQueries() override;
    void showRecord() override;
    void clearDataPage() override;
    bool insertRecord() override;
    bool updateRecord() override;
    void modeEntered(Mode mode) override;

private:
    void setRow(zq::data::Recordset &rs);
    /// The test whether a department number is stored.
    QString numberStatement(const QString &number) const;
    void loadPicker(const QString &underNo);
    void grantToUsers(const QString &number);
    static QString refersTo(const QString &column, const QString &stored);
    /// Refuses (with its message) deleting a department that holders or departments use.
    bool deleteRefused(const QString &stored);
    /// Deletes the department as the list showed it; false (told) when that failed.
    bool deleteShownRow(const QString &stored);
    bool hasRightsTables() const;
    QString loginUser() const;
    bool m_supervisor = false;
    DepartmentList m_candidates;
    DepartmentList m_picker;
    zq::data::Recordset *adqUnder;
    zq::data::Recordset *adqUserData;
    zq::data::Recordset *adqUserRightDept;
};

} // namespace zq::forms
