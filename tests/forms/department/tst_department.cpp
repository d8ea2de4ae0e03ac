// Departments through their window and the tree view: the parent picker, department
// rights, the delete refusals and moves in the tree.
#include "FormTest.h"
#include "Gestures.h"

#include "Connection.h"
#include "Exports.h"
#include "Helpers.h"
#include "Recordset.h"
#include "TfrmDepartment.h"
#include "TfrmDepartmentView.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

using namespace zq::forms;
using zq::data::Connection;
using zq::module::WindowKind;
using namespace zq::test;

namespace {
constexpr int Yes = 6;
const QString kKey = "BasicDataDepartmentI";
} // namespace

class DepartmentTest : public zq::test::FormTest
{
protected:
    // D1 > D2 > D3, D1 > D4, D5 top level; the operator holds D2, D3 and D5.
    void fillSite()
    {
        exec({"INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D1', "
              "'Head', '')",
              "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D2', "
              "'Sales', 'D1')",
              "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D3', "
              "'Shop', 'D2')",
              "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D4', "
              "'Lab', 'D1')",
              "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D5', "
              "'Yard', NULL)",
              "INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('op', 'Operator', 0)"});
        for (const char *dep : {"D1", "D2", "D3", "D4", "D5"})
            exec({QString("INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('admin', '%1')")
                      .arg(dep)});
        for (const char *dep : {"D2", "D3", "D5"})
            exec({QString("INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('op', '%1')")
                      .arg(dep)});
    }
    TfrmDepartment *openDepartments(const QString &user = "admin", int rights = 127)
    {
        d.loginUser = user;
        return open<TfrmDepartment>(WindowKind::Department, rights);
    }
    // A site without one of the optional tables: departments are still added, edited (the
    // connection probe needs no table) and deleted.
    void keptWithout(const QString &table)
    {
        fillSite();
        exec({"DROP TABLE " + table});
        SetADOConnection(&db());
        auto *w = openDepartments();
        ASSERT_TRUE(w);
        clickButton(w, "btnAdd");
        typeText("D8");
        typeInto(w->edName, "Eight");
        clickButton(w, "btnOk");
        EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData WHERE DepartmentNo = 'D8'"), 1);

        ASSERT_TRUE(zq::data::LocateRecord(w->listQuery(), "DepartmentNo", "D5"));
        clickButton(w, "btnEdit");
        typeInto(w->edName, "Yard 2");
        d.calls.clear();
        clickButton(w, "btnOk");
        EXPECT_EQ(d.sounds(), QStringList{"Ok"});
        EXPECT_EQ(scalar("SELECT DepartmentName FROM DepartmentData WHERE DepartmentNo = 'D5'"),
                  "Yard 2");
        clickButton(w, "btnCancel");

        ASSERT_TRUE(zq::data::LocateRecord(w->listQuery(), "DepartmentNo", "D3"));
        d.messageBoxAnswers = {Yes};
        clickButton(w, "btnDelete");
        EXPECT_EQ(d.messages(), QStringList{"DeleteRecord"});
        EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData WHERE DepartmentNo = 'D3'"), 0);
    }
    static QStringList pickerNumbers(TfrmDepartment *w) { return w->picker().numbers; }
    int rightsOf(const QString &dep)
    {
        return count("SELECT COUNT(*) FROM UserRightDept WHERE DepartmentNo = "
                     + Connection::quoted(dep));
    }
};

TEST_P(DepartmentTest, ThePickerOmitsTheSubtreeInEditModeOnly)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openDepartments();
    ASSERT_TRUE(w);
    EXPECT_TRUE(w->isSupervisor());
    EXPECT_EQ(w->listQuery()->recordCount(), 5);
    EXPECT_EQ(pickerNumbers(w), (QStringList{"", "D1", "D2", "D3", "D4", "D5"}));
    clickButton(w, "btnEdit"); // D1
    EXPECT_EQ(pickerNumbers(w), (QStringList{"", "D5"}));
    EXPECT_EQ(w->cmbUnderNo->count(), 2);
    clickButton(w, "btnNext"); // D2, unchanged: no question
    EXPECT_EQ(pickerNumbers(w), (QStringList{"", "D1", "D4", "D5"}));
    EXPECT_EQ(w->cmbUnderNo->currentText(), "Head");
    clickButton(w, "btnCancel");
    EXPECT_EQ(pickerNumbers(w).size(), 6);
    clickButton(w, "btnAdd");
    EXPECT_EQ(pickerNumbers(w).size(), 6);
    EXPECT_TRUE(d.messages().isEmpty());
}

