// The record-maintenance pattern, driven through the occupation-title window's widgets.
#include "FormTest.h"
#include "Gestures.h"

#include "Connection.h"
#include "Exports.h"
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
using namespace zq::test;
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
        exec({"INSERT INTO OccupationTitle (TitleNo, TitleName, Description) VALUES ('T01', "
              "'Director', 'd')",
              "INSERT INTO OccupationTitle (TitleNo, TitleName, Description) VALUES ('T02', "
              "'manager', 'm')",
              "INSERT INTO OccupationTitle (TitleNo, TitleName, Description) VALUES ('T03', "
              "'Clerk', 'c')"});
        auto *w = open<TfrmOccupationTitle>(WindowKind::OccupationTitle, rights);
        EXPECT_TRUE(w);
        return w;
    }
    // The write is refused by the database, at once or only at COMMIT: the input and the
    // mode stay, the error sound plays instead of the OK sound, and the list shows what is
    // stored.
    void refusedWritesKeepTheInputAndTheListTrue(bool atCommit)
    {
        auto *w = openTitles();
        ASSERT_TRUE(w);
        refuseWrites("OccupationTitle", "INSERT OR UPDATE", atCommit);

        clickButton(w, "btnAdd");
        typeText("T'9");
        typeInto(w->edTitleName, "Nine");
        d.calls.clear();
        clickButton(w, "btnOk");
        EXPECT_EQ(d.sounds(), QStringList{"Error"});
        EXPECT_EQ(w->mode(), MaintenanceWindow::AddMode);
        EXPECT_EQ(w->edTitleNo->text(), "T'9");
        EXPECT_EQ(w->edTitleName->text(), "Nine");
        EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationTitle"), 3);
        EXPECT_EQ(w->listQuery()->recordCount(), 3);
        EXPECT_EQ(w->chrome().dgView->model()->rowCount(), 3);
        EXPECT_TRUE(d.auditEntries().isEmpty());
        EXPECT_FALSE(db().inTransaction());

        clickButton(w, "btnCancel");
        clickButton(w, "btnNext"); // T02
        clickButton(w, "btnEdit");
        typeInto(w->edTitleName, "Boss");
        d.calls.clear();
        clickButton(w, "btnOk");
        EXPECT_EQ(d.sounds(), QStringList{"Error"});
        EXPECT_EQ(w->mode(), MaintenanceWindow::EditMode);
        EXPECT_EQ(w->edTitleName->text(), "Boss");
        EXPECT_TRUE(w->isModified());
        EXPECT_EQ(scalar("SELECT TitleName FROM OccupationTitle WHERE TitleNo = 'T02'"), "manager");
        EXPECT_EQ(w->listQuery()->text("TitleNo"), "T02");
        EXPECT_EQ(w->listQuery()->text("TitleName"), "manager");
        EXPECT_TRUE(d.auditEntries().isEmpty());

        // Leaving asks again, and the input is still there to be saved.
        d.messageBoxAnswers = {Yes};
        clickButton(w, "btnNext");
        EXPECT_EQ(d.messages(), QStringList{"SaveEdit"});
        EXPECT_EQ(w->listQuery()->text("TitleNo"), "T02");
        EXPECT_EQ(w->edTitleName->text(), "Boss");
    }
    static void clickTitle(TfrmOccupationTitle *w, int column)
    {
        QHeaderView *header = w->chrome().dgView->horizontalHeader();
        click(header->viewport(),
              QPoint(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                     header->height() / 2));
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
    clickButton(w, "btnAdd");
    ASSERT_EQ(w->mode(), MaintenanceWindow::AddMode);
    EXPECT_TRUE(w->edTitleNo->text().isEmpty());
    EXPECT_FALSE(w->edTitleNo->isReadOnly());
    EXPECT_EQ(QApplication::focusWidget(), w->edTitleNo);

    // A key typed with blanks is the same key.
    typeText("  T02 ");
    typeInto(w->edTitleName, "Other");
    clickButton(w, "btnOk");
    EXPECT_EQ(d.messages(), QStringList{"TitleNoDouble"});
    EXPECT_EQ(d.callsNamed("ShowMessageBox").value(0).args.value(2), "16");
    EXPECT_EQ(w->mode(), MaintenanceWindow::AddMode);
    EXPECT_EQ(QApplication::focusWidget(), w->edTitleNo);
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationTitle"), 3);
    EXPECT_TRUE(d.auditEntries().isEmpty());

    typeInto(w->edTitleNo, "  T09 ");
    typeInto(w->edTitleName, " Nine ");
    clickButton(w, "btnOk");
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
    clickButton(w, "btnAdd");
    typeInto(w->edTitleName, "name only");
    clickButton(w, "btnOk");
    EXPECT_EQ(QApplication::focusWidget(), w->edTitleNo);
    typeText("T10");
    typeInto(w->edTitleName, "   ");
    clickButton(w, "btnOk");
    EXPECT_EQ(d.messages(), (QStringList{"PleaseInputTitleNo", "PleaseInputTitleName"}));
    EXPECT_EQ(d.callsNamed("ShowMessageBox").value(1).args.value(2), "64");
    EXPECT_EQ(QApplication::focusWidget(), w->edTitleName);
    EXPECT_EQ(w->mode(), MaintenanceWindow::AddMode);
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationTitle"), 3);
}

