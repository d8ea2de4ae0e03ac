#pragma once

#include "HolderImport.h"

#include <QDialog>

class QLabel;
class QListWidget;
class QPushButton;

namespace zq::forms {

class RefusalGrid;

/// What an import will do, judged by a dry run: how many holders are new, overwritten,
/// kept and refused (with the reasons), and which codes it creates. Import accepts the
/// dialog, Cancel rejects it; nothing was written either way.
class TfrmImportPreview : public QDialog
{
    Q_OBJECT
public:
    TfrmImportPreview(const zq::transfer::HolderImport &judged, QWidget *parent = nullptr);

    QLabel *lblNew;
    QLabel *lblNewCount;
    QLabel *lblOverwritten;
    QLabel *lblOverwrittenCount;
    QLabel *lblKept;
    QLabel *lblKeptCount;
    QLabel *lblRefused;
    QLabel *lblRefusedCount;
    QLabel *lblCodes;
    QListWidget *lstCodes;
    QLabel *lblRefusedLines;
    RefusalGrid *dgRefusals;
    QPushButton *btnPreviewImport;
    QPushButton *btnPreviewCancel;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QList<zq::transfer::Refusal> m_refusals;
    QList<zq::transfer::CreatedCode> m_codes;
};

} // namespace zq::forms
