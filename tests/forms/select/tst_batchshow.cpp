// The batch selection window: departments by rights, punch-card holders, adding and
// removing by focus, the expansion of departments on OK, the progress window and the
// value written to ZQMain.ini.
#include "BatchList.h"
#include "FormTest.h"
#include "Gestures.h"
#include "LabelSite.h"
#include "Recordset.h"
#include "TfrmBatchShow.h"
#include "TfrmHolder.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>

using namespace zq::forms;
using zq::module::WindowKind;

class BatchShowTest : public zq::test::FormTest
{
protected:
    TfrmBatchShow *openBatch(const QString &user = "admin")
    {
        exec(zq::test::labelSiteStatements());
        d.loginUser = user;
        auto *h = open<TfrmHolder>(WindowKind::Holder);
        if (!h)
            return nullptr;
        // The holder window keeps its batch button hidden, so no click reaches it; its
        // handler is the one way in.
        h->btnBatchSetClick();
        auto *w = qobject_cast<TfrmBatchShow *>(
            zq::module::state().registry[int(WindowKind::BatchShow)].data());
        if (w) {
            QApplication::setActiveWindow(w);
            QCoreApplication::processEvents();
        }
        return w;
    }
    static QStringList treeTexts(QTreeWidgetItem *parent)
    {
        QStringList texts;
        for (int i = 0; i < parent->childCount(); ++i)
            texts << parent->child(i)->text(0);
        return texts;
    }
    QStringList listed(TfrmBatchShow *w)
    {
        QStringList numbers;
        auto *rs = w->holderListing();
        for (int row = 0; row < rs->recordCount(); ++row)
            numbers << zq::data::Recordset::textOf(rs->valueAt(row, rs->fieldIndex("HolderNo")));
        return numbers;
    }
    QString stored() { return zq::forms::batch::readBatchList(d.programPath + "ZQMain.ini"); }
    /// Selects department node `position` (0 = root) and gives the tree the focus.
    void pickDepartment(TfrmBatchShow *w, int position)
    {
        QTreeWidgetItem *root = w->trvDepartment->topLevelItem(0);
        zq::test::clickItem(w->trvDepartment, position == 0 ? root : root->child(position - 1));
    }
    void pickHolder(TfrmBatchShow *w, int row) { zq::test::clickRow(w->dbgLeaveData, row); }
    // A double-click on the department tree's current node, on the grid's current row, on
    // the selection tree's current node.
    static void doubleClickDepartment(TfrmBatchShow *w)
    {
        zq::test::doubleClickItem(w->trvDepartment, w->trvDepartment->currentItem());
    }
    static void doubleClickHolder(TfrmBatchShow *w)
    {
        zq::test::doubleClickRow(w->dbgLeaveData, w->dbgLeaveData->currentIndex().row());
    }
    static void doubleClickSelection(TfrmBatchShow *w)
    {
        zq::test::doubleClickItem(w->trvSelect, w->trvSelect->currentItem());
    }
    static void press(QPushButton *button) { QTest::mouseClick(button, Qt::LeftButton); }
};

TEST_P(BatchShowTest, UserWithoutRightsRowsSeesEveryDepartmentAndPunchCardHolder)
{
    ZQ_FORM_DB();
    auto *w = openBatch("nobody");
    ASSERT_TRUE(w);
    QTreeWidgetItem *root = w->trvDepartment->topLevelItem(0);
    EXPECT_EQ(root->text(0), "All Department");
    EXPECT_EQ(treeTexts(root), (QStringList{"Head", "Sales", "Lab", "Store"}));
    EXPECT_TRUE(root->isExpanded());
    EXPECT_EQ(w->departmentNumbers(), (QStringList{"", "D1", "D2", "D3", "D4"}));
    // H3 is no punch-card holder, H6's department is missing.
    EXPECT_EQ(listed(w), (QStringList{"H1", "H2", "H4", "H5", "H7", "H8"}));
    EXPECT_EQ(w->trvSelect->topLevelItemCount(), 2);
    EXPECT_EQ(w->holderGroup()->text(0), "Holder");
    EXPECT_EQ(w->departmentGroup()->text(0), "Department");
    QStringList layoutKeys;
    for (const auto &call : d.callsNamed("GetDBGridView"))
        layoutKeys << call.args.value(1);
    EXPECT_TRUE(layoutKeys.contains("ZQBasiciBatchShow")); // the holder window restores its own too
    EXPECT_TRUE(d.sounds().contains("Open"));

    w->trvDepartment->collapseItem(root);
    EXPECT_TRUE(root->isExpanded());
    pickDepartment(w, 2);
    EXPECT_EQ(listed(w), (QStringList{"H2", "H5"}));
}

