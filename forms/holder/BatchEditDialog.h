#pragma once

#include "BatchEdit.h"

#include <QDialog>
#include <QStringList>

#include <vector>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QGridLayout;
class QLabel;
class QPushButton;
class QRadioButton;

namespace zq::forms::holder {

/// The codes a batch may set, as the holder window lists them: numbers and the texts shown
/// for them in the same order. The departments are only those the user may see.
struct BatchCodes
{
    QStringList departmentNumbers, departmentItems;
    QStringList titleNumbers, titleItems;
    QStringList typeNumbers, typeItems;
};

/// Asks which fields to set for the selected holders. Each field has its own tick; the
/// preview line under them counts, for each ticked field, the holders it would really
/// change. Writes nothing: `change()` is what OK accepted.
class BatchEditDialog : public QDialog
{
    Q_OBJECT
public:
    BatchEditDialog(const std::vector<BatchHolder> &holders,
                    const BatchCodes &codes,
                    QWidget *parent = nullptr);

    /// The change as the dialog's controls stand.
    BatchChange change() const;
    BatchPreview preview() const { return m_preview; }
    QString previewText() const;

    /// The tick of `field` and the control that takes its value.
    QCheckBox *tick(BatchField field) const { return m_ticks[size_t(field)]; }
    QWidget *editor(BatchField field) const { return m_editors[size_t(field)]; }
    /// For the fields that may be cleared: the choice "no date" (else the date is set); for
    /// the punch card: "no".
    QRadioButton *clearChoice(BatchField field) const { return m_clear[size_t(field)]; }
    QRadioButton *setChoice(BatchField field) const { return m_set[size_t(field)]; }
    QPushButton *applyButton() const { return btnApply; }
    QPushButton *cancelButton() const { return btnCancel; }
    QLabel *previewLabel() const { return lblPreview; }
    /// The field's name as its tick shows it, without accelerator and colon.
    QString fieldCaption(BatchField field) const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void addCodeRow(BatchField field, const char *name, const QStringList &items);
    void addDateRow(BatchField field, const char *name);
    void addChoiceRow(BatchField field,
                      const char *name,
                      const char *setName,
                      const char *clearName,
                      bool withDate);
    QCheckBox *addTick(BatchField field, const char *name);
    void follow(QAbstractButton *button);
    void updatePreview();

    const std::vector<BatchHolder> &m_holders;
    BatchCodes m_codes;
    BatchPreview m_preview;
    QGridLayout *m_grid = nullptr;
    std::array<QCheckBox *, kBatchFields> m_ticks{};
    std::array<QWidget *, kBatchFields> m_editors{};
    std::array<QRadioButton *, kBatchFields> m_set{};
    std::array<QRadioButton *, kBatchFields> m_clear{};
    QLabel *lblHint = nullptr;
    QLabel *lblPreview = nullptr;
    QPushButton *btnApply = nullptr;
    QPushButton *btnCancel = nullptr;
};

} // namespace zq::forms::holder