TEST_P(DepartmentTest, AnOperatorSeesHisDepartmentsAndAForeignParentIsStoredEmpty)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openDepartments("op");
    ASSERT_TRUE(w);
    EXPECT_FALSE(w->isSupervisor());
    EXPECT_EQ(w->listQuery()->recordCount(), 3);
    EXPECT_EQ(pickerNumbers(w), (QStringList{"", "D2", "D3", "D5"}));
    // D2's parent D1 is not his: blank, and saving stores an empty parent.
    ASSERT_EQ(w->edNo->text(), "D2");
    EXPECT_EQ(w->cmbUnderNo->currentIndex(), 0);
    EXPECT_EQ(w->listQuery()->text("UnderName"), "Head");
    clickButton(w, "btnEdit");
    typeInto(w->edDescription, "edited");
    clickButton(w, "btnOk");
    EXPECT_EQ(scalar("SELECT UnderNo FROM DepartmentData WHERE DepartmentNo = 'D2'"), "");
    EXPECT_EQ(d.auditEntries(), QStringList{kKey + "|E D2"});
    // D5 is top level: no parent name.
    clickButton(w, "btnLast");
    EXPECT_EQ(w->listQuery()->text("UnderName"), "");
}

TEST_P(DepartmentTest, InsertGrantsTheCreatorAndEverySupervisorOnce)
{
    ZQ_FORM_DB();
    fillSite();
    exec({"INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('boss', 'B', 1)",
          "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('boss', 'D9')"});
    SetADOConnection(&db());
    auto *w = openDepartments("op");
    ASSERT_TRUE(w);
    clickButton(w, "btnAdd");
    EXPECT_EQ(QApplication::focusWidget(), w->edNo);
    typeText(" D9 ");
    typeInto(w->edName, "New");
    pickItem(w->cmbUnderNo, int(w->picker().numbers.indexOf("D3")));
    clickButton(w, "btnOk");
    EXPECT_EQ(w->mode(), MaintenanceWindow::ViewMode);
    EXPECT_EQ(scalar("SELECT UnderNo FROM DepartmentData WHERE DepartmentNo = 'D9'"), "D3");
    EXPECT_EQ(
        count("SELECT COUNT(*) FROM UserRightDept WHERE DepartmentNo = 'D9' AND UserID = 'op'"), 1);
    EXPECT_EQ(
        count("SELECT COUNT(*) FROM UserRightDept WHERE DepartmentNo = 'D9' AND UserID = 'admin'"),
        1);
    EXPECT_EQ(
        count("SELECT COUNT(*) FROM UserRightDept WHERE DepartmentNo = 'D9' AND UserID = 'boss'"),
        1);
    EXPECT_EQ(d.auditEntries(), QStringList{kKey + "|A D9"});
    EXPECT_EQ(w->edNo->text(), "D9");
    EXPECT_TRUE(pickerNumbers(w).contains("D9"));

    clickButton(w, "btnAdd");
    typeText("D9");
    typeInto(w->edName, "Again");
    clickButton(w, "btnOk");
    EXPECT_EQ(d.messages(), QStringList{"DepartmentNoDouble"});
    EXPECT_EQ(w->mode(), MaintenanceWindow::AddMode);
    EXPECT_EQ(QApplication::focusWidget(), w->edNo);
}

TEST_P(DepartmentTest, WithoutTheRightsTablesDepartmentsAreStillKept)
{
    ZQ_FORM_DB();
    keptWithout("UserRightDept");
}

TEST_P(DepartmentTest, WithoutTheUserTableDepartmentsAreStillKept)
{
    ZQ_FORM_DB();
    keptWithout("UserData");
}

// A double-click in the grid is the Edit command: without the edit right (123 has no bit
// 4) it edits nothing; with it, it enters EditMode.
TEST_P(DepartmentTest, ADoubleClickEditsOnlyWithTheEditRight)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openDepartments("admin", 123);
    ASSERT_TRUE(w);
    QTableView *grid = w->chrome().dgView;
    ASSERT_FALSE(w->chrome().button("btnEdit")->isEnabled());
    doubleClickRow(grid, 1);
    EXPECT_EQ(w->mode(), MaintenanceWindow::ViewMode);
    EXPECT_EQ(w->edNo->text(), "D2");
    clickButton(w, "btnOk");
    EXPECT_TRUE(d.auditEntries().isEmpty());
    w->close();
    QCoreApplication::processEvents();

    w = openDepartments("admin", 127);
    ASSERT_TRUE(w);
    doubleClickRow(w->chrome().dgView, 1);
    EXPECT_EQ(w->mode(), MaintenanceWindow::EditMode);
    EXPECT_EQ(w->edNo->text(), "D2");
    EXPECT_EQ(QApplication::focusWidget(), w->edName);
}