TEST_P(OccupationTitleTest, OkInEditModeSavesAndStaysEveryTime)
{
    ZQ_FORM_DB();
    auto *w = openTitles();
    ASSERT_TRUE(w);
    clickButton(w, "btnNext"); // T02
    clickButton(w, "btnEdit");
    ASSERT_EQ(w->mode(), MaintenanceWindow::EditMode);
    EXPECT_TRUE(w->edTitleNo->isReadOnly());
    EXPECT_EQ(QApplication::focusWidget(), w->edTitleName);
    typeInto(w->edTitleName, "Manager ");
    clickButton(w, "btnOk");
    EXPECT_EQ(w->mode(), MaintenanceWindow::EditMode);
    clickButton(w, "btnOk");
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
    clickButton(w, "btnEdit");
    typeInto(w->edTitleName, "changed");
    d.messageBoxAnswers = {No};
    clickButton(w, "btnNext");
    EXPECT_EQ(d.messages(), QStringList{"SaveEdit"});
    EXPECT_EQ(w->edTitleNo->text(), "T02");
    EXPECT_EQ(scalar("SELECT TitleName FROM OccupationTitle WHERE TitleNo = 'T01'"), "Director");

    // Unchanged: Refresh and Add do not ask; Cancel never asks.
    clickButton(w, "btnRefresh");
    clickButton(w, "btnEdit");
    clickButton(w, "btnAdd");
    clickButton(w, "btnCancel");
    EXPECT_EQ(d.messages().size(), 1);

    // Changed but the name emptied: no question, the input is dropped.
    clickButton(w, "btnEdit");
    typeInto(w->edTitleName, "");
    clickButton(w, "btnRefresh");
    EXPECT_EQ(d.messages().size(), 1);

    // Changed and Yes: saved before the refresh.
    clickButton(w, "btnEdit");
    typeInto(w->edTitleName, "Director 2");
    d.messageBoxAnswers = {Yes};
    clickButton(w, "btnRefresh");
    EXPECT_EQ(d.messages().size(), 2);
    EXPECT_EQ(scalar("SELECT TitleName FROM OccupationTitle WHERE TitleNo = 'T01'"), "Director 2");
    EXPECT_EQ(w->mode(), MaintenanceWindow::ViewMode);
}

TEST_P(OccupationTitleTest, NavigatingInAddModeKeepsTheTypedKey)
{
    ZQ_FORM_DB();
    auto *w = openTitles();
    ASSERT_TRUE(w);
    clickButton(w, "btnAdd");
    typeText("NEW");
    clickButton(w, "btnLast");
    EXPECT_TRUE(d.messages().isEmpty());
    EXPECT_EQ(w->edTitleNo->text(), "NEW");
    EXPECT_EQ(w->edTitleName->text(), "Clerk");
    // Add with key and name filled: leaving through Edit asks and Yes inserts.
    d.messageBoxAnswers = {Yes};
    clickButton(w, "btnEdit");
    EXPECT_EQ(d.messages(), QStringList{"SaveEdit"});
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationTitle WHERE TitleNo = 'NEW'"), 1);
    EXPECT_EQ(w->mode(), MaintenanceWindow::EditMode);
}

TEST_P(OccupationTitleTest, TitleClicksToggleTheSortAcrossColumns)
{
    ZQ_FORM_DB();
    auto *w = openTitles();
    ASSERT_TRUE(w);
    clickTitle(w, 1);
    EXPECT_EQ(w->listQuery()->sort(), "TitleName DESC");
    EXPECT_EQ(listOrder(w), "T02,T01,T03");
    clickTitle(w, 1);
    EXPECT_EQ(w->listQuery()->sort(), "TitleName");
    EXPECT_EQ(listOrder(w), "T03,T01,T02");
    clickTitle(w, 0);
    EXPECT_EQ(w->listQuery()->sort(), "TitleNo DESC");
    clickTitle(w, 1); // after a descending sort another column goes ascending
    EXPECT_EQ(w->listQuery()->sort(), "TitleName");
    clickButton(w, "btnRefresh");
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
    clickRow(ui.dgView, 1);
    ASSERT_EQ(QApplication::focusWidget(), ui.dgView);
    pressKey(Qt::Key_Delete);
    clickButton(w, "btnDelete");
    EXPECT_TRUE(d.messages().isEmpty());
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationTitle"), 3);
}