TEST_P(BatchShowTest, OperatorSeesHisDepartmentsOnly)
{
    ZQ_FORM_DB();
    auto *w = openBatch("op");
    ASSERT_TRUE(w);
    EXPECT_EQ(treeTexts(w->trvDepartment->topLevelItem(0)), (QStringList{"Sales", "Lab"}));
    EXPECT_EQ(listed(w), (QStringList{"H2", "H4", "H5", "H7"}));
    pickDepartment(w, 2);
    EXPECT_EQ(listed(w), (QStringList{"H4", "H7"}));
    pickDepartment(w, 0);
    EXPECT_EQ(listed(w), (QStringList{"H2", "H4", "H5", "H7"}));
}

TEST_P(BatchShowTest, ANumberWithALineBreakIsNotWrittenAndTheWindowSaysSo)
{
    ZQ_FORM_DB();
    // Written by another program: a number that would end the value and start keys.
    exec({"INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, TitleNo, TypeNo, "
          "PunchCard) VALUES ('Evil\r\n[Evil]\r\nKey=1', 'X', 'D3', 'T1', 'Y1', 1)"});
    auto *w = openBatch("nobody");
    ASSERT_TRUE(w);
    zq::forms::batch::writeBatchList(d.programPath + "ZQMain.ini", "( 'H1','')");
    pickDepartment(w, 3); // Lab
    zq::test::doubleClick(
        w->trvDepartment->viewport(),
        w->trvDepartment->visualItemRect(w->trvDepartment->currentItem()).center());
    d.calls.clear();
    QTest::mouseClick(w->btnOk, Qt::LeftButton);
    EXPECT_EQ(d.messages(), QStringList{"BatchListNotWritten"});
    EXPECT_EQ(stored(), "( 'H1','')") << "the stored list stays as it was";
    EXPECT_TRUE(w->isVisible()) << "the operator can take the department out again";
}

TEST_P(BatchShowTest, HoldersOnceWhetherAddedDirectlyOrThroughTheirDepartment)
{
    ZQ_FORM_DB();
    auto *w = openBatch("op");
    ASSERT_TRUE(w);
    pickHolder(w, 0); // H2
    press(w->btnAdd);
    doubleClickHolder(w);
    EXPECT_EQ(w->selectedHolders(), QStringList{"H2"});
    EXPECT_EQ(treeTexts(w->holderGroup()), QStringList{"H2 : O'Brien"});
    pickDepartment(w, 1); // Sales
    press(w->btnAdd);
    doubleClickDepartment(w);
    EXPECT_EQ(w->selectedDepartments(), QStringList{"D2"});
    EXPECT_EQ(treeTexts(w->departmentGroup()), QStringList{"Sales"});
    EXPECT_TRUE(w->departmentGroup()->isExpanded());
    press(w->btnOk);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(stored(), "( 'H2','H5','')");
    EXPECT_EQ(zq::module::state().flags[int(WindowKind::BatchShow)], 0);
    EXPECT_EQ(d.callsNamed("SetDBGridView").value(0).args.value(1), "ZQBasiciBatchShow");
}

