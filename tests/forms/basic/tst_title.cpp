// The record-maintenance pattern, driven through the occupation-title window's widgets.
#include "FormTest.h"

#include "Connection.h"
#include "Helpers.h"
#include "Recordset.h"
#include "TfrmOccupationTitle.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <QToolButton>

using namespace zq::forms;
using zq::data::Connection;
using zq::module::WindowKind;

namespace {
constexpr int Yes = 6, No = 7;
const QString kKey = "BasicDataOccupationTitleI";
} // namespace

class OccupationTitleTest : public zq::test::FormTest
{
protected:
    TfrmOccupationTitle *openTitles(int rights = 127)
    {
        exec({"INSERT INTO OccupationTitle (TitleNo, TitleName, Description) VALUES ('T01', 'Director', 'd')",
              "INSERT INTO OccupationTitle (TitleNo, TitleName, Description) VALUES ('T02', 'manager', 'm')",
              "INSERT INTO OccupationTitle (TitleNo, TitleName, Description) VALUES ('T03', 'Clerk', 'c')"});
        auto *w = open<TfrmOccupationTitle>(WindowKind::OccupationTitle, rights);
        EXPECT_TRUE(w);
        return w;
    }
    static QString listOrder(TfrmOccupationTitle *w)
    {
        QStringList keys;
        auto *rs = w->listQuery();
        for (int i = 0; i < rs->recordCount(); ++i)
            keys << zq::data::Recordset::textOf(rs->valueAt(i, rs->fieldIndex("TitleNo")));
        return keys.join(",");
    }
};

TEST_P(OccupationTitleTest, OpensInViewModeWithTheListAndItsTexts)
{
    ZQ_FORM_DB();
    auto *w = openTitles();
    ASSERT_TRUE(w);
    EXPECT_EQ(w->mode(), MaintenanceWindow::ViewMode);
    EXPECT_EQ(w->listQuery()->recordCount(), 3);
    EXPECT_EQ(w->edTitleNo->text(), "T01");
    EXPECT_TRUE(w->edTitleNo->isReadOnly());
    EXPECT_EQ(w->edTitleNo->palette().color(QPalette::Base), QColor(166, 202, 240));
    EXPECT_EQ(w->size(), QSize(974, 718));
    EXPECT_FALSE(w->chrome().button("btnOutput")->isVisibleTo(w));
    EXPECT_EQ(d.count("SetupFormLanguage"), 1);
    EXPECT_EQ(d.callsNamed("GetDBGridView").value(0).args.value(1), "ZQHolderOfOccupationTitle");
    EXPECT_TRUE(d.sounds().contains("Open"));
    EXPECT_EQ(w->chrome().panel0->text(), "ViewMode");
    w->close();
    QCoreApplication::processEvents();
    EXPECT_EQ(d.callsNamed("SetDBGridView").value(0).args.value(1), "ZQHolderOfOccupationTitle");
    EXPECT_TRUE(d.sounds().contains("Close"));
}

TEST_P(OccupationTitleTest, ASmallScreenGivesTheSmallWindow)
{
    ZQ_FORM_DB();
    MaintenanceWindow::setScreenSizeOverride(QSize(800, 600));
    auto *w = openTitles();
    ASSERT_TRUE(w);
    EXPECT_EQ(w->size(), QSize(650, 580));
}

