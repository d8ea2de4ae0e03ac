// A department dragged in the tree view with the mouse, through Qt's own drag loop: this
// test runs on the minimal platform, where a drag waits for the mouse to be released (the
// offscreen platform ends every drag at once).
#include "FormTest.h"
#include "Gestures.h"

#include "Exports.h"
#include "Helpers.h"
#include "Recordset.h"
#include "TfrmDepartment.h"
#include "TfrmDepartmentView.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

using namespace zq::forms;
using namespace zq::test;
using zq::module::WindowKind;

namespace {

// Presses on `from`, moves the mouse far enough to start a drag and, inside the drag's own
// loop, moves onto `to` and releases there.
void dragItem(QTreeWidget *tree, QTreeWidgetItem *from, QTreeWidgetItem *to)
{
    QWidget *top = tree->window();
    QWindow *window = top->windowHandle();
    ASSERT_TRUE(window);
    const auto at = [tree, top](QTreeWidgetItem *item) {
        return tree->viewport()->mapTo(top, tree->visualItemRect(item).center());
    };
    const QPoint start = at(from);
    const QPoint end = at(to);
    QTimer::singleShot(100, top, [window, end] {
        QTest::mouseMove(window, end + QPoint(0, 2));
        QTest::mouseMove(window, end);
        QTest::mouseRelease(window, Qt::LeftButton, {}, end);
    });
    // The first move makes the view ready to drag, the next one starts the drag.
    QTest::mousePress(window, Qt::LeftButton, {}, start);
    QTest::mouseMove(window, start + QPoint(4, 0));
    QTest::mouseMove(window, start + QPoint(QApplication::startDragDistance() + 8, 0));
}

} // namespace

class DepartmentDragTest : public FormTest
{
};

TEST_P(DepartmentDragTest, ADepartmentDraggedOntoAnotherIsMovedAndAudited)
{
    ZQ_FORM_DB();
    exec({"INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D1', "
          "'Head', '')",
          "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D2', "
          "'Sales', 'D1')",
          "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D3', 'Lab', "
          "NULL)"});
    for (const char *dep : {"D1", "D2", "D3"})
        exec({QString("INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('admin', '%1')")
                  .arg(dep)});
    auto *w = open<TfrmDepartment>(WindowKind::Department);
    ASSERT_TRUE(w);
    bool dragged = false;
    QTimer::singleShot(0, [&] {
        auto *view = qobject_cast<TfrmDepartmentView *>(QApplication::activeModalWidget());
        ASSERT_TRUE(view);
        QTRY_VERIFY(view->findNumber("D2") && view->findNumber("D3"));
        d.calls.clear();
        dragItem(view->trvDept, view->findNumber("D2"), view->findNumber("D3"));
        dragged = view->findNumber("D2")->parent() == view->findNumber("D3");
        view->close();
    });
    clickButton(w, "btnTreeView");
    EXPECT_TRUE(dragged);
    EXPECT_EQ(scalar("SELECT UnderNo FROM DepartmentData WHERE DepartmentNo = 'D2'"), "D3");
    EXPECT_EQ(d.auditEntries(), QStringList{"BasicDataDepartmentI|E D2"});
    // The department window read its list again.
    ASSERT_TRUE(zq::data::LocateRecord(w->listQuery(), "DepartmentNo", "D2"));
    EXPECT_EQ(w->listQuery()->text("UnderName"), "Lab");
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         DepartmentDragTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
