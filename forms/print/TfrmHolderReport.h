#pragma once

#include <QWidget>

class QComboBox;
class QGroupBox;
class QPushButton;
class QRadioButton;

namespace zq::data {
class Recordset;
}

namespace zq::forms {

/// Prints the holder list of every department or of one through the report service.
/// Supervisors are not limited to their own department rights.
class TfrmHolderReport : public QWidget
{
    Q_OBJECT
public:
    explicit TfrmHolderReport(int rights, QWidget *parent = nullptr);
    ~TfrmHolderReport() override;

    bool isSupervisor() const { return m_supervisor; }

    void btnViewClick();
    void btnCloseClick() { close(); }

    QGroupBox *gbDepartment;
    QRadioButton *rbAll;
    QRadioButton *rbDepartment;
    QComboBox *edDepartment;
    QPushButton *btnView;
    QPushButton *btnClose;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void formCreate(int rights);
    zq::data::Recordset *adqDepartment;
    bool m_supervisor = false;
    bool m_shown = false;
};

} // namespace zq::forms