TEST_P(OccupationTitleTest, InsertTrimsTheKeyRefusesDuplicatesAndAudits)
{
    ZQ_FORM_DB();
    auto *w = openTitles();
    ASSERT_TRUE(w);
    w->btnAddClick();
    ASSERT_EQ(w->mode(), MaintenanceWindow::AddMode);
    EXPECT_TRUE(w->edTitleNo->text().isEmpty());
    EXPECT_FALSE(w->edTitleNo->isReadOnly());

    // A key typed with blanks is the same key.
    QTest::keyClicks(w->edTitleNo, "  T02 ");
    QTest::keyClicks(w->edTitleName, "Other");
    w->btnOkClick();
    EXPECT_EQ(d.messages(), QStringList{"TitleNoDouble"});
    EXPECT_EQ(d.callsNamed("ShowMessageBox").value(0).args.value(2), "16");
    EXPECT_EQ(w->mode(), MaintenanceWindow::AddMode);
    EXPECT_TRUE(w->edTitleNo->hasFocus());
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationTitle"), 3);
    EXPECT_TRUE(d.auditEntries().isEmpty());

    w->edTitleNo->setText("  T09 ");
    w->edTitleName->setText(" Nine ");
    w->btnOkClick();
    EXPECT_EQ(w->mode(), MaintenanceWindow::ViewMode);
    EXPECT_EQ(scalar("SELECT TitleName FROM OccupationTitle WHERE TitleNo = 'T09'"), "Nine");
    EXPECT_EQ(d.auditEntries(), QStringList{kKey + "|A T09"});
    EXPECT_EQ(w->listQuery()->text("TitleNo"), "T09"); // positioned on the new row
    EXPECT_EQ(w->edTitleName->text(), "Nine");
}

TEST_P(OccupationTitleTest, MissingInputIsAskedForAndFocused)
{
    ZQ_FORM_DB();
    auto *w = openTitles();
    ASSERT_TRUE(w);
    w->btnAddClick();
    w->edTitleName->setText("name only");
    w->btnOkClick();
    w->edTitleNo->setText("T10");
    w->edTitleName->setText("   ");
    w->btnOkClick();
    EXPECT_EQ(d.messages(), (QStringList{"PleaseInputTitleNo", "PleaseInputTitleName"}));
    EXPECT_EQ(d.callsNamed("ShowMessageBox").value(1).args.value(2), "64");
    EXPECT_TRUE(w->edTitleName->hasFocus());
    EXPECT_EQ(w->mode(), MaintenanceWindow::AddMode);
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationTitle"), 3);
}

TEST_P(OccupationTitleTest, OkInEditModeSavesAndStaysEveryTime)
{
    ZQ_FORM_DB();
    auto *w = openTitles();
    ASSERT_TRUE(w);
    w->btnNextClick(); // T02
    w->btnEditClick();
    ASSERT_EQ(w->mode(), MaintenanceWindow::EditMode);
    EXPECT_TRUE(w->edTitleNo->isReadOnly());
    EXPECT_TRUE(w->edTitleName->hasFocus());
    w->edTitleName->setText("Manager ");
    w->btnOkClick();
    EXPECT_EQ(w->mode(), MaintenanceWindow::EditMode);
    w->btnOkClick();
    EXPECT_EQ(scalar("SELECT TitleName FROM OccupationTitle WHERE TitleNo = 'T02'"), "Manager");
    EXPECT_EQ(d.auditEntries(), (QStringList{kKey + "|E T02", kKey + "|E T02"}));
    EXPECT_EQ(w->edTitleName->text(), "Manager");
}

TEST_P(OccupationTitleTest, TheLeaveCheckAsksOnlyWhenInputWouldBeLost)
{
    ZQ_FORM_DB();
    auto *w = openTitles();
    ASSERT_TRUE(w);
    // Edit mode, changed: navigating asks; No drops the change and moves on.
    w->btnEditClick();
    w->edTitleName->setText("changed");
    d.messageBoxAnswers = {No};
    w->btnNextClick();
    EXPECT_EQ(d.messages(), QStringList{"SaveEdit"});
    EXPECT_EQ(w->edTitleNo->text(), "T02");
    EXPECT_EQ(scalar("SELECT TitleName FROM OccupationTitle WHERE TitleNo = 'T01'"), "Director");

    // Unchanged: Refresh and Add do not ask; Cancel never asks.
    w->btnRefreshClick();
    w->btnEditClick();
    w->btnAddClick();
    w->btnCancelClick();
    EXPECT_EQ(d.messages().size(), 1);

    // Changed but the name emptied: no question, the input is dropped.
    w->btnEditClick();
    w->edTitleName->clear();
    w->btnRefreshClick();
    EXPECT_EQ(d.messages().size(), 1);

    // Changed and Yes: saved before the refresh.
    w->btnEditClick();
    w->edTitleName->setText("Director 2");
    d.messageBoxAnswers = {Yes};
    w->btnRefreshClick();
    EXPECT_EQ(d.messages().size(), 2);
    EXPECT_EQ(scalar("SELECT TitleName FROM OccupationTitle WHERE TitleNo = 'T01'"), "Director 2");
    EXPECT_EQ(w->mode(), MaintenanceWindow::ViewMode);
}

