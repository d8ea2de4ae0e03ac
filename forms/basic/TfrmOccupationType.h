#pragma once

#include "MaintenanceWindow.h"

class QComboBox;

namespace zq::forms {

/// Occupation types: number, name, description and the card pictures for portrait and
/// landscape labels. Opens the card-picture window.
class TfrmOccupationType : public MaintenanceWindow
{
    Q_OBJECT
public:
    explicit TfrmOccupationType(int rights, QWidget *parent = nullptr);
    static MaintenanceSpec typeSpec();

    void btnOutputClick() override {}
    void btnLabelPicClick();

    QLineEdit *edTypeNo;
    QLineEdit *edTypeName;
    QLineEdit *edDescription;
    QComboBox *cmbPicV;
    QComboBox *cmbPicH;

protected:
    void openExtraQueries() override;
    void showRecord() override;
    void writeColumns(zq::data::Recordset &rs) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QComboBox *addPicker(const QString &name, const QString &labelName, const QString &caption);
    void fillPicker(QComboBox *picker);
    zq::data::Recordset *adoSearch;
};

} // namespace zq::forms
