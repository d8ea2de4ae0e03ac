#pragma once

#include <QPoint>
#include <QString>

class QAction;
class QComboBox;
class QLineEdit;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace zq::test {

/// What a user's hand does, as the events it makes, sent to the widget that receives them.

/// A left click (press and release) at `pos` of `widget` (its centre when null).
void click(QWidget *widget, QPoint pos = QPoint());
/// A left double-click: press, release, press, double-click, release.
void doubleClick(QWidget *widget, QPoint pos = QPoint());
/// A click on the tool button `name` of `window`; nothing happens when it is disabled.
void clickButton(QWidget *window, const QString &name);
/// Clicks into `edit`, selects its text with Ctrl+A and types `text` over it (an empty
/// `text` deletes it), the keys going to the focus widget.
void typeInto(QLineEdit *edit, const QString &text);
/// Types `text` into the focus widget.
void typeText(const QString &text);
/// A key press and release sent to the focus widget.
void pressKey(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
/// Clicks the combo box (focus and its drop-down), moves onto the item `index` of the
/// drop-down and clicks it.
void pickItem(QComboBox *combo, int index);
/// Clicks a cell of `row` in the grid's viewport, or double-clicks it, scrolled into view
/// first as a user scrolls to it.
void clickRow(QTableView *grid, int row);
void doubleClickRow(QTableView *grid, int row);
/// Clicks the title of `column` in the grid's header.
void clickHeader(QTableView *grid, int column);
/// Clicks the text of `item` in the tree's viewport, or double-clicks it.
void clickItem(QTreeWidget *tree, QTreeWidgetItem *item);
void doubleClickItem(QTreeWidget *tree, QTreeWidgetItem *item);
/// Opens the menu holding `item` from its menu bar title and clicks the item.
void clickMenuItem(QWidget *window, QAction *item);

} // namespace zq::test
