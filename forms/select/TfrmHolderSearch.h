#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class QRadioButton;

namespace zq::forms {

/// Asks for a holder number or a holder name to look for; does no database work.
class TfrmHolderSearch : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmHolderSearch(QWidget *parent = nullptr);

    /// After OK at most one is non-empty; after Cancel both are empty.
    QString numberCriterion() const { return m_number; }
    QString nameCriterion() const { return m_name; }

    void btnOkClick();

    QRadioButton *rbtnHolderNo;
    QRadioButton *rbtnHolderName;
    QLineEdit *edtHolderNo;
    QLineEdit *edtHolderName;
    QPushButton *btnOk;
    QPushButton *btnCancel;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString m_number;
    QString m_name;
};

} // namespace zq::forms