TEST_P(BatchShowTest, AddAllFollowsTheFocusAndDepartmentsExpandOnOk)
{
    ZQ_FORM_DB();
    auto *w = openBatch("nobody");
    ASSERT_TRUE(w);
    pickDepartment(w, 3); // Lab
    ASSERT_TRUE(w->trvDepartment->hasFocus());
    press(w->btnAddAll);
    EXPECT_EQ(w->selectedDepartments(), (QStringList{"D1", "D2", "D3", "D4"}));
    EXPECT_TRUE(w->selectedHolders().isEmpty());
    pickHolder(w, 0);
    press(w->btnAddAll);
    EXPECT_EQ(w->selectedHolders(), (QStringList{"H4", "H7"}));

    press(w->btnRemoveAll);
    EXPECT_EQ(w->holderGroup()->childCount() + w->departmentGroup()->childCount(), 0);
    EXPECT_TRUE(w->selectedHolders().isEmpty() && w->selectedDepartments().isEmpty());

    pickDepartment(w, 0);
    doubleClickDepartment(w); // the root adds every department
    pickDepartment(w, 3);
    doubleClickDepartment(w);
    EXPECT_EQ(w->selectedDepartments(), (QStringList{"D1", "D2", "D3", "D4"}));
    press(w->btnOk);
    const QString text = stored();
    ASSERT_TRUE(text.startsWith("( ") && text.endsWith("'')")) << text.toStdString();
    // Punch-card holders of the departments, in whatever order the database returns them.
    QStringList numbers = zq::test::columnOf(
        db(), "SELECT HolderNo FROM HolderData WHERE HolderNo IN " + text);
    numbers.sort();
    EXPECT_EQ(numbers, (QStringList{"H1", "H2", "H4", "H5", "H7", "H8"}));
    EXPECT_EQ(text.count(','), 6);
}

TEST_P(BatchShowTest, RemoveNeedsTheSelectionTreeFocus)
{
    ZQ_FORM_DB();
    auto *w = openBatch("nobody");
    ASSERT_TRUE(w);
    for (int row = 0; row < 3; ++row) {
        pickHolder(w, row);
        press(w->btnAdd);
    }
    pickDepartment(w, 1);
    press(w->btnAdd);
    ASSERT_EQ(w->selectedHolders(), (QStringList{"H1", "H2", "H4"}));

    zq::test::clickItem(w->trvSelect, w->holderGroup()->child(1));
    pickHolder(w, 0); // the focus is on the grid now
    press(w->btnRemove);
    EXPECT_EQ(d.sounds().last(), "Error");
    EXPECT_EQ(w->selectedHolders().size(), 3);

    zq::test::clickItem(w->trvSelect, w->holderGroup()->child(1));
    press(w->btnRemove);
    EXPECT_EQ(w->selectedHolders(), (QStringList{"H1", "H4"}));
    EXPECT_EQ(treeTexts(w->holderGroup()), (QStringList{"H1 : Ann", "H4 : Dan"}));

    zq::test::clickItem(w->trvSelect, w->departmentGroup());
    doubleClickSelection(w);
    EXPECT_TRUE(w->selectedDepartments().isEmpty());
    EXPECT_EQ(w->departmentGroup()->childCount(), 0);
    EXPECT_EQ(w->selectedHolders().size(), 2);
}

