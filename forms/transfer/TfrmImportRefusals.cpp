#include "TfrmImportRefusals.h"

#include "RefusalReport.h"
#include "Services.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QStandardItemModel>
#include <QVBoxLayout>

namespace zq::forms {

namespace svc = zq::services;

RefusalGrid::RefusalGrid(QWidget *parent)
    : QTableView(parent)
    , m_model(new QStandardItemModel(this))
{
    setModel(m_model);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAlternatingRowColors(true);
    verticalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
}

void RefusalGrid::setRefusals(const QList<zq::transfer::Refusal> &refusals)
{
    m_model->clear();
    m_model->setHorizontalHeaderLabels(zq::transfer::refusalReportHeader());
    m_model->setRowCount(int(refusals.size()));
    for (int r = 0; r < refusals.size(); ++r) {
        const QStringList row = zq::transfer::refusalReportRow(refusals.at(r));
        for (int c = 0; c < row.size(); ++c) {
            QString text = row.at(c);
            text.replace(QChar(0), QStringLiteral("\\0"));
            auto *item = new QStandardItem(text);
            if (c == 0)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_model->setItem(r, c, item);
        }
    }
    resizeColumnsToContents();
}

TfrmImportRefusals::TfrmImportRefusals(const QList<zq::transfer::Refusal> &refusals,
                                       QWidget *parent)
    : QDialog(parent)
    , m_refusals(refusals)
{
    setObjectName(QStringLiteral("frmImportRefusals"));
    setProperty("zq.formClass", QStringLiteral("TfrmImportRefusals"));
    setWindowTitle(QStringLiteral("Refused lines"));
    auto *layout = new QVBoxLayout(this);
    dgRefusals = new RefusalGrid(this);
    dgRefusals->setObjectName(QStringLiteral("dgRefusals"));
    layout->addWidget(dgRefusals, 1);
    auto *buttons = new QHBoxLayout;
    btnSaveCsv = new QPushButton(QStringLiteral("Save as CSV..."), this);
    btnSaveCsv->setObjectName(QStringLiteral("btnSaveCsv"));
    btnRefusalsClose = new QPushButton(QStringLiteral("Close"), this);
    btnRefusalsClose->setObjectName(QStringLiteral("btnRefusalsClose"));
    buttons->addStretch();
    buttons->addWidget(btnSaveCsv);
    buttons->addWidget(btnRefusalsClose);
    layout->addLayout(buttons);
    connect(btnSaveCsv, &QPushButton::clicked, this, &TfrmImportRefusals::btnSaveCsvClick);
    connect(btnRefusalsClose, &QPushButton::clicked, this, &QDialog::accept);
    resize(640, 420);

    QString folder = svc::GetProgramPath();
    m_saveDialog.save = true;
    m_saveDialog.folder = folder;
    m_saveDialog.fileName = folder + QStringLiteral("refused.csv");
}

void TfrmImportRefusals::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    svc::SetupFormLanguage(this);
    // The texts of the grid follow the language just chosen.
    dgRefusals->setRefusals(m_refusals);
}

bool TfrmImportRefusals::btnSaveCsvClick()
{
    svc::PlaySoundClick();
    m_saveDialog.fileTypes = {svc::GetFunctionString(QStringLiteral("CsvFiles"))
                              + QStringLiteral(" (*.csv)")};
    m_saveDialog.fileType = 0;
    QString path = zq::platform::chooseFile(this, m_saveDialog);
    if (path.isEmpty())
        return false;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    m_saveDialog.fileName = path;
    zq::transfer::RefusalReportWriter report(path);
    if (!report.open() || !report.write(m_refusals) || !report.commit()) {
        svc::SelectFormLanguage(this);
        svc::ShowMessageBox(
            QStringLiteral("RefusalsNotSaved"), QStringLiteral("SystemMessage"), 16);
        return false;
    }
    svc::PlaySoundOk();
    return true;
}

} // namespace zq::forms
