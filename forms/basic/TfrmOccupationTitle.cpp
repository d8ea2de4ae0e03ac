#include "TfrmOccupationTitle.h"

#include <QLineEdit>

namespace zq::forms {

MaintenanceSpec TfrmOccupationTitle::titleSpec()
{
    MaintenanceSpec s;
    s.kind = zq::module::WindowKind::OccupationTitle;
    s.formClass = QStringLiteral("TfrmOccupationTitle");
    s.designCaption = QStringLiteral("Occupation Title Establish");
    s.table = QStringLiteral("OccupationTitle");
    s.keyColumn = QStringLiteral("TitleNo");
    s.nameColumn = QStringLiteral("TitleName");
    s.listStatement = QStringLiteral(" SELECT * FROM OccupationTitle ORDER BY TitleNo ");
    s.searchStatement = QStringLiteral(" SELECT * FROM OccupationTitle ");
    s.duplicatePrefix = QStringLiteral("Select * From OccupationTitle Where TitleNo = ");
    s.inUsePrefix = QStringLiteral(" SELECT TitleNo FROM HolderData WHERE TitleNo = ");
    s.inUseSuffix = QStringLiteral(" ");
    s.msgInputKey = QStringLiteral("PleaseInputTitleNo");
    s.msgInputName = QStringLiteral("PleaseInputTitleName");
    s.msgDouble = QStringLiteral("TitleNoDouble");
    s.msgInUse = QStringLiteral("HaveOccupationTitleCantDelete");
    s.gridLayoutKey = QStringLiteral("ZQHolderOfOccupationTitle");
    s.gridColumns = {
        QStringLiteral("TitleNo"), QStringLiteral("TitleName"), QStringLiteral("Description")};
    s.hasOutput = false;
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
                         "btnOutput",
                         "|",
                         "btnExit"};
const QStringList kMenu{
    "Add", "Search", "Edit", "Delete", "Output", "First", "Prev", "Next", "Last", "Ok", "Cancel"};
} // namespace

TfrmOccupationTitle::TfrmOccupationTitle(int rights, QWidget *parent)
    : MaintenanceWindow(titleSpec(), rights, kTools, kMenu, parent)
{
    edTitleNo = addEdit("edTitleNo", "lblTitleNo", "Title No:", 10, "TitleNo");
    edTitleName = addEdit("edTitleName", "lblTitleName", "Title Name:", 20, "TitleName");
    edDescription = addEdit("edDescription", "lblDescription", "Description:", 40, "Description");
    formCreate();
}

} // namespace zq::forms
