// The controls of the import/export window and where they stand.
#include "FormatPanel.h"
#include "Services.h"
#include "TfrmHolderImportExport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace zq::forms {

namespace {

template<typename W, typename... Args>
W *named(const char *name, Args &&...args)
{
    auto *w = new W(std::forward<Args>(args)...);
    w->setObjectName(QLatin1String(name));
    return w;
}

QProgressBar *progressBar(const char *name, QWidget *parent)
{
    auto *bar = named<QProgressBar>(name, parent);
    bar->setRange(0, 1);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

// A progress bar at rest looks like an empty field: it stands after its label.
QHBoxLayout *labelled(QLabel *label, QWidget *field)
{
    auto *row = new QHBoxLayout;
    label->setBuddy(field);
    row->addWidget(label);
    row->addWidget(field, 1);
    return row;
}

// A path too long for its field shows from its start, the whole of it in the tool tip.
void showPathsFromTheStart(QLineEdit *edit)
{
    QObject::connect(edit, &QLineEdit::textChanged, edit, [edit](const QString &path) {
        edit->setCursorPosition(0);
        edit->setToolTip(path);
    });
}

} // namespace

void TfrmHolderImportExport::buildLayout()
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(8, 8, 8, 8);
    pcData = named<QTabWidget>("pcData", this);
    outer->addWidget(pcData);
    tsExport = named<QWidget>("tsExport");
    tsImport = named<QWidget>("tsImport");
    pcData->addTab(tsExport, QStringLiteral("Export"));
    pcData->addTab(tsImport, QStringLiteral("Import"));

    // Export page.
    auto *exportPage = new QVBoxLayout(tsExport);
    gbDepartment = named<QGroupBox>("gbDepartment", QStringLiteral("gbDepartment"), tsExport);
    auto *scope = new QGridLayout(gbDepartment);
    rbAll = named<QRadioButton>("rbAll", QStringLiteral("ALL Department"), gbDepartment);
    rbDepartment = named<QRadioButton>(
        "rbDepartment", QStringLiteral("By Department"), gbDepartment);
    cbxDepartment = named<QComboBox>("cbxDepartment", gbDepartment);
    cbxDepartment->setMinimumWidth(180);
    cbxDepartment->setAutoFillBackground(true);
    rbAll->setChecked(true);
    scope->addWidget(rbAll, 0, 0);
    scope->addWidget(rbDepartment, 1, 0);
    scope->addWidget(cbxDepartment, 1, 1);
    scope->setColumnStretch(1, 1);
    exportPage->addWidget(gbDepartment);
    chkPunchCard = named<QCheckBox>("chkPunchCard", QStringLiteral("Punch Card Only"), tsExport);
    lblExportSpaceChar = named<QLabel>(
        "lblExportSpaceChar", QStringLiteral("SpaceChar:"), tsExport);
    cbxExportSpaceChar = named<QComboBox>("cbxExportSpaceChar", tsExport);
    auto *exportOptions = new QHBoxLayout;
    exportOptions->addWidget(chkPunchCard);
    exportOptions->addStretch();
    exportOptions->addWidget(lblExportSpaceChar);
    exportOptions->addWidget(cbxExportSpaceChar);
    exportPage->addLayout(exportOptions);
    m_exportFormatSlot = new QVBoxLayout;
    exportPage->addLayout(m_exportFormatSlot, 1);
    pbExportProcess = progressBar("pbExportProcess", tsExport);
    exportPage->addLayout(
        labelled(named<QLabel>("lblExportProgress", QStringLiteral("Progress:"), tsExport),
                 pbExportProcess));
    auto *exportFile = new QHBoxLayout;
    lblExportFile = named<QLabel>("lblExportFile", QStringLiteral("Export File："), tsExport);
    edExportFile = named<QLineEdit>("edExportFile", tsExport);
    edExportFile->setReadOnly(true);
    edExportFile->setMinimumWidth(260);
    showPathsFromTheStart(edExportFile);
    btnExportPath = named<QPushButton>("btnExportPath", QStringLiteral("Default"), tsExport);
    btnExportFile = named<QPushButton>("btnExportFile", QStringLiteral("..."), tsExport);
    exportFile->addWidget(lblExportFile);
    exportFile->addWidget(edExportFile, 1);
    exportFile->addWidget(btnExportPath);
    exportFile->addWidget(btnExportFile);
    exportPage->addLayout(exportFile);
    auto *exportButtons = new QHBoxLayout;
    btnExport = named<QPushButton>("btnExport", QStringLiteral("Export"), tsExport);
    btnExportClose = named<QPushButton>("btnExportClose", QStringLiteral("Close"), tsExport);
    exportButtons->addStretch();
    exportButtons->addWidget(btnExport);
    exportButtons->addWidget(btnExportClose);
    exportPage->addLayout(exportButtons);

