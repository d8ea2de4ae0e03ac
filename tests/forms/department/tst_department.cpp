// Departments through their window and the tree view: the parent picker, department
// rights, the delete refusals and moves in the tree.
#include "FormTest.h"

#include "Connection.h"
#include "Exports.h"
#include "Helpers.h"
#include "Recordset.h"
#include "TfrmDepartment.h"
#include "TfrmDepartmentView.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

using namespace zq::forms;
using zq::data::Connection;
using zq::module::WindowKind;

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
        exec({"INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D1', 'Head', '')",
              "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D2', 'Sales', 'D1')",
              "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D3', 'Shop', 'D2')",
              "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D4', 'Lab', 'D1')",
              "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D5', 'Yard', NULL)",
              "INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('op', 'Operator', 0)"});
        for (const char *dep : {"D1", "D2", "D3", "D4", "D5"})
            exec({QString("INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('admin', '%1')").arg(dep)});
        for (const char *dep : {"D2", "D3", "D5"})
            exec({QString("INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('op', '%1')").arg(dep)});
    }
    TfrmDepartment *openDepartments(const QString &user = "admin", int rights = 127)
    {
        d.loginUser = user;
        return open<TfrmDepartment>(WindowKind::Department, rights);
    }
    static QStringList pickerNumbers(TfrmDepartment *w) { return w->picker().numbers; }
    int rightsOf(const QString &dep)
    {
        return count("SELECT COUNT(*) FROM UserRightDept WHERE DepartmentNo = " + Connection::quoted(dep));
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
    w->btnEditClick(); // D1
    EXPECT_EQ(pickerNumbers(w), (QStringList{"", "D5"}));
    EXPECT_EQ(w->cmbUnderNo->count(), 2);
    w->btnNextClick(); // D2, unchanged: no question
    EXPECT_EQ(pickerNumbers(w), (QStringList{"", "D1", "D4", "D5"}));
    EXPECT_EQ(w->cmbUnderNo->currentText(), "Head");
    w->btnCancelClick();
    EXPECT_EQ(pickerNumbers(w).size(), 6);
    w->btnAddClick();
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
    w->btnEditClick();
    w->edDescription->setText("edited");
    w->btnOkClick();
    EXPECT_EQ(scalar("SELECT UnderNo FROM DepartmentData WHERE DepartmentNo = 'D2'"), "");
    EXPECT_EQ(d.auditEntries(), QStringList{kKey + "|E D2"});
    // D5 is top level: no parent name.
    w->btnLastClick();
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
    w->btnAddClick();
    w->edNo->setText(" D9 ");
    w->edName->setText("New");
    w->cmbUnderNo->setCurrentIndex(int(w->picker().numbers.indexOf("D3")));
    w->btnOkClick();
    EXPECT_EQ(w->mode(), MaintenanceWindow::ViewMode);
    EXPECT_EQ(scalar("SELECT UnderNo FROM DepartmentData WHERE DepartmentNo = 'D9'"), "D3");
    EXPECT_EQ(count("SELECT COUNT(*) FROM UserRightDept WHERE DepartmentNo = 'D9' AND UserID = 'op'"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM UserRightDept WHERE DepartmentNo = 'D9' AND UserID = 'admin'"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM UserRightDept WHERE DepartmentNo = 'D9' AND UserID = 'boss'"), 1);
    EXPECT_EQ(d.auditEntries(), QStringList{kKey + "|A D9"});
    EXPECT_EQ(w->edNo->text(), "D9");
    EXPECT_TRUE(pickerNumbers(w).contains("D9"));

    w->btnAddClick();
    w->edNo->setText("D9");
    w->edName->setText("Again");
    w->btnOkClick();
    EXPECT_EQ(d.messages(), QStringList{"DepartmentNoDouble"});
    EXPECT_EQ(w->mode(), MaintenanceWindow::AddMode);
}

TEST_P(DepartmentTest, WithoutTheRightsTablesDepartmentsAreStillKept)
{
    ZQ_FORM_DB();
    fillSite();
    exec({"DROP TABLE UserRightDept"});
    SetADOConnection(&db());
    auto *w = openDepartments();
    ASSERT_TRUE(w);
    w->btnAddClick();
    w->edNo->setText("D8");
    w->edName->setText("Eight");
    w->btnOkClick();
    EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData WHERE DepartmentNo = 'D8'"), 1);
    d.messageBoxAnswers = {Yes};
    w->btnDeleteClick();
    EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData WHERE DepartmentNo = 'D8'"), 0);
}

TEST_P(DepartmentTest, DeleteRefusalsComeBeforeTheQuestion)
{
    ZQ_FORM_DB();
    fillSite();
    exec({"INSERT INTO HolderData (HolderNo, DepartmentNo) VALUES ('H1', 'D4')"});
    auto *w = openDepartments();
    ASSERT_TRUE(w);
    w->btnDeleteClick(); // D1 has children
    ASSERT_TRUE(zq::data::LocateRecord(w->listQuery(), "DepartmentNo", "D4"));
    w->btnDeleteClick(); // D4 has a holder
    EXPECT_EQ(d.messages(), (QStringList{"CantDelete", "HaveDepartmentCantDelete"}));
    EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData"), 5);

    ASSERT_TRUE(zq::data::LocateRecord(w->listQuery(), "DepartmentNo", "D3"));
    d.messageBoxAnswers = {Yes};
    w->btnDeleteClick();
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
    exec({"INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('C1', 'Same', 'C2')",
          "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('C2', 'Same', 'C1')",
          "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('admin', 'C1')",
          "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('admin', 'C2')"});
    auto *w = openDepartments();
    ASSERT_TRUE(w);
    ASSERT_TRUE(zq::data::LocateRecord(w->listQuery(), "DepartmentNo", "C1"));
    w->btnEditClick();
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
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM DepartmentData WHERE DepartmentNo = 'D3' AND UnderNo = ''"), "1");
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
    w->btnTreeViewClick();
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
    w->btnTreeViewClick();
    ASSERT_TRUE(zq::data::LocateRecord(w->listQuery(), "DepartmentNo", "D4"));
    EXPECT_EQ(w->listQuery()->text("UnderName"), ""); // the listing was read again
}

INSTANTIATE_TEST_SUITE_P(Engines, DepartmentTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
