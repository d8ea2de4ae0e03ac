#include "ComboFill.h"

#include "Recordset.h"

#include <QComboBox>

namespace zq::widgets {

using zq::data::Recordset;

void FillComboFromDataSet(Recordset *dataSet,
                          const QString &keyField,
                          const QString &nameField,
                          QComboBox *combo,
                          QStringList &keys)
{
    dataSet->first();
    combo->addItem(QString());
    const int count = dataSet->recordCount();
    for (int i = 0; i < count; ++i) {
        const QString key = dataSet->text(keyField).trimmed();
        const QString name = dataSet->text(nameField).trimmed();
        combo->addItem(key + QStringLiteral(" : ") + name);
        keys << key;
        dataSet->next();
    }
    combo->setCurrentIndex(0);
}

} // namespace zq::widgets