    // Import page.
    auto *importPage = new QVBoxLayout(tsImport);
    gbCondition = named<QGroupBox>("gbCondition", QStringLiteral("Condition"), tsImport);
    auto *condition = new QHBoxLayout(gbCondition);
    chkHolderCover = named<QCheckBox>("chkHolderCover", QStringLiteral("HolderCover"), gbCondition);
    lblSpaceChar = named<QLabel>("lblSpaceChar", QStringLiteral("SpaceChar:"), gbCondition);
    cbxSpaceChar = named<QComboBox>("cbxSpaceChar", gbCondition);
    // Tab last: the three of older files keep their places.
    const QStringList separators{QStringLiteral(","),
                                 QStringLiteral(";"),
                                 QStringLiteral(":"),
                                 zq::services::GetFunctionString(QStringLiteral("TabSeparator"))};
    cbxSpaceChar->addItems(separators);
    cbxExportSpaceChar->addItems(separators);
    condition->addWidget(chkHolderCover);
    condition->addStretch();
    condition->addWidget(lblSpaceChar);
    condition->addWidget(cbxSpaceChar);
    importPage->addWidget(gbCondition);
    m_importFormatSlot = new QVBoxLayout;
    importPage->addLayout(m_importFormatSlot, 1);
    pbImportProcess = progressBar("pbImportProcess", tsImport);
    importPage->addLayout(
        labelled(named<QLabel>("lblImportProgress", QStringLiteral("Progress:"), tsImport),
                 pbImportProcess));
    auto *importFile = new QHBoxLayout;
    lblImportFile = named<QLabel>("lblImportFile", QStringLiteral("Export File："), tsImport);
    edImportFile = named<QLineEdit>("edImportFile", tsImport);
    edImportFile->setReadOnly(true);
    edImportFile->setMinimumWidth(260);
    showPathsFromTheStart(edImportFile);
    btnImportFile = named<QPushButton>("btnImportFile", QStringLiteral("..."), tsImport);
    importFile->addWidget(lblImportFile);
    importFile->addWidget(edImportFile, 1);
    importFile->addWidget(btnImportFile);
    importPage->addLayout(importFile);
    auto *importResult = new QHBoxLayout;
    lblImportResult = named<QLabel>("lblImportResult", tsImport);
    btnRefusals = named<QPushButton>("btnRefusals", QStringLiteral("Refused lines..."), tsImport);
    btnRefusals->setEnabled(false);
    importResult->addWidget(lblImportResult, 1);
    importResult->addWidget(btnRefusals);
    importPage->addLayout(importResult);
    auto *importButtons = new QHBoxLayout;
    btnPreview = named<QPushButton>("btnPreview", QStringLiteral("Preview..."), tsImport);
    btnImport = named<QPushButton>("btnImport", QStringLiteral("Import"), tsImport);
    btnImportClose = named<QPushButton>("btnImportClose", QStringLiteral("Close"), tsImport);
    importButtons->addStretch();
    importButtons->addWidget(btnPreview);
    importButtons->addWidget(btnImport);
    importButtons->addWidget(btnImportClose);
    importPage->addLayout(importButtons);

    gbFormat = new FormatPanel(tsExport);
    m_exportFormatSlot->addWidget(gbFormat);

    tmrTime = named<QTimer>("tmrTime", this);
    tmrTime->setInterval(500);
    tmrTime->setSingleShot(true);
}

} // namespace zq::forms