TEST_P(OccupationTitleTest, KeysWithQuotesAreFoundStoredAndDeleted)
{
    ZQ_FORM_DB();
    auto *w = openTitles();
    ASSERT_TRUE(w);
    clickButton(w, "btnAdd");
    typeText("O'1");
    typeInto(w->edTitleName, "it's");
    clickButton(w, "btnOk");
    EXPECT_EQ(scalar("SELECT TitleName FROM OccupationTitle WHERE TitleNo = "
                     + Connection::quoted("O'1")),
              "it's");
    clickButton(w, "btnAdd");
    typeText("O'1");
    typeInto(w->edTitleName, "again");
    clickButton(w, "btnOk");
    EXPECT_EQ(d.messages(), QStringList{"TitleNoDouble"});
    clickButton(w, "btnCancel");

    // In use by a holder: refused before any question.
    exec({"INSERT INTO HolderData (HolderNo, TitleNo) VALUES ('H1', " + Connection::quoted("O'1")
          + ")"});
    ASSERT_TRUE(zq::data::LocateRecord(w->listQuery(), "TitleNo", "O'1"));
    clickRow(w->chrome().dgView, w->listQuery()->currentRow());
    pressKey(Qt::Key_Delete);
    EXPECT_EQ(d.messages().last(), "HaveOccupationTitleCantDelete");
    EXPECT_TRUE(d.sounds().contains("Error"));

    exec({"DELETE FROM HolderData"});
    d.messageBoxAnswers = {Yes};
    clickButton(w, "btnDelete");
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
    clickButton(w, "btnAdd");
    typeText("T20");
    typeInto(w->edTitleName, "lost?");
    exec({"DROP TABLE OccupationTitle"});
    d.calls.clear();
    clickButton(w, "btnOk");
    EXPECT_EQ(w->mode(), MaintenanceWindow::AddMode);
    EXPECT_EQ(w->edTitleName->text(), "lost?");
    EXPECT_EQ(d.sounds(), QStringList{"Error"});
    EXPECT_TRUE(d.auditEntries().isEmpty());
    EXPECT_TRUE(db().isConnected());
    EXPECT_FALSE(db().inTransaction());
    // The window stays usable.
    clickButton(w, "btnCancel");
    clickButton(w, "btnRefresh");
    EXPECT_FALSE(w->listQuery()->isOpen());
    clickButton(w, "btnNext");
    EXPECT_TRUE(d.sounds().endsWith("Error"));
}

TEST_P(OccupationTitleTest, WheelAndPageKeysNavigate)
{
    ZQ_FORM_DB();
    auto *w = openTitles();
    ASSERT_TRUE(w);
    QWidget *viewport = w->chrome().dgView->viewport();
    QWheelEvent down(QPointF(5, 5),
                     viewport->mapToGlobal(QPointF(5, 5)),
                     QPoint(),
                     QPoint(0, -120),
                     Qt::NoButton,
                     Qt::NoModifier,
                     Qt::NoScrollPhase,
                     false);
    QCoreApplication::sendEvent(viewport, &down);
    EXPECT_EQ(w->edTitleNo->text(), "T02");
    clickButton(w, "btnEdit");
    ASSERT_EQ(QApplication::focusWidget(), w->edTitleName);
    pressKey(Qt::Key_PageDown);
    EXPECT_EQ(w->edTitleNo->text(), "T03");
    pressKey(Qt::Key_PageUp);
    EXPECT_EQ(w->edTitleNo->text(), "T02");
    clickButton(w, "btnCancel");
    // The grid follows the cursor, and the cursor follows a click in the grid.
    EXPECT_EQ(w->chrome().dgView->currentIndex().row(), 1);
    clickRow(w->chrome().dgView, 2);
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
    clickButton(w, "btnEdit");
    clickButton(w, "btnSearch");
    EXPECT_EQ(d.count("ShowSearchDataForm"), 0);
    clickButton(w, "btnCancel");
    clickButton(w, "btnSearch");
    ASSERT_EQ(d.count("ShowSearchDataForm"), 1);
    EXPECT_EQ(d.callsNamed("ShowSearchDataForm").first().args.value(1),
              " SELECT * FROM OccupationTitle ");
    EXPECT_EQ(w->listQuery()->recordCount(), 1);
    EXPECT_EQ(w->edTitleNo->text(), "T03");
}