TEST_P(OccupationTitleTest, NavigatingInAddModeKeepsTheTypedKey)
{
    ZQ_FORM_DB();
    auto *w = openTitles();
    ASSERT_TRUE(w);
    w->btnAddClick();
    w->edTitleNo->setText("NEW");
    w->btnLastClick();
    EXPECT_TRUE(d.messages().isEmpty());
    EXPECT_EQ(w->edTitleNo->text(), "NEW");
    EXPECT_EQ(w->edTitleName->text(), "Clerk");
    // Add with key and name filled: leaving through Edit asks and Yes inserts.
    d.messageBoxAnswers = {Yes};
    w->btnEditClick();
    EXPECT_EQ(d.messages(), QStringList{"SaveEdit"});
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationTitle WHERE TitleNo = 'NEW'"), 1);
    EXPECT_EQ(w->mode(), MaintenanceWindow::EditMode);
}

TEST_P(OccupationTitleTest, TitleClicksToggleTheSortAcrossColumns)
{
    ZQ_FORM_DB();
    auto *w = openTitles();
    ASSERT_TRUE(w);
    QHeaderView *header = w->chrome().dgView->horizontalHeader();
    emit header->sectionClicked(1);
    EXPECT_EQ(w->listQuery()->sort(), "TitleName DESC");
    EXPECT_EQ(listOrder(w), "T02,T01,T03");
    emit header->sectionClicked(1);
    EXPECT_EQ(w->listQuery()->sort(), "TitleName");
    EXPECT_EQ(listOrder(w), "T03,T01,T02");
    emit header->sectionClicked(0);
    EXPECT_EQ(w->listQuery()->sort(), "TitleNo DESC");
    emit header->sectionClicked(1); // after a descending sort another column goes ascending
    EXPECT_EQ(w->listQuery()->sort(), "TitleName");
    w->btnRefreshClick();
    EXPECT_EQ(listOrder(w), "T01,T02,T03");
}

TEST_P(OccupationTitleTest, RightsBitsDisableTheirCommands)
{
    ZQ_FORM_DB();
    auto *w = openTitles(1 + 4 + 16 + 32);
    ASSERT_TRUE(w);
    const MaintenanceChrome &ui = w->chrome();
    for (const char *name : {"Search", "Delete"}) {
        EXPECT_FALSE(ui.button(QString("btn") + name)->isEnabled()) << name;
        EXPECT_FALSE(ui.menuItem(QString("mnu") + name)->isEnabled()) << name;
    }
    for (const char *name : {"Add", "Edit", "Ok", "Cancel", "First", "Refresh", "Exit"})
        EXPECT_TRUE(ui.button(QString("btn") + name)->isEnabled()) << name;
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QCoreApplication::sendEvent(ui.dgView, &del);
    EXPECT_TRUE(d.messages().isEmpty());
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationTitle"), 3);
}

