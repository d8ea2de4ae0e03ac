// The holder window's test fixture: a small site, and the gestures a user makes on the window.
#pragma once

#include "FormTest.h"

#include "Connection.h"
#include "Recordset.h"
#include "RecordsetModel.h"
#include "TfrmHolder.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <QToolButton>

using namespace zq::forms;
using zq::data::Connection;
using zq::module::WindowKind;

namespace {
constexpr int Yes = 6;
}

class HolderTest : public zq::test::FormTest
{
protected:
    void fillSite()
    {
        exec({"INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D1', 'Head')",
              "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D2', 'Sales')",
              "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D3', 'Lab')",
              "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T1', 'Clerk')",
              "INSERT INTO OccupationType (TypeNo, TypeName) VALUES ('Y1', 'Staff')",
              "INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('op', 'Operator', 0)",
              "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('op', 'D2')",
              "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('op', 'D3')"});
        addHolder("H1", "Ann Berg", "D1", "100");
        addHolder("H2", "O'Brien", "D2", "");
        addHolder("H3", "Ben 100%", "D2", "");
        addHolder("H4", "Carl", "D3", "");
    }
    void addHolder(const QString &no,
                   const QString &name,
                   const QString &dept,
                   const QString &deposit)
    {
        exec({"INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, TitleNo, TypeNo, "
              "PunchCard, "
              "Birthday, StartDate, Deposit04) VALUES ("
              + Connection::quoted(no) + ", " + Connection::quoted(name) + ", "
              + Connection::quoted(dept)
              + ", 'T1', 'Y1', 1, '1990-05-04 00:00:00', '2024-01-01 00:00:00', "
              + Connection::quoted(deposit) + ")"});
    }
    TfrmHolder *openHolders(const QString &user = "admin", int rights = 127)
    {
        d.loginUser = user;
        return open<TfrmHolder>(WindowKind::Holder, rights);
    }
    // --- gestures ---
    /// A left click on a tool-bar button of the window.
    static void click(TfrmHolder *w, const char *button)
    {
        QToolButton *b = w->chrome().button(QString::fromLatin1(button));
        QTest::mouseClick(b, Qt::LeftButton);
        QCoreApplication::processEvents();
    }
    /// A click into `field`, then the keys of `text` to the widget that has the focus.
    static void typeInto(QWidget *field, const QString &text, bool replace = true)
    {
        QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(4, field->height() / 2));
        QWidget *focus = QApplication::focusWidget();
        ASSERT_TRUE(focus);
        if (replace)
            QTest::keyClick(focus, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(focus, text);
    }
    /// A click on the grid row that lists holder `storedNo` (as stored).
    static void clickRow(TfrmHolder *w, const QString &storedNo)
    {
        QTableView *grid = w->chrome().dgView;
        int row = -1;
        for (int i = 0; i < w->listing()->recordCount(); ++i)
            if (zq::data::Recordset::textOf(
                    w->listing()->valueAt(i, w->listing()->fieldIndex("HolderNo")))
                == storedNo)
                row = i;
        ASSERT_GE(row, 0) << storedNo.toStdString();
        const QModelIndex index = grid->model()->index(row, 0);
        grid->scrollTo(index);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(index).center());
        QCoreApplication::processEvents();
    }
    /// The item `text` picked with the mouse in the drop-down of `combo`.
    static void pick(QComboBox *combo, const QString &text)
    {
        const int index = combo->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        combo->showPopup();
        QAbstractItemView *view = combo->view();
        const QModelIndex item = view->model()->index(index, combo->modelColumn());
        view->scrollTo(item);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(item).center());
        QCoreApplication::processEvents();
        // The closed popup hands activation back to the window, as a window manager does.
        QApplication::setActiveWindow(combo->window());
        QCoreApplication::processEvents();
    }
    /// Clicks the check box when its tick is not `on` yet.
    static void tick(QAbstractButton *box, bool on)
    {
        if (box->isChecked() != on)
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
        ASSERT_EQ(box->isChecked(), on) << qPrintable(box->objectName());
    }
    static QStringList comboItems(QComboBox *c)
    {
        QStringList items;
        for (int i = 0; i < c->count(); ++i)
            items << c->itemText(i);
        return items;
    }
};
