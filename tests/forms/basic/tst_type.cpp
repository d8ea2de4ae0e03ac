#include "FormTest.h"
#include "Gestures.h"

#include "Connection.h"
#include "Helpers.h"
#include "ModuleState.h"
#include "TfrmLabelPic.h"
#include "TfrmOccupationType.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QTableView>

using zq::data::Connection;
using zq::forms::MaintenanceWindow;
using zq::forms::TfrmLabelPic;
using zq::forms::TfrmOccupationType;
using zq::module::WindowKind;
using namespace zq::test;

namespace {

QString q(const QString &text)
{
    return Connection::quoted(text);
}

QStringList itemsOf(const QComboBox *combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

int windowsOfClass(const QString &formClass)
{
    int n = 0;
    for (QWidget *w : QApplication::allWidgets())
        if (w->property("zq.formClass").toString() == formClass)
            ++n;
    return n;
}

// Closed windows delete themselves later; the tests look at the state after that.
void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

class OccupationTypeTest : public zq::test::FormTest
{
protected:
    void addPicture(const QString &no, const QString &name)
    {
        exec({"INSERT INTO CardPicture (PicNo, PicName) VALUES (" + q(no) + ", " + q(name) + ")"});
    }
    void addType(const QString &no,
                 const QString &name,
                 const QString &picV = {},
                 const QString &picH = {})
    {
        exec({"INSERT INTO OccupationType (TypeNo, TypeName, PicNoV, PicNoH) VALUES (" + q(no)
              + ", " + q(name) + ", " + q(picV) + ", " + q(picH) + ")"});
    }
    QString typeColumn(const QString &no, const QString &column)
    {
        return scalar("SELECT " + column + " FROM OccupationType WHERE TypeNo = " + q(no));
    }
    TfrmOccupationType *openTypes()
    {
        auto *w = open<TfrmOccupationType>(WindowKind::OccupationType);
        EXPECT_NE(w, nullptr);
        return w;
    }
    static void moveTo(TfrmOccupationType *w, const QString &typeNo)
    {
        ASSERT_TRUE(zq::data::LocateRecord(w->listQuery(), "TypeNo", typeNo));
        ASSERT_EQ(w->edTypeNo->text(), typeNo);
    }
    static QWidget *pictureWindow()
    {
        return zq::module::state().registry[int(WindowKind::LabelPic)];
    }
};

TEST_P(OccupationTypeTest, PickersOfferTheCardPicturesKnownWhenTheWindowOpened)
{
    ZQ_FORM_DB();
    addPicture("P02", "Back");
    addPicture("P01", "Front");
    addType("T01", "Staff");
    auto *w = openTypes();
    ASSERT_NE(w, nullptr);
    const QStringList offered{"", "P01 : Front", "P02 : Back"};
    EXPECT_EQ(itemsOf(w->cmbPicV), offered);
    EXPECT_EQ(itemsOf(w->cmbPicH), offered);

    addPicture("P03", "Night");
    clickButton(w, "btnEdit");
    click(w->cmbPicV); // enters the picker and opens its drop-down
    EXPECT_EQ(itemsOf(w->cmbPicV), offered);
    w->cmbPicV->hidePopup();

    w->close();
    flushDeletes();
    w = openTypes();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(itemsOf(w->cmbPicH), offered + QStringList{"P03 : Night"});
}

TEST_P(OccupationTypeTest, StoredPictureKeysSelectTheirItemsAndMissingOnesAreDroppedOnSave)
{
    ZQ_FORM_DB();
    addPicture("P01", "Front");
    addPicture("P02", "Back");
    addType("T01", "Guest", "P09", "P01");
    addType("T02", "Staff", "", "P02");
    auto *w = openTypes();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->cmbPicV->currentIndex(), -1);
    EXPECT_EQ(w->cmbPicH->currentText(), "P01 : Front");
    EXPECT_FALSE(w->isModified());

    clickButton(w, "btnEdit");
    clickButton(w, "btnOk");
    EXPECT_EQ(w->mode(), MaintenanceWindow::EditMode);
    EXPECT_EQ(typeColumn("T01", "PicNoV"), "");
    EXPECT_EQ(typeColumn("T01", "PicNoH"), "P01");
    EXPECT_EQ(typeColumn("T01", "TypeName"), "Guest");

    moveTo(w, "T02");
    EXPECT_EQ(w->cmbPicV->currentIndex(), 0);
    EXPECT_EQ(w->cmbPicH->currentText(), "P02 : Back");
}

// Entering a picker (by Tab or by a click that opens and closes its drop-down) keeps the
// picture it shows and is no change of input.
TEST_P(OccupationTypeTest, EnteringAPickerWhileEditingKeepsItsPicture)
{
    ZQ_FORM_DB();
    addPicture("P01", "Front");
    addPicture("P02", "Back");
    addType("T01", "Staff", "P02", "P01");
    addType("T02", "Guest");
    auto *w = openTypes();
    ASSERT_NE(w, nullptr);
    clickButton(w, "btnEdit");
    ASSERT_EQ(w->cmbPicH->currentText(), "P01 : Front");

    ASSERT_EQ(QApplication::focusWidget(), w->edTypeName);
    pressKey(Qt::Key_Tab); // description
    pressKey(Qt::Key_Tab); // vertical picture
    pressKey(Qt::Key_Tab); // horizontal picture
    ASSERT_EQ(QApplication::focusWidget(), w->cmbPicH);
    EXPECT_EQ(w->cmbPicH->currentText(), "P01 : Front");
    click(w->cmbPicV);
    w->cmbPicV->hidePopup();
    QCoreApplication::processEvents();
    EXPECT_EQ(w->cmbPicV->currentText(), "P02 : Back");
    EXPECT_FALSE(w->isModified());

    // Moving on asks nothing and stores nothing.
    clickButton(w, "btnNext");
    EXPECT_TRUE(d.messages().isEmpty());
    EXPECT_EQ(w->edTypeNo->text(), "T02");
    EXPECT_EQ(typeColumn("T01", "PicNoH"), "P01");
    EXPECT_EQ(typeColumn("T01", "PicNoV"), "P02");

    clickButton(w, "btnPrev");
    clickButton(w, "btnOk");
    EXPECT_EQ(typeColumn("T01", "PicNoH"), "P01");
    EXPECT_EQ(typeColumn("T01", "PicNoV"), "P02");
}

// A picture picked with the mouse from the opened drop-down is the one OK stores, in both
// modes; picking another picture is a change that the save question covers.
TEST_P(OccupationTypeTest, APicturePickedWithTheMouseIsStored)
{
    ZQ_FORM_DB();
    addPicture("P01", "Front");
    addPicture("P02", "Back");
    addType("T01", "Staff");
    addType("T02", "Guest");
    auto *w = openTypes();
    ASSERT_NE(w, nullptr);

    clickButton(w, "btnEdit");
    pickItem(w->cmbPicV, 2);
    EXPECT_EQ(w->cmbPicV->currentText(), "P02 : Back");
    pickItem(w->cmbPicH, 1);
    EXPECT_EQ(w->cmbPicH->currentText(), "P01 : Front");
    EXPECT_TRUE(w->isModified());
    clickButton(w, "btnOk");
    EXPECT_EQ(typeColumn("T01", "PicNoV"), "P02");
    EXPECT_EQ(typeColumn("T01", "PicNoH"), "P01");
    // The grid shows the picture numbers stored.
    const QAbstractItemModel *grid = w->chrome().dgView->model();
    EXPECT_EQ(grid->index(0, 3).data().toString(), "P02");
    EXPECT_EQ(grid->index(0, 4).data().toString(), "P01");

    // A pick in EditMode, then leaving: asked, and Yes stores the pick.
    pickItem(w->cmbPicH, 2);
    d.messageBoxAnswers = {6};
    clickButton(w, "btnNext");
    EXPECT_EQ(d.messages(), QStringList{"SaveEdit"});
    EXPECT_EQ(typeColumn("T01", "PicNoH"), "P02");

    // Added with the keyboard in the drop-down list.
    clickButton(w, "btnAdd");
    typeText("T03");
    typeInto(w->edTypeName, "Night");
    pickItem(w->cmbPicV, 0);
    ASSERT_EQ(QApplication::focusWidget(), w->cmbPicV);
    pressKey(Qt::Key_Down);
    EXPECT_EQ(w->cmbPicV->currentText(), "P01 : Front");
    clickButton(w, "btnOk");
    EXPECT_EQ(w->mode(), MaintenanceWindow::ViewMode);
    EXPECT_EQ(typeColumn("T03", "PicNoV"), "P01");
}

TEST_P(OccupationTypeTest, AddStoresThePickedPictureKeys)
{
    ZQ_FORM_DB();
    addPicture("P01", "Front");
    addPicture("O'P", "Quoted");
    auto *w = openTypes();
    ASSERT_NE(w, nullptr);
    clickButton(w, "btnAdd");
    ASSERT_EQ(w->mode(), MaintenanceWindow::AddMode);
    typeText("T05");
    typeInto(w->edTypeName, "Guard");
    pickItem(w->cmbPicV, w->cmbPicV->findText("P01 : Front"));
    pickItem(w->cmbPicH, w->cmbPicH->findText("O'P : Quoted"));
    clickButton(w, "btnOk");

    EXPECT_EQ(w->mode(), MaintenanceWindow::ViewMode);
    EXPECT_EQ(typeColumn("T05", "TypeName"), "Guard");
    EXPECT_EQ(typeColumn("T05", "PicNoV"), "P01");
    EXPECT_EQ(typeColumn("T05", "PicNoH"), "O'P");
    EXPECT_TRUE(d.auditEntries().contains("BasicDataOccupationTypeI|A T05"));
}

TEST_P(OccupationTypeTest, OnlyTypesNoHolderUsesCanBeDeletedAndOnlyAfterYes)
{
    ZQ_FORM_DB();
    addType("O'T", "Used");
    addType("T02", "Free");
    exec({"INSERT INTO HolderData (HolderNo, HolderName, TypeNo) VALUES (" + q("H1") + ", "
          + q("Holder") + ", " + q("O'T") + ")"});
    auto *w = openTypes();
    ASSERT_NE(w, nullptr);
    moveTo(w, "O'T");
    d.messageBoxAnswers = {6};
    clickButton(w, "btnDelete");
    EXPECT_EQ(d.messages(), QStringList{"HaveOccupationTypeCantDelete"});
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationType"), 2);
    EXPECT_TRUE(d.auditEntries().isEmpty());

    moveTo(w, "T02");
    d.calls.clear();
    d.messageBoxAnswers = {7, 6};
    clickButton(w, "btnDelete");
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationType"), 2);
    clickButton(w, "btnDelete");
    EXPECT_EQ(d.messages(), (QStringList{"DeleteRecord", "DeleteRecord"}));
    EXPECT_EQ(typeColumn("O'T", "TypeName"), "Used");
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationType"), 1);
    EXPECT_EQ(d.auditEntries(), QStringList{"BasicDataOccupationTypeI|D T02"});
}

TEST_P(OccupationTypeTest, CardPictureWindowOpensOnceAndClosesWithTheTypeWindow)
{
    ZQ_FORM_DB();
    auto *w = openTypes();
    ASSERT_NE(w, nullptr);
    clickButton(w, "btnLabelPic");
    QWidget *first = pictureWindow();
    ASSERT_NE(qobject_cast<TfrmLabelPic *>(first), nullptr);
    clickButton(w, "btnLabelPic");
    EXPECT_EQ(pictureWindow(), first);
    EXPECT_EQ(windowsOfClass("TfrmLabelPic"), 1);
    EXPECT_TRUE(first->isVisible());

    w->close();
    flushDeletes();
    EXPECT_EQ(pictureWindow(), nullptr);
    EXPECT_EQ(zq::module::state().flags[int(WindowKind::LabelPic)], 0);
    EXPECT_EQ(windowsOfClass("TfrmLabelPic"), 0);
}

TEST_P(OccupationTypeTest, OutputCommandDoesNothing)
{
    ZQ_FORM_DB();
    addType("T01", "Staff");
    auto *w = open<TfrmOccupationType>(WindowKind::OccupationType, 63); // no output bit
    ASSERT_NE(w, nullptr);
    QAction *output = w->chrome().menuItem("mnuOutput");
    ASSERT_NE(output, nullptr);
    // The menu item "&Print" is there, and inert; there is no output button.
    EXPECT_TRUE(output->isVisible());
    EXPECT_TRUE(output->isEnabled());
    EXPECT_EQ(w->chrome().button("btnOutput"), nullptr);
    d.calls.clear();
    clickMenuItem(w, output);
    EXPECT_TRUE(d.calls.isEmpty());
    EXPECT_EQ(w->mode(), MaintenanceWindow::ViewMode);
    EXPECT_EQ(w->edTypeNo->text(), "T01");
}

// Double-clicks and keys in the grid are no way round the rights bits.
TEST_P(OccupationTypeTest, GridGesturesNeedTheirRights)
{
    ZQ_FORM_DB();
    addType("T01", "Staff");
    addType("T02", "Guest");
    auto *w = open<TfrmOccupationType>(WindowKind::OccupationType, 127 & ~4 & ~8);
    ASSERT_NE(w, nullptr);
    QTableView *grid = w->chrome().dgView;
    doubleClickRow(grid, 1);
    EXPECT_EQ(w->mode(), MaintenanceWindow::ViewMode);
    EXPECT_EQ(w->edTypeNo->text(), "T02");
    ASSERT_EQ(QApplication::focusWidget(), grid);
    d.messageBoxAnswers = {6};
    pressKey(Qt::Key_Delete);
    pressKey(Qt::Key_Return);
    EXPECT_TRUE(d.messages().isEmpty());
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationType"), 2);
    EXPECT_EQ(w->mode(), MaintenanceWindow::ViewMode);
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Engines,
                         OccupationTypeTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