// A site without the optional UserData table: the connection probe still answers, so edits
// are stored and deletes go ahead.
TEST_P(OccupationTitleTest, WithoutTheOptionalUserTableEditsAndDeletesStillWork)
{
    ZQ_FORM_DB();
    exec({"DROP TABLE UserData"});
    SetADOConnection(&db());
    auto *w = openTitles();
    ASSERT_TRUE(w);
    clickButton(w, "btnEdit");
    typeInto(w->edTitleName, "Chief");
    d.calls.clear();
    clickButton(w, "btnOk");
    EXPECT_EQ(d.sounds(), QStringList{"Ok"});
    EXPECT_EQ(scalar("SELECT TitleName FROM OccupationTitle WHERE TitleNo = 'T01'"), "Chief");
    EXPECT_EQ(d.auditEntries(), QStringList{kKey + "|E T01"});

    clickButton(w, "btnCancel");
    d.messageBoxAnswers = {Yes};
    clickButton(w, "btnDelete");
    EXPECT_EQ(d.messages(), QStringList{"DeleteRecord"});
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationTitle WHERE TitleNo = 'T01'"), 0);
}

// The PostgreSQL link breaks while the user works: OK plays the error sound and keeps the
// input, in both modes.
TEST_P(OccupationTitleTest, ALostLinkOnSaveKeepsTheInputWithTheErrorSound)
{
    ZQ_FORM_DB();
    if (GetParam() != zq::data::Engine::PostgreSQL)
        GTEST_SKIP() << "a link to cut is a PostgreSQL matter";
    auto *w = openTitles();
    ASSERT_TRUE(w);
    clickButton(w, "btnEdit");
    typeInto(w->edTitleName, "Chief");
    ASSERT_TRUE(cutLink());
    d.calls.clear();
    clickButton(w, "btnOk");
    EXPECT_EQ(d.sounds(), QStringList{"Error"});
    EXPECT_EQ(w->mode(), MaintenanceWindow::EditMode);
    EXPECT_EQ(w->edTitleName->text(), "Chief");
    EXPECT_TRUE(d.auditEntries().isEmpty());
    EXPECT_FALSE(db().isConnected());

    ASSERT_TRUE(db().open());
    EXPECT_EQ(scalar("SELECT TitleName FROM OccupationTitle WHERE TitleNo = 'T01'"), "Director");
    clickButton(w, "btnCancel");
    clickButton(w, "btnAdd");
    typeText("T04");
    typeInto(w->edTitleName, "Guard");
    ASSERT_TRUE(cutLink());
    d.calls.clear();
    clickButton(w, "btnOk");
    EXPECT_EQ(d.sounds(), QStringList{"Error"});
    EXPECT_EQ(w->mode(), MaintenanceWindow::AddMode);
    EXPECT_EQ(w->edTitleNo->text(), "T04");
    ASSERT_TRUE(db().open());
    EXPECT_EQ(count("SELECT COUNT(*) FROM OccupationTitle"), 3);
}

TEST_P(OccupationTitleTest, AWriteRefusedAtOnceKeepsTheInputAndTheListTrue)
{
    ZQ_FORM_DB();
    refusedWritesKeepTheInputAndTheListTrue(false);
}

TEST_P(OccupationTitleTest, AWriteRefusedAtCommitKeepsTheInputAndTheListTrue)
{
    ZQ_FORM_DB();
    refusedWritesKeepTheInputAndTheListTrue(true);
}

// Without the OK right no gesture saves: the leave check neither asks nor stores.
TEST_P(OccupationTitleTest, WithoutTheOkRightLeavingDoesNotSave)
{
    ZQ_FORM_DB();
    auto *w = openTitles(127 & ~16);
    ASSERT_TRUE(w);
    clickButton(w, "btnEdit");
    typeInto(w->edTitleName, "Chief");
    d.messageBoxAnswers = {Yes};
    pressKey(Qt::Key_PageDown);
    EXPECT_TRUE(d.messages().isEmpty());
    EXPECT_EQ(w->edTitleNo->text(), "T02");
    EXPECT_EQ(scalar("SELECT TitleName FROM OccupationTitle WHERE TitleNo = 'T01'"), "Director");
    EXPECT_TRUE(d.auditEntries().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         OccupationTitleTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