TEST_P(BatchShowTest, ElevenHoldersShowTheProgressWindowTenDoNot)
{
    ZQ_FORM_DB();
    QStringList more;
    for (int i = 10; i < 21; ++i)
        more << QString("INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, PunchCard) "
                        "VALUES ('N%1', 'n', 'D4', 1)")
                    .arg(i);
    auto *w = openBatch("nobody");
    ASSERT_TRUE(w);
    exec(more);
    pickDepartment(w, 4);
    for (int row = 0; row < 10; ++row) {
        pickHolder(w, row);
        press(w->btnAdd);
    }
    press(w->btnOk);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(d.count("ShowProcessForm"), 0);
    EXPECT_EQ(stored().count(','), 10);

    w = qobject_cast<TfrmBatchShow *>([this] {
        auto *h = qobject_cast<TfrmHolder *>(zq::module::state().registry[int(WindowKind::Holder)]);
        h->btnBatchSetClick();
        return zq::module::state().registry[int(WindowKind::BatchShow)].data();
    }());
    ASSERT_TRUE(w);
    QApplication::setActiveWindow(w);
    pickDepartment(w, 4);
    doubleClickDepartment(w);
    d.cancelAfterSteps = 4;
    press(w->btnOk);
    ASSERT_EQ(d.count("ShowProcessForm"), 1);
    EXPECT_EQ(d.callsNamed("ShowProcessForm")[0].args, (QStringList{"0", "11", "DataInitial"}));
    EXPECT_EQ(d.count("IncProcessFormPosition"), 4);
    EXPECT_EQ(d.count("CloseProcessForm"), 0); // cancelled: the window is gone already
    EXPECT_EQ(stored().count(','), 11);        // the list is built in full nonetheless
}

TEST_P(BatchShowTest, ProgressRunsToTheEndAndIsClosed)
{
    ZQ_FORM_DB();
    QStringList more;
    for (int i = 10; i < 22; ++i)
        more << QString("INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, PunchCard) "
                        "VALUES ('N%1', 'n', 'D4', 1)")
                    .arg(i);
    exec(more);
    auto *w = openBatch("nobody");
    ASSERT_TRUE(w);
    pickDepartment(w, 4);
    press(w->btnAdd);
    press(w->btnOk);
    EXPECT_EQ(d.count("IncProcessFormPosition"), 12);
    EXPECT_EQ(d.count("CloseProcessForm"), 1);
}

TEST_P(BatchShowTest, CancelWritesNothingAndOkKeepsTheRestOfTheFile)
{
    ZQ_FORM_DB();
    const QString file = d.programPath + "ZQMain.ini";
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("; kept\n[Main]\nSite=North\n[ZQHolderLabel]\nBrowseHolder=( 'OLD','')\n");
    }
    auto *w = openBatch("op");
    ASSERT_TRUE(w);
    pickHolder(w, 0);
    press(w->btnAdd);
    press(w->btnCancel);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(stored(), "( 'OLD','')");

    auto *h = qobject_cast<TfrmHolder *>(zq::module::state().registry[int(WindowKind::Holder)]);
    h->btnBatchSetClick();
    w = qobject_cast<TfrmBatchShow *>(zq::module::state().registry[int(WindowKind::BatchShow)]);
    ASSERT_TRUE(w);
    EXPECT_TRUE(w->selectedHolders().isEmpty()); // each opening starts empty
    press(w->btnOk);
    EXPECT_EQ(stored(), "( '')");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_TRUE(text.contains("; kept") && text.contains("[Main]") && text.contains("Site=North"));
}

TEST_P(BatchShowTest, SecondBatchButtonKeepsOneWindowAndSortTogglesDesc)
{
    ZQ_FORM_DB();
    auto *w = openBatch("nobody");
    ASSERT_TRUE(w);
    auto *h = qobject_cast<TfrmHolder *>(zq::module::state().registry[int(WindowKind::Holder)]);
    h->btnBatchSetClick();
    EXPECT_EQ(zq::module::state().registry[int(WindowKind::BatchShow)].data(), w);
    zq::test::clickHeader(w->dbgLeaveData, 1);
    EXPECT_EQ(w->holderListing()->sort(), "HolderName DESC");
    zq::test::clickHeader(w->dbgLeaveData, 0);
    EXPECT_EQ(w->holderListing()->sort(), "HolderNo");
    zq::test::clickHeader(w->dbgLeaveData, 0);
    EXPECT_EQ(w->holderListing()->sort(), "HolderNo DESC");
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         BatchShowTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
