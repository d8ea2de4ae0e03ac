#include "FormTest.h"

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

using zq::data::Connection;
using zq::forms::MaintenanceWindow;
using zq::forms::TfrmLabelPic;
using zq::forms::TfrmOccupationType;
using zq::module::WindowKind;

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
    w->btnEditClick();
    w->pickerEntered(w->cmbPicV);
    EXPECT_EQ(itemsOf(w->cmbPicV), offered);

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

    w->btnEditClick();
    w->btnOkClick();
    EXPECT_EQ(w->mode(), MaintenanceWindow::EditMode);
    EXPECT_EQ(typeColumn("T01", "PicNoV"), "");
    EXPECT_EQ(typeColumn("T01", "PicNoH"), "P01");
    EXPECT_EQ(typeColumn("T01", "TypeName"), "Guest");

    moveTo(w, "T02");
    EXPECT_EQ(w->cmbPicV->currentIndex(), 0);
    EXPECT_EQ(w->cmbPicH->currentText(), "P02 : Back");
}

TEST_P(OccupationTypeTest, EnteringAPickerWhileEditingStartsItOverWithNothingPicked)
{
    ZQ_FORM_DB();
    addPicture("P01", "Front");
    addPicture("P02", "Back");
    addType("T01", "Staff", "P02", "P01");
    auto *w = openTypes();
    ASSERT_NE(w, nullptr);
    w->btnEditClick();
    ASSERT_EQ(w->cmbPicH->currentText(), "P01 : Front");

    QFocusEvent focusIn(QEvent::FocusIn, Qt::TabFocusReason);
    QCoreApplication::sendEvent(w->cmbPicH, &focusIn);
    EXPECT_EQ(w->cmbPicH->currentIndex(), 0);
    EXPECT_EQ(w->cmbPicH->count(), 3);
    EXPECT_EQ(w->cmbPicV->currentText(), "P02 : Back");

    w->btnOkClick();
    EXPECT_EQ(typeColumn("T01", "PicNoH"), "");
    EXPECT_EQ(typeColumn("T01", "PicNoV"), "P02");
}

TEST_P(OccupationTypeTest, AddStoresThePickedPictureKeys)
{
    ZQ_FORM_DB();
    addPicture("P01", "Front");
    addPicture("O'P", "Quoted");
    auto *w = openTypes();
    ASSERT_NE(w, nullptr);
    w->btnAddClick();
    ASSERT_EQ(w->mode(), MaintenanceWindow::AddMode);
    w->edTypeNo->setText("T05");
    w->edTypeName->setText("Guard");
    w->cmbPicV->setCurrentText("P01 : Front");
    w->cmbPicH->setCurrentText("O'P : Quoted");
    w->btnOkClick();

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
    w->btnDeleteClick();
    EXPECT_EQ(d.messages(), QStringList{"HaveOccupationTypeCantDelete"});
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationType"), 2);
    EXPECT_TRUE(d.auditEntries().isEmpty());

    moveTo(w, "T02");
    d.calls.clear();
    d.messageBoxAnswers = {7, 6};
    w->btnDeleteClick();
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationType"), 2);
    w->btnDeleteClick();
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
    w->btnLabelPicClick();
    QWidget *first = pictureWindow();
    ASSERT_NE(qobject_cast<TfrmLabelPic *>(first), nullptr);
    w->btnLabelPicClick();
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
    auto *w = openTypes();
    ASSERT_NE(w, nullptr);
    QAction *output = w->chrome().menuItem("mnuOutput");
    ASSERT_NE(output, nullptr);
    d.calls.clear();
    output->trigger();
    w->btnOutputClick();
    EXPECT_TRUE(d.calls.isEmpty());
    EXPECT_EQ(w->mode(), MaintenanceWindow::ViewMode);
    EXPECT_EQ(w->edTypeNo->text(), "T01");
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Engines,
                         OccupationTypeTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