// The database refuses the UPDATE: the typed values, EditMode and the modified flag stay,
// the error sound plays, nothing is written or audited.
TEST_P(DepartmentTest, AnUpdateTheDatabaseRefusesKeepsTheInput)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openDepartments();
    ASSERT_TRUE(w);
    refuseWrites("DepartmentData", "UPDATE");
    clickButton(w, "btnNext"); // D2
    clickButton(w, "btnEdit");
    typeInto(w->edName, "Sales 'n' more");
    pickItem(w->cmbUnderNo, int(w->picker().numbers.indexOf("D5")));
    d.calls.clear();
    clickButton(w, "btnOk");
    EXPECT_EQ(d.sounds(), QStringList{"Error"});
    EXPECT_EQ(w->mode(), MaintenanceWindow::EditMode);
    EXPECT_EQ(w->edName->text(), "Sales 'n' more");
    EXPECT_EQ(w->cmbUnderNo->currentText(), "Yard");
    EXPECT_TRUE(w->isModified());
    EXPECT_EQ(scalar("SELECT DepartmentName FROM DepartmentData WHERE DepartmentNo = 'D2'"),
              "Sales");
    EXPECT_EQ(scalar("SELECT UnderNo FROM DepartmentData WHERE DepartmentNo = 'D2'"), "D1");
    EXPECT_EQ(w->listQuery()->text("DepartmentName"), "Sales");
    EXPECT_TRUE(d.auditEntries().isEmpty());
    EXPECT_FALSE(db().inTransaction());
}

// The check before the update cannot run: a failure like any other, not "no row".
TEST_P(DepartmentTest, AFailedCheckBeforeTheUpdateKeepsTheInput)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openDepartments();
    ASSERT_TRUE(w);
    clickButton(w, "btnEdit");
    typeInto(w->edName, "Head office");
    exec({"ALTER TABLE DepartmentData RENAME TO DepartmentGone"});
    d.calls.clear();
    clickButton(w, "btnOk");
    EXPECT_EQ(d.sounds(), QStringList{"Error"});
    EXPECT_EQ(w->mode(), MaintenanceWindow::EditMode);
    EXPECT_EQ(w->edName->text(), "Head office");
    EXPECT_TRUE(w->isModified());
    EXPECT_TRUE(d.auditEntries().isEmpty());
    exec({"ALTER TABLE DepartmentGone RENAME TO DepartmentData"});
    EXPECT_EQ(scalar("SELECT DepartmentName FROM DepartmentData WHERE DepartmentNo = 'D1'"),
              "Head");

    // Once the table answers again the same OK stores the input.
    clickButton(w, "btnOk");
    EXPECT_EQ(scalar("SELECT DepartmentName FROM DepartmentData WHERE DepartmentNo = 'D1'"),
              "Head office");
}

// A lost PostgreSQL link on save: error sound, input kept, in both modes.
TEST_P(DepartmentTest, ALostLinkOnSaveKeepsTheInput)
{
    ZQ_FORM_DB();
    if (GetParam() != zq::data::Engine::PostgreSQL)
        GTEST_SKIP() << "a link to cut is a PostgreSQL matter";
    fillSite();
    auto *w = openDepartments();
    ASSERT_TRUE(w);
    for (const bool adding : {false, true}) {
        SCOPED_TRACE(adding ? "Add" : "Edit");
        clickButton(w, adding ? "btnAdd" : "btnEdit");
        if (adding)
            typeText("D7");
        typeInto(w->edName, "Seven");
        ASSERT_TRUE(cutLink());
        d.calls.clear();
        clickButton(w, "btnOk");
        EXPECT_EQ(d.sounds(), QStringList{"Error"});
        EXPECT_EQ(w->mode(), adding ? MaintenanceWindow::AddMode : MaintenanceWindow::EditMode);
        EXPECT_EQ(w->edName->text(), "Seven");
        ASSERT_TRUE(db().open());
        EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData WHERE DepartmentName = 'Seven'"), 0);
        clickButton(w, "btnCancel");
    }
}

