#include "TfrmImportPreview.h"

#include "Services.h"
#include "TfrmImportRefusals.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace zq::forms {

namespace svc = zq::services;
using Outcome = zq::transfer::HolderImport::Outcome;

namespace {

QLabel *label(const char *name, const QString &text, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    return l;
}

QLabel *number(const char *name, int value, QWidget *parent)
{
    QLabel *l = label(name, QString::number(value), parent);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return l;
}

} // namespace

TfrmImportPreview::TfrmImportPreview(const zq::transfer::HolderImport &judged, QWidget *parent)
    : QDialog(parent)
    , m_refusals(judged.refusals())
    , m_codes(judged.createdCodes())
{
    setObjectName(QStringLiteral("frmImportPreview"));
    setProperty("zq.formClass", QStringLiteral("TfrmImportPreview"));
    setWindowTitle(QStringLiteral("Import preview"));
    auto *layout = new QVBoxLayout(this);
    auto *counts = new QGridLayout;
    lblNew = label("lblNew", QStringLiteral("New holders:"), this);
    lblNewCount = number("lblNewCount", judged.count(Outcome::Inserted), this);
    lblOverwritten = label("lblOverwritten", QStringLiteral("Overwritten:"), this);
    lblOverwrittenCount = number("lblOverwrittenCount", judged.count(Outcome::Updated), this);
    lblKept = label("lblKept", QStringLiteral("Kept as they are:"), this);
    lblKeptCount = number("lblKeptCount", judged.count(Outcome::Kept), this);
    lblRefused = label("lblRefused", QStringLiteral("Refused:"), this);
    lblRefusedCount = number("lblRefusedCount", judged.count(Outcome::Failed), this);
    const QList<QPair<QLabel *, QLabel *>> rows{{lblNew, lblNewCount},
                                                {lblOverwritten, lblOverwrittenCount},
                                                {lblKept, lblKeptCount},
                                                {lblRefused, lblRefusedCount}};
    for (int r = 0; r < rows.size(); ++r) {
        counts->addWidget(rows.at(r).first, r, 0);
        counts->addWidget(rows.at(r).second, r, 1);
    }
    counts->setColumnStretch(2, 1);
    layout->addLayout(counts);

    lblCodes = label("lblCodes", QStringLiteral("Codes the import creates:"), this);
    layout->addWidget(lblCodes);
    lstCodes = new QListWidget(this);
    lstCodes->setObjectName(QStringLiteral("lstCodes"));
    lstCodes->setMaximumHeight(80);
    layout->addWidget(lstCodes);
    lblRefusedLines = label("lblRefusedLines", QStringLiteral("Refused lines:"), this);
    layout->addWidget(lblRefusedLines);
    dgRefusals = new RefusalGrid(this);
    dgRefusals->setObjectName(QStringLiteral("dgRefusals"));
    layout->addWidget(dgRefusals, 1);

    auto *buttons = new QHBoxLayout;
    btnPreviewImport = new QPushButton(QStringLiteral("Import"), this);
    btnPreviewImport->setObjectName(QStringLiteral("btnPreviewImport"));
    btnPreviewCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnPreviewCancel->setObjectName(QStringLiteral("btnPreviewCancel"));
    buttons->addStretch();
    buttons->addWidget(btnPreviewImport);
    buttons->addWidget(btnPreviewCancel);
    layout->addLayout(buttons);
    connect(btnPreviewImport, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnPreviewCancel, &QPushButton::clicked, this, &QDialog::reject);
    // Nothing to store and nothing to create: the import would change nothing.
    btnPreviewImport->setEnabled(judged.stored() > 0 || !m_codes.isEmpty());
    resize(640, 520);
}

void TfrmImportPreview::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    svc::SetupFormLanguage(this);
    static const char *const kinds[3] = {"CodeDepartment", "CodeTitle", "CodeType"};
    lstCodes->clear();
    for (const zq::transfer::CreatedCode &code : std::as_const(m_codes))
        lstCodes->addItem(svc::GetFunctionString(QLatin1String(kinds[code.table])).arg(code.name));
    dgRefusals->setRefusals(m_refusals);
}

} // namespace zq::forms
