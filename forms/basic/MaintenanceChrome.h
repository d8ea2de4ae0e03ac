#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QLabel;
class QLineEdit;
class QMenuBar;
class QObject;
class QStatusBar;
class QTabWidget;
class QTableView;
class QToolBar;
class QToolButton;
class QWidget;

namespace zq::forms {

/// The controls every maintenance window has: menu `mnuMain`, tool bar `tbEdit`, page
/// control `pcData` with `tsData` and `tsView`, grid `dgView`, status bar `sbMain`.
struct MaintenanceChrome
{
    QMenuBar *mnuMain = nullptr;
    QToolBar *tbEdit = nullptr;
    QTabWidget *pcData = nullptr;
    QWidget *tsData = nullptr;
    QWidget *tsView = nullptr;
    QTableView *dgView = nullptr;
    QStatusBar *sbMain = nullptr;
    QLabel *panel0 = nullptr;
    QLabel *panel1 = nullptr;
    /// Icon-only tool buttons, for narrow windows.
    bool compact = false;
    QHash<QString, QToolButton *> buttons; ///< by name: "btnAdd", ...
    QHash<QString, QAction *> menuItems;   ///< by name: "mnuAdd", ...
    QHash<QString, QAction *> buttonActions;

    /// Builds the controls into `window`. `toolButtons` lists the tool bar in order ("|" is a
    /// separator); menu items exist for the commands in `menuCommands` ("Add", "Search", ...).
    void build(QWidget *window, const QStringList &toolButtons, const QStringList &menuCommands);

    QToolButton *button(const QString &name) const { return buttons.value(name); }
    /// Runs `handler` on a click of "btn" + command and on "mnu" + command.
    void connectCommand(const QString &command,
                        QObject *context,
                        const std::function<void()> &handler) const;
    /// Rights bits 1 Add, 2 Search, 4 Edit, 8 Delete, 16 OK, 32 Cancel, 64 Output enable
    /// the button and the menu item of their command.
    void applyRights(int rights) const;
    /// A tool bar widget is shown and hidden through its tool bar action.
    void setButtonVisible(const QString &name, bool visible);
    QAction *menuItem(const QString &name) const { return menuItems.value(name); }
};

/// Read-only edits are sky blue; writable ones have the normal window colour.
void setEditWritable(QLineEdit *edit, bool writable);
/// The read-only colour of the maintenance windows.
extern const int ReadOnlyRgb[3];

} // namespace zq::forms