TEST_P(DepartmentTest, DeleteRefusalsComeBeforeTheQuestion)
{
    ZQ_FORM_DB();
    fillSite();
    exec({"INSERT INTO HolderData (HolderNo, DepartmentNo) VALUES ('H1', 'D4')"});
    auto *w = openDepartments();
    ASSERT_TRUE(w);
    clickButton(w, "btnDelete"); // D1 has children
    ASSERT_TRUE(zq::data::LocateRecord(w->listQuery(), "DepartmentNo", "D4"));
    clickRow(w->chrome().dgView, w->listQuery()->currentRow());
    pressKey(Qt::Key_Delete); // D4 has a holder
    EXPECT_EQ(d.messages(), (QStringList{"CantDelete", "HaveDepartmentCantDelete"}));
    EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData"), 5);

    ASSERT_TRUE(zq::data::LocateRecord(w->listQuery(), "DepartmentNo", "D3"));
    d.messageBoxAnswers = {Yes};
    clickButton(w, "btnDelete");
    EXPECT_EQ(d.messages().last(), "DeleteRecord");
    EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData WHERE DepartmentNo = 'D3'"), 0);
    EXPECT_EQ(rightsOf("D3"), 0);
    EXPECT_EQ(d.auditEntries(), QStringList{kKey + "|D D3"});
    EXPECT_EQ(w->mode(), MaintenanceWindow::ViewMode);
}

TEST_P(DepartmentTest, ACycleInTheDataEndsTheWalksAndEqualNamesStayApart)
{
    ZQ_FORM_DB();
    fillSite();
    exec({"INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('C1', "
          "'Same', 'C2')",
          "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('C2', "
          "'Same', 'C1')",
          "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('admin', 'C1')",
          "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('admin', 'C2')"});
    auto *w = openDepartments();
    ASSERT_TRUE(w);
    ASSERT_TRUE(zq::data::LocateRecord(w->listQuery(), "DepartmentNo", "C1"));
    clickButton(w, "btnEdit");
    EXPECT_FALSE(pickerNumbers(w).contains("C1"));
    EXPECT_FALSE(pickerNumbers(w).contains("C2"));

    TfrmDepartmentView view(true);
    view.rebuild();
    EXPECT_FALSE(view.findNumber("C1")); // not below any top-level department
    // A cycle through a top-level department, written behind the window's back.
    exec({"UPDATE DepartmentData SET UnderNo = 'D3' WHERE DepartmentNo = 'D1'"});
    view.rebuild();
    exec({"UPDATE DepartmentData SET UnderNo = '' WHERE DepartmentNo = 'D1'"});
    exec({"UPDATE DepartmentData SET DepartmentName = 'Same' WHERE DepartmentNo IN ('D4', 'D5')"});
    view.rebuild();
    QTreeWidgetItem *d4 = view.findNumber("D4");
    QTreeWidgetItem *d5 = view.findNumber("D5");
    ASSERT_TRUE(d4 && d5);
    EXPECT_EQ(d4->text(0), d5->text(0));
    EXPECT_TRUE(view.dropNode(d4, d5)); // moves D4, not the other "Same"
    EXPECT_EQ(scalar("SELECT UnderNo FROM DepartmentData WHERE DepartmentNo = 'D4'"), "D5");
    EXPECT_EQ(scalar("SELECT UnderNo FROM DepartmentData WHERE DepartmentNo = 'D5'"), "");
}

