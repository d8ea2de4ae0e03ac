// The holder window's test fixture: a small site, and the gestures a user makes on the window.
#pragma once

#include "FormTest.h"

#include "Connection.h"
#include "PictureBox.h"
#include "Recordset.h"
#include "RecordsetModel.h"
#include "TfrmHolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QToolButton>

using namespace zq::forms;
using zq::data::Connection;
using zq::module::WindowKind;

namespace {
constexpr int Yes = 6;
}

namespace zq::forms {
class PictureBox;
}

/// The controls of a holder window, found by name as a user finds them on the screen. The
/// Data page's are null until the page is made (shown by the tab, Add or Edit).
struct HolderControls
{
    QComboBox *cmbDept, *cmbDepartment, *cmbTitle, *cmbType, *cmbDeposit04;
    QCheckBox *chkBatch, *cbxDeposit02, *cbxDeposit03, *cbxExpireDate;
    QPushButton *btnBatchSet, *btnOpen, *btnClear;
    QLineEdit *edtSequenceNo, *edNo, *edName, *edShowText, *edEmail, *edPIN, *edDefinable1,
        *edDefinable2, *edDescription;
    QDateEdit *dtBirthday, *dtDeposit01, *dtDeposit02, *dtDeposit03, *dtStartDate, *dtExpiredDate;
    QLabel *labExpireDate;
    QToolButton *btnPunchCard;
    zq::forms::PictureBox *imgPhoto;
};

/// The department filter of the View page.
inline QComboBox *filterOf(QWidget *w)
{
    return w->findChild<QComboBox *>(QStringLiteral("cmbDept"));
}

/// The window's controls. A Data page not made yet is made as a user makes it: a look at
/// it by its tab, and back to the page that was shown.
inline HolderControls ui(TfrmHolder *w)
{
    if (!w->isDataPageBuilt()) {
        QTabWidget *pages = w->chrome().pcData;
        QWidget *shown = pages->currentWidget();
        QTabBar *tabs = pages->tabBar();
        QTest::mouseClick(
            tabs, Qt::LeftButton, {}, tabs->tabRect(pages->indexOf(w->chrome().tsData)).center());
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(pages->indexOf(shown)).center());
    }
    const auto find = [w](auto *&control, const char *name) {
        control = w->findChild<std::remove_reference_t<decltype(*control)> *>(
            QString::fromLatin1(name));
    };
    HolderControls c{};
#define ZQ_FIND(name) find(c.name, #name)
    ZQ_FIND(cmbDept), ZQ_FIND(cmbDepartment), ZQ_FIND(cmbTitle), ZQ_FIND(cmbType);
    ZQ_FIND(cmbDeposit04), ZQ_FIND(chkBatch), ZQ_FIND(cbxDeposit02), ZQ_FIND(cbxDeposit03);
    ZQ_FIND(cbxExpireDate), ZQ_FIND(btnBatchSet), ZQ_FIND(btnOpen), ZQ_FIND(btnClear);
    ZQ_FIND(edtSequenceNo), ZQ_FIND(edNo), ZQ_FIND(edName), ZQ_FIND(edShowText);
    ZQ_FIND(edEmail), ZQ_FIND(edPIN), ZQ_FIND(edDefinable1), ZQ_FIND(edDefinable2);
    ZQ_FIND(edDescription), ZQ_FIND(dtBirthday), ZQ_FIND(dtDeposit01), ZQ_FIND(dtDeposit02);
    ZQ_FIND(dtDeposit03), ZQ_FIND(dtStartDate), ZQ_FIND(dtExpiredDate);
    ZQ_FIND(labExpireDate), ZQ_FIND(btnPunchCard), ZQ_FIND(imgPhoto);
#undef ZQ_FIND
    return c;
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
