#include "Gestures.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace zq::test {

void click(QWidget *widget, QPoint pos)
{
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, pos);
    QCoreApplication::processEvents();
}

void doubleClick(QWidget *widget, QPoint pos)
{
    QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, pos);
    QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, pos);
    QTest::mouseDClick(widget, Qt::LeftButton, Qt::NoModifier, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, pos);
    QCoreApplication::processEvents();
}

void clickButton(QWidget *window, const QString &name)
{
    auto *button = window->findChild<QToolButton *>(name);
    if (!button) {
        ADD_FAILURE() << "no tool button " << name.toStdString();
        return;
    }
    click(button);
}

void typeText(const QString &text)
{
    QWidget *focus = QApplication::focusWidget();
    if (!focus) {
        ADD_FAILURE() << "no focus widget to type \"" << text.toStdString() << "\" into";
        return;
    }
    QTest::keyClicks(focus, text);
}

void pressKey(int key, Qt::KeyboardModifiers modifiers)
{
    QWidget *focus = QApplication::focusWidget();
    if (!focus) {
        ADD_FAILURE() << "no focus widget for the key " << key;
        return;
    }
    QTest::keyClick(focus, Qt::Key(key), modifiers);
    QCoreApplication::processEvents();
}

void typeInto(QLineEdit *edit, const QString &text)
{
    click(edit);
    pressKey(Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
        pressKey(Qt::Key_Delete);
    else
        typeText(text);
}

void pickItem(QComboBox *combo, int index)
{
    click(combo);
    if (!combo->view()->isVisible())
        combo->showPopup();
    QAbstractItemView *view = combo->view();
    const QRect rect = view->visualRect(view->model()->index(index, combo->modelColumn()));
    // The hand moves onto the item before it clicks (the drop-down takes no release that
    // has not moved since the press that opened it).
    QTest::mouseMove(view->viewport(), rect.topLeft() + QPoint(2, 2));
    QTest::mouseMove(view->viewport(), rect.center());
    click(view->viewport(), rect.center());
}

static QPoint cellCentre(QTableView *grid, int row)
{
    const QModelIndex cell = grid->model()->index(row, 0);
    grid->scrollTo(cell);
    return grid->visualRect(cell).center();
}

void clickRow(QTableView *grid, int row)
{
    click(grid->viewport(), cellCentre(grid, row));
}

void doubleClickRow(QTableView *grid, int row)
{
    doubleClick(grid->viewport(), cellCentre(grid, row));
}

void clickHeader(QTableView *grid, int column)
{
    QHeaderView *header = grid->horizontalHeader();
    click(header->viewport(),
          QPoint(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                 header->height() / 2));
}

static QPoint itemCentre(QTreeWidget *tree, QTreeWidgetItem *item)
{
    tree->scrollToItem(item);
    return tree->visualItemRect(item).center();
}

void clickItem(QTreeWidget *tree, QTreeWidgetItem *item)
{
    click(tree->viewport(), itemCentre(tree, item));
}

void doubleClickItem(QTreeWidget *tree, QTreeWidgetItem *item)
{
    doubleClick(tree->viewport(), itemCentre(tree, item));
}

void clickMenuItem(QWidget *window, QAction *item)
{
    auto *bar = window->findChild<QMenuBar *>();
    if (!bar) {
        ADD_FAILURE() << "no menu bar";
        return;
    }
    for (QAction *title : bar->actions()) {
        QMenu *menu = title->menu();
        if (!menu || !menu->actions().contains(item))
            continue;
        click(bar, bar->actionGeometry(title).center());
        if (!menu->isVisible())
            menu->popup(bar->mapToGlobal(bar->actionGeometry(title).bottomLeft()));
        click(menu, menu->actionGeometry(item).center());
        if (menu->isVisible())
            menu->close();
        return;
    }
    ADD_FAILURE() << "the menu item is in no menu";
}

} // namespace zq::test