TEST_P(OccupationTitleTest, KeysWithQuotesAreFoundStoredAndDeleted)
{
    ZQ_FORM_DB();
    auto *w = openTitles();
    ASSERT_TRUE(w);
    w->btnAddClick();
    w->edTitleNo->setText("O'1");
    w->edTitleName->setText("it's");
    w->btnOkClick();
    EXPECT_EQ(scalar("SELECT TitleName FROM OccupationTitle WHERE TitleNo = " + Connection::quoted("O'1")),
              "it's");
    w->btnAddClick();
    w->edTitleNo->setText("O'1");
    w->edTitleName->setText("again");
    w->btnOkClick();
    EXPECT_EQ(d.messages(), QStringList{"TitleNoDouble"});
    w->btnCancelClick();

    // In use by a holder: refused before any question.
    exec({"INSERT INTO HolderData (HolderNo, TitleNo) VALUES ('H1', " + Connection::quoted("O'1") + ")"});
    ASSERT_TRUE(zq::data::LocateRecord(w->listQuery(), "TitleNo", "O'1"));
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QCoreApplication::sendEvent(w->chrome().dgView, &del);
    EXPECT_EQ(d.messages().last(), "HaveOccupationTitleCantDelete");
    EXPECT_TRUE(d.sounds().contains("Error"));

    exec({"DELETE FROM HolderData"});
    d.messageBoxAnswers = {Yes};
    w->btnDeleteClick();
    EXPECT_EQ(d.messages().last(), "DeleteRecord");
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationTitle"), 3);
    EXPECT_EQ(d.auditEntries().last(), kKey + "|D O'1");
    EXPECT_EQ(w->mode(), MaintenanceWindow::ViewMode);
}

TEST_P(OccupationTitleTest, AFailedSaveIsRolledBackAndKeepsTheInput)
{
    ZQ_FORM_DB();
    auto *w = openTitles();
    ASSERT_TRUE(w);
    w->btnAddClick();
    w->edTitleNo->setText("T20");
    w->edTitleName->setText("lost?");
    exec({"DROP TABLE OccupationTitle"});
    w->btnOkClick();
    EXPECT_EQ(w->mode(), MaintenanceWindow::AddMode);
    EXPECT_EQ(w->edTitleName->text(), "lost?");
    EXPECT_TRUE(d.auditEntries().isEmpty());
    EXPECT_TRUE(db().isConnected());
    EXPECT_FALSE(db().inTransaction());
    // The window stays usable.
    w->btnCancelClick();
    w->btnRefreshClick();
    EXPECT_FALSE(w->listQuery()->isOpen());
    w->btnNextClick();
    EXPECT_TRUE(d.sounds().endsWith("Error"));
}

TEST_P(OccupationTitleTest, WheelAndPageKeysNavigate)
{
    ZQ_FORM_DB();
    auto *w = openTitles();
    ASSERT_TRUE(w);
    QWidget *viewport = w->chrome().dgView->viewport();
    QWheelEvent down(QPointF(5, 5), viewport->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                     Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(viewport, &down);
    EXPECT_EQ(w->edTitleNo->text(), "T02");
    QTest::keyClick(w->edTitleName, Qt::Key_PageDown);
    EXPECT_EQ(w->edTitleNo->text(), "T03");
    QTest::keyClick(w->edTitleName, Qt::Key_PageUp);
    EXPECT_EQ(w->edTitleNo->text(), "T02");
    // The grid follows the cursor, and the cursor follows a click in the grid.
    EXPECT_EQ(w->chrome().dgView->currentIndex().row(), 1);
    w->chrome().dgView->selectRow(2);
    EXPECT_EQ(w->edTitleNo->text(), "T03");
}

TEST_P(OccupationTitleTest, SearchRunsTheDialogOnlyInViewMode)
{
    ZQ_FORM_DB();
    auto *w = openTitles();
    ASSERT_TRUE(w);
    d.search = [](zq::data::Recordset *rs, const QString &base) {
        rs->setStatement(base + " WHERE TitleNo = 'T03'");
        rs->open();
    };
    w->btnEditClick();
    w->btnSearchClick();
    EXPECT_EQ(d.count("ShowSearchDataForm"), 0);
    w->btnCancelClick();
    w->btnSearchClick();
    ASSERT_EQ(d.count("ShowSearchDataForm"), 1);
    EXPECT_EQ(d.callsNamed("ShowSearchDataForm").first().args.value(1),
              " SELECT * FROM OccupationTitle ");
    EXPECT_EQ(w->listQuery()->recordCount(), 1);
    EXPECT_EQ(w->edTitleNo->text(), "T03");
}

INSTANTIATE_TEST_SUITE_P(Engines, OccupationTitleTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
