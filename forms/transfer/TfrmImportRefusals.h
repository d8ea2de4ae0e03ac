#pragma once

#include "FileDialogs.h"
#include "HolderImport.h"

#include <QDialog>
#include <QList>
#include <QTableView>

class QPushButton;
class QStandardItemModel;

namespace zq::forms {

/// The refused lines of an import as a read-only grid: line, holder number, reason code,
/// reason.
class RefusalGrid : public QTableView
{
    Q_OBJECT
public:
    explicit RefusalGrid(QWidget *parent = nullptr);
    void setRefusals(const QList<zq::transfer::Refusal> &refusals);

private:
    QStandardItemModel *m_model;
};

/// The list of the lines the last import refused, which the operator can save as CSV.
class TfrmImportRefusals : public QDialog
{
    Q_OBJECT
public:
    TfrmImportRefusals(const QList<zq::transfer::Refusal> &refusals, QWidget *parent = nullptr);

    /// Asks for a file name and writes the list there as CSV; false when nothing was saved.
    bool btnSaveCsvClick();

    RefusalGrid *dgRefusals;
    QPushButton *btnSaveCsv;
    QPushButton *btnRefusalsClose;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QList<zq::transfer::Refusal> m_refusals;
    zq::platform::FileChoice m_saveDialog;
};

} // namespace zq::forms
