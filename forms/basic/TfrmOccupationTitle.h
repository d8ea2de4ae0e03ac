#pragma once

#include "MaintenanceWindow.h"

namespace zq::forms {

/// Occupation titles: number, name and description.
class TfrmOccupationTitle : public MaintenanceWindow
{
    Q_OBJECT
public:
    explicit TfrmOccupationTitle(int rights, QWidget *parent = nullptr);
    static MaintenanceSpec titleSpec();

    QLineEdit *edTitleNo;
    QLineEdit *edTitleName;
    QLineEdit *edDescription;
};

} // namespace zq::forms