TEST_P(DepartmentTest, TreeMovesFollowTheLevelRuleAndKeepTheHierarchyAcyclic)
{
    ZQ_FORM_DB();
    fillSite();
    SetADOConnection(&db());
    TfrmDepartmentView view(true);
    view.rebuild();
    QTreeWidgetItem *root = view.trvDept->topLevelItem(0);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->text(0), "ALLDepartment");
    EXPECT_EQ(root->childCount(), 2); // D1, D5

    // On itself: nothing changes.
    EXPECT_FALSE(view.dropNode(view.findNumber("D2"), view.findNumber("D2")));
    EXPECT_FALSE(view.changed());
    // Onto a deeper node, in its own branch and in another one: refused.
    EXPECT_FALSE(view.dropNode(view.findNumber("D1"), view.findNumber("D3")));
    EXPECT_FALSE(view.dropNode(view.findNumber("D5"), view.findNumber("D3")));
    EXPECT_FALSE(view.changed());
    // Onto its own parent: the same UnderNo again, but a write.
    EXPECT_TRUE(view.dropNode(view.findNumber("D2"), view.findNumber("D1")));
    EXPECT_TRUE(view.changed());

    // D2 under D5 (same level), then D5 onto D3 (now deeper than D5): refused.
    EXPECT_TRUE(view.dropNode(view.findNumber("D2"), view.findNumber("D5")));
    EXPECT_EQ(view.findNumber("D3")->data(0, TfrmDepartmentView::LevelRole).toInt(), 3);
    EXPECT_FALSE(view.dropNode(view.findNumber("D5"), view.findNumber("D2")));
    EXPECT_EQ(scalar("SELECT UnderNo FROM DepartmentData WHERE DepartmentNo = 'D5'"), "");

    // On the root: top level, written as an empty text.
    EXPECT_TRUE(view.dropNode(view.findNumber("D3"), root));
    EXPECT_EQ(
        scalar("SELECT COUNT(*) FROM DepartmentData WHERE DepartmentNo = 'D3' AND UnderNo = ''"),
        "1");
    view.rebuild();
    EXPECT_EQ(view.trvDept->topLevelItem(0)->childCount(), 3);
}

TEST_P(DepartmentTest, TheTreeButtonRefreshesOnlyAfterAMove)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openDepartments("admin", 127 & ~4); // no edit right: view only
    ASSERT_TRUE(w);
    bool allowed = true;
    QTimer::singleShot(0, [&] {
        auto *view = qobject_cast<TfrmDepartmentView *>(QApplication::activeModalWidget());
        ASSERT_TRUE(view);
        allowed = view->movesAllowed();
        view->rebuild();
        EXPECT_FALSE(view->dropNode(view->findNumber("D4"), view->trvDept->topLevelItem(0)));
        view->close();
    });
    d.calls.clear();
    clickButton(w, "btnTreeView");
    EXPECT_FALSE(allowed);
    EXPECT_EQ(d.sounds(), QStringList{"Ok"}); // no refresh followed

    w->close();
    QCoreApplication::processEvents();
    w = openDepartments();
    QTimer::singleShot(0, [&] {
        auto *view = qobject_cast<TfrmDepartmentView *>(QApplication::activeModalWidget());
        ASSERT_TRUE(view);
        view->rebuild();
        view->dropNode(view->findNumber("D4"), view->trvDept->topLevelItem(0));
        view->close();
    });
    clickButton(w, "btnTreeView");
    ASSERT_TRUE(zq::data::LocateRecord(w->listQuery(), "DepartmentNo", "D4"));
    EXPECT_EQ(w->listQuery()->text("UnderName"), ""); // the listing was read again
}

// Numbers and names with quotes are typed, stored, granted, edited and deleted as they are.
TEST_P(DepartmentTest, NumbersWithQuotesAreKeptWhole)
{
    ZQ_FORM_DB();
    fillSite();
    auto *w = openDepartments();
    ASSERT_TRUE(w);
    clickButton(w, "btnAdd");
    typeText("D'Q");
    typeInto(w->edName, "O'Neil's");
    clickButton(w, "btnOk");
    EXPECT_EQ(w->mode(), MaintenanceWindow::ViewMode);
    EXPECT_EQ(scalar("SELECT DepartmentName FROM DepartmentData WHERE DepartmentNo = "
                     + Connection::quoted("D'Q")),
              "O'Neil's");
    EXPECT_EQ(rightsOf("D'Q"), 1);
    EXPECT_EQ(w->edNo->text(), "D'Q");

    clickButton(w, "btnEdit");
    typeInto(w->edDescription, "it's");
    clickButton(w, "btnOk");
    EXPECT_EQ(scalar("SELECT Description FROM DepartmentData WHERE DepartmentNo = "
                     + Connection::quoted("D'Q")),
              "it's");
    clickButton(w, "btnCancel");
    d.messageBoxAnswers = {Yes};
    clickButton(w, "btnDelete");
    EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData WHERE DepartmentNo = "
                    + Connection::quoted("D'Q")),
              0);
    EXPECT_EQ(rightsOf("D'Q"), 0);
    EXPECT_EQ(d.auditEntries(), (QStringList{kKey + "|A D'Q", kKey + "|E D'Q", kKey + "|D D'Q"}));
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         DepartmentTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
