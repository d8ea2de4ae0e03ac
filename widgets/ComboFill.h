#pragma once

#include "zqwidgets_export.h"

#include <QString>
#include <QStringList>

class QComboBox;

namespace zq::data {
class Recordset;
}

namespace zq::widgets {

/// Adds an empty item, then "key : name" per row (trimmed texts), appending each key to
/// `keys`; selects item 0. `keys` is neither cleared nor given an empty first entry.
ZQWIDGETS_EXPORT void FillComboFromDataSet(zq::data::Recordset *dataSet,
                                           const QString &keyField,
                                           const QString &nameField,
                                           QComboBox *combo,
                                           QStringList &keys);

} // namespace zq::widgets
