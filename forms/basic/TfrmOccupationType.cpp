#include "TfrmOccupationType.h"

#include "ComboFill.h"
#include "Helpers.h"
#include "ModuleLog.h"
#include "Recordset.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace zq::forms {

using zq::module::WindowKind;

MaintenanceSpec TfrmOccupationType::typeSpec()
{
    MaintenanceSpec s;
    s.kind = WindowKind::OccupationType;
    s.formClass = QStringLiteral("TfrmOccupationType");
    s.designCaption = QStringLiteral("Occupation Type Establish");
    s.table = QStringLiteral("OccupationType");
    s.keyColumn = QStringLiteral("TypeNo");
    s.nameColumn = QStringLiteral("TypeName");
    s.listStatement = QStringLiteral(" SELECT * FROM OccupationType ORDER BY TypeNo ");
    s.searchStatement = QStringLiteral(" SELECT * FROM OccupationType ");
    s.duplicatePrefix = QStringLiteral("SELECT * FROM OccupationType WHERE TypeNo = ");
    s.inUsePrefix = QStringLiteral(" SELECT TypeNo FROM HolderData WHERE TypeNo = ");
    s.inUseSuffix = QStringLiteral(" ");
    s.msgInputKey = QStringLiteral("PleaseInputTypeNo");
    s.msgInputName = QStringLiteral("PleaseInputTypeName");
    s.msgDouble = QStringLiteral("TypeNoDouble");
    s.msgInUse = QStringLiteral("HaveOccupationTypeCantDelete");
    s.gridLayoutKey = QStringLiteral("ZQHolderOfOccupationType");
    s.gridColumns = {QStringLiteral("TypeNo"),
                     QStringLiteral("TypeName"),
                     QStringLiteral("Description"),
                     QStringLiteral("PicNoV"),
                     QStringLiteral("PicNoH")};
    s.hasOutput = false;
    s.inertOutputMenu = true;
    return s;
}

namespace {
const QStringList kTools{"btnAdd",
                         "btnSearch",
                         "btnEdit",
                         "btnDelete",
                         "btnOk",
                         "btnCancel",
                         "|",
                         "btnFirst",
                         "btnPrev",
                         "btnNext",
                         "btnLast",
                         "|",
                         "btnRefresh",
                         "|",
                         "btnLabelPic",
                         "|",
                         "btnExit"};
const QStringList kMenu{
    "Add", "Search", "Edit", "Delete", "Output", "First", "Prev", "Next", "Last", "Ok", "Cancel"};
} // namespace

TfrmOccupationType::TfrmOccupationType(int rights, QWidget *parent)
    : MaintenanceWindow(typeSpec(), rights, kTools, kMenu, parent)
    , adoSearch(new zq::data::Recordset(QStringLiteral("adoSearch"), this))
{
    edTypeNo = addEdit("edTypeNo", "lblTypeNo", "Type No:", 10, "TypeNo");
    edTypeName = addEdit("edTypeName", "lblTypeName", "Type Name:", 20, "TypeName");
    edDescription = addEdit("edDescription", "lblDescription", "Description:", 40, "Description");
    cmbPicV = addPicker("cmbPicV", "lblPicV", "Picture ( Vertical ):");
    cmbPicH = addPicker("cmbPicH", "lblPicH", "Picture ( Horizonal ):");
    QToolButton *labelPic = m_ui.button(QStringLiteral("btnLabelPic"));
    labelPic->setMinimumWidth(96);
    connect(labelPic, &QToolButton::clicked, this, &TfrmOccupationType::btnLabelPicClick);
    formCreate();
}

QComboBox *TfrmOccupationType::addPicker(const QString &name,
                                         const QString &labelName,
                                         const QString &caption)
{
    const int row = dataLayout()->rowCount() - 1;
    auto *label = new QLabel(caption, m_ui.tsData);
    label->setObjectName(labelName);
    auto *combo = new QComboBox(m_ui.tsData);
    combo->setObjectName(name);
    combo->setEditable(false);
    combo->setMinimumWidth(260);
    QPalette p = combo->palette();
    const QColor blue(ReadOnlyRgb[0], ReadOnlyRgb[1], ReadOnlyRgb[2]);
    p.setColor(QPalette::Base, blue);
    p.setColor(QPalette::Button, blue);
    combo->setPalette(p);
    label->setBuddy(combo);
    dataLayout()->addWidget(label, row, 0, Qt::AlignRight | Qt::AlignVCenter);
    dataLayout()->addWidget(combo, row, 1);
    dataLayout()->setRowStretch(row, 0);
    dataLayout()->setRowStretch(row + 1, 1);
    // Entering a picker changes nothing; a different picture picked is a change of input
    // like typed text (shown records set the index too, and clear the flag afterwards).
    connect(combo, &QComboBox::currentIndexChanged, this, [this] { setModified(); });
    return combo;
}

void TfrmOccupationType::fillPicker(QComboBox *picker)
{
    picker->clear();
    QStringList keys;
    if (adoSearch->isOpen())
        zq::widgets::FillComboFromDataSet(
            adoSearch, QStringLiteral("PicNo"), QStringLiteral("PicName"), picker, keys);
}

void TfrmOccupationType::openExtraQueries()
{
    zq::data::OpenTableOrdered(adoSearch, QStringLiteral("CardPicture"), QStringLiteral("PicNo"));
    fillPicker(cmbPicV);
    fillPicker(cmbPicH);
}

void TfrmOccupationType::showRecord()
{
    MaintenanceWindow::showRecord();
    if (!adoDB->isOpen() || adoDB->isEmpty() || adoDB->currentRow() < 0)
        return;
    const QPair<QComboBox *, QString> pickers[] = {{cmbPicV, QStringLiteral("PicNoV")},
                                                   {cmbPicH, QStringLiteral("PicNoH")}};
    try {
        for (const auto &p : pickers) {
            const QString text = adoDB->text(p.second).trimmed();
            if (text.isEmpty()) {
                p.first->setCurrentIndex(0);
                continue;
            }
            int found = -1;
            for (int i = 0; i < p.first->count(); ++i) {
                if (zq::data::TextBeforeSeparator(p.first->itemText(i), QStringLiteral(":"))
                        .trimmed()
                    == text) {
                    found = i;
                    break;
                }
            }
            p.first->setCurrentIndex(found);
        }
    } catch (...) {
        zq::logCaught("showing the pictures of a type");
    }
    // Showing a record is not a change of input.
    clearModified();
}

void TfrmOccupationType::writeColumns(zq::data::Recordset &rs)
{
    MaintenanceWindow::writeColumns(rs);
    writeText(rs,
              QStringLiteral("PicNoV"),
              zq::data::TextBeforeSeparator(cmbPicV->currentText(), QStringLiteral(":")).trimmed());
    writeText(rs,
              QStringLiteral("PicNoH"),
              zq::data::TextBeforeSeparator(cmbPicH->currentText(), QStringLiteral(":")).trimmed());
}

void TfrmOccupationType::btnLabelPicClick()
{
    using namespace zq::module;
    if (state().flags[int(WindowKind::LabelPic)] == 0)
        createWindow(WindowKind::LabelPic);
    showDocumentWindow(state().registry[int(WindowKind::LabelPic)]);
}

void TfrmOccupationType::closeEvent(QCloseEvent *event)
{
    using namespace zq::module;
    if (state().flags[int(WindowKind::LabelPic)] == 1
        && state().registry[int(WindowKind::LabelPic)])
        state().registry[int(WindowKind::LabelPic)]->close();
    MaintenanceWindow::closeEvent(event);
}

} // namespace zq::forms
