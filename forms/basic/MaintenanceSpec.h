#pragma once

#include "ModuleState.h"

#include <QString>
#include <QStringList>

namespace zq::forms {

/// What one record-maintenance window maintains and how it names things; the behaviour
/// itself is the same for every window (MaintenanceWindow).
struct MaintenanceSpec
{
    zq::module::WindowKind kind;
    QString formClass; ///< "TfrmOccupationTitle"
    QString designCaption;
    QString table;      ///< "OccupationTitle"
    QString keyColumn;  ///< "TitleNo"
    QString nameColumn; ///< "TitleName"
    QString listStatement;
    QString searchStatement;
    /// Statements that get the key appended as a quoted literal, then the suffix.
    QString duplicatePrefix;
    QString inUsePrefix;
    QString inUseSuffix;
    QString msgInputKey;  ///< "PleaseInputTitleNo"
    QString msgInputName; ///< "PleaseInputTitleName"
    QString msgDouble;    ///< "TitleNoDouble"
    QString msgInUse;     ///< "HaveOccupationTitleCantDelete"
    QString gridLayoutKey;
    QStringList gridColumns;
    bool hasOutput = true; ///< false: no output command (button and menu item hidden)
    /// Without an output command, the menu item "&Print" stays shown and does nothing.
    bool inertOutputMenu = false;
};

} // namespace zq::forms
