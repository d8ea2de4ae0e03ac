#include "HostWindow.h"

#include "Connection.h"
#include "ServiceAbi.h"
#include "SuiteLoader.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTabWidget>
#include <QThread>

#include <dlfcn.h>

namespace {
struct KindEntry
{
    const char *kind;
    const char *action;
    const char *exportName;
};
const KindEntry kKinds[] = {
    {"department", "mnuDepartment", "ShowDepartmentForm"},
    {"title", "mnuTitle", "ShowOccupationTitleForm"},
    {"type", "mnuType", "ShowOccupationTypeForm"},
    {"holder", "mnuHolder", "ShowHolderForm"},
    {"report", "mnuReport", "ShowHolderReport"},
    {"transfer", "mnuTransfer", "HolderImportExport"},
};
} // namespace

HostWindow::HostWindow(const SuiteLoader &suite, QWidget *parent)
    : QMainWindow(parent)
    , m_suite(suite)
    , m_mdi(new QMdiArea(this))
{
    setObjectName(QStringLiteral("ZQHostMain"));
    setProperty("zq.formClass", QStringLiteral("TZQHostMain"));
    setWindowTitle(QStringLiteral("ZQHolder"));
    m_mdi->setObjectName(QStringLiteral("mdiArea"));
    m_mdi->setBackground(QColor(96, 112, 128));
    setCentralWidget(m_mdi);
    qApp->setProperty("zq.mdiArea", QVariant::fromValue<QObject *>(m_mdi));

    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    QAction *reconnect = file->addAction(QStringLiteral("&Reconnect"));
    reconnect->setObjectName(QStringLiteral("mnuReconnect"));
    connect(reconnect, &QAction::triggered, this, &HostWindow::reconnectDatabase);
    file->addSeparator();
    QAction *quit = file->addAction(QStringLiteral("&Quit"), this, &QWidget::close);
    quit->setObjectName(QStringLiteral("mnuQuit"));
    quit->setShortcut(QKeySequence::Quit);

    QMenu *windows = menuBar()->addMenu(QStringLiteral("&Windows"));
    windows->setObjectName(QStringLiteral("mnuWindows"));
    for (const KindEntry &k : kKinds) {
        QAction *a = windows->addAction(QString::fromLatin1(k.action));
        a->setObjectName(QString::fromLatin1(k.action));
        const QString kind = QString::fromLatin1(k.kind);
        connect(a, &QAction::triggered, this, [this, kind] { openKind(kind); });
    }
    windows->addSeparator();
    QAction *tile = windows->addAction(QStringLiteral("Tile"), m_mdi, &QMdiArea::tileSubWindows);
    tile->setObjectName(QStringLiteral("mnuTile"));
    QAction *cascade = windows->addAction(
        QStringLiteral("Cascade"), m_mdi, &QMdiArea::cascadeSubWindows);
    cascade->setObjectName(QStringLiteral("mnuCascade"));

    if (auto setup = reinterpret_cast<SetupFormLanguageFn>(
            dlsym(m_suite.library(1), "SetupFormLanguage")))
        setup(this, "ZQBasic");
    resize(1200, 860);
}

HostWindow::Export HostWindow::entry(const char *name) const
{
    return reinterpret_cast<Export>(m_suite.pluginEntry(name));
}

bool HostWindow::openKind(const QString &kind)
{
    if (kind == QLatin1String("picture")) {
        // The card pictures have no entry of their own: they open from the type window.
        if (!openKind(QStringLiteral("type")))
            return false;
        auto *button = m_mdi->findChild<QAbstractButton *>(QStringLiteral("btnLabelPic"));
        if (!button || !button->isEnabled())
            return false;
        button->click();
        return true;
    }
    for (const KindEntry &k : kKinds) {
        if (kind == QLatin1String(k.kind)) {
            const Export e = entry(k.exportName);
            return e && e() == 1;
        }
    }
    return false;
}

namespace {
void sendMouse(QWidget *widget, QEvent::Type type, const QPoint &pos)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(
        type, QPointF(pos), QPointF(widget->mapToGlobal(pos)), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// "cmbName:INDEX": the combo box is entered by a click that opens its drop-down, then the
// mouse moves onto item INDEX and clicks it, as a user picks an item.
bool pickInWindow(QWidget *window, const QString &combo, int index)
{
    auto *box = window->findChild<QComboBox *>(combo);
    if (!box || !box->isEnabled() || !box->isVisible() || index < 0 || index >= box->count())
        return false;
    box->setFocus(Qt::MouseFocusReason);
    sendMouse(box, QEvent::MouseButtonPress, box->rect().center());
    sendMouse(box, QEvent::MouseButtonRelease, box->rect().center());
    if (!box->view()->isVisible())
        box->showPopup();
    QCoreApplication::processEvents();
    QAbstractItemView *view = box->view();
    const QModelIndex item = view->model()->index(index, box->modelColumn());
    view->scrollTo(item);
    const QRect rect = view->visualRect(item);
    sendMouse(view->viewport(), QEvent::MouseMove, rect.topLeft() + QPoint(2, 2));
    sendMouse(view->viewport(), QEvent::MouseMove, rect.center());
    sendMouse(view->viewport(), QEvent::MouseButtonPress, rect.center());
    sendMouse(view->viewport(), QEvent::MouseButtonRelease, rect.center());
    QCoreApplication::processEvents();
    return true;
}
} // namespace

bool HostWindow::clickInActiveWindow(const QString &name)
{
    // A modal window in front takes the click, as it would take the user's.
    QWidget *sub = QApplication::activeModalWidget();
    if (!sub)
        sub = m_mdi->activeSubWindow();
    if (!sub && !m_mdi->subWindowList().isEmpty())
        sub = m_mdi->subWindowList().last();
    const qsizetype colon = name.indexOf(QLatin1Char(':'));
    if (colon > 0 && sub)
        return pickInWindow(sub, name.left(colon), name.mid(colon + 1).toInt());
    const qsizetype eq = name.indexOf(QLatin1Char('='));
    if (eq > 0) {
        auto *edit = sub ? sub->findChild<QLineEdit *>(name.left(eq)) : nullptr;
        if (!edit || !edit->isEnabled())
            return false;
        edit->setFocus();
        edit->selectAll();
        edit->insert(name.mid(eq + 1)); // as typed: the window's edit handlers run
        QCoreApplication::processEvents();
        return true;
    }
    auto *button = sub ? sub->findChild<QAbstractButton *>(name) : nullptr;
    // A tab page is "clicked" by showing it; a message box's buttons are found by their text.
    if (!button && sub) {
        for (QTabWidget *tabs : sub->findChildren<QTabWidget *>()) {
            for (int i = 0; i < tabs->count(); ++i) {
                if (tabs->widget(i)->objectName() == name && tabs->isEnabled()) {
                    tabs->setCurrentIndex(i);
                    QCoreApplication::processEvents();
                    return true;
                }
            }
        }
        for (QAbstractButton *b : sub->findChildren<QAbstractButton *>())
            if (qobject_cast<QMessageBox *>(sub) && b->text().remove('&') == name)
                button = b;
    }
    if (!button) {
        auto *action = findChild<QAction *>(name);
        if (!action || !action->isEnabled())
            return false;
        action->trigger();
        QCoreApplication::processEvents();
        return true;
    }
    // A tool bar keeps its hidden buttons disabled; scripts reach the windows behind the
    // module's hidden buttons (card labels, batch setting) through their signal. A visible
    // button is clicked only when the user could click it.
    if (button->isHidden() || !button->isVisibleTo(sub)) {
        QMetaObject::invokeMethod(button, "clicked", Q_ARG(bool, false));
    } else {
        if (!button->isEnabled())
            return false;
        button->click();
    }
    QCoreApplication::processEvents();
    return true;
}

bool HostWindow::waitForFile(const QString &file)
{
    QFile mark(file + QStringLiteral(".wait"));
    if (!mark.open(QIODevice::WriteOnly))
        return false;
    mark.close();
    const QDeadlineTimer deadline(120000);
    while (!QFile::exists(file)) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(50);
    }
    return true;
}

QString HostWindow::messageText(QWidget *modal)
{
    auto *box = qobject_cast<QMessageBox *>(modal);
    return box ? box->text() : QString();
}

bool HostWindow::reconnectDatabase()
{
    auto *connection = static_cast<zq::data::Connection *>(m_suite.connection());
    using SetConnection = int32_t (*)(void *);
    auto setConnection = reinterpret_cast<SetConnection>(m_suite.pluginEntry("SetADOConnection"));
    // The module reads the table list and runs its probe again on the new link.
    const bool ok = connection && connection->reconnect() && setConnection
                    && setConnection(connection) == 1;
    if (auto box = reinterpret_cast<ShowMessageBoxFn>(dlsym(m_suite.library(1), "ShowMessageBox")))
        box(ok ? "Reconnected" : "ReconnectFail", "SystemMessage", ok ? 64 : 16);
    return ok;
}

bool HostWindow::closeDocuments()
{
    m_mdi->closeAllSubWindows();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    const Export status = entry("CheckFormStatus");
    return !status || status() == 0;
}

void HostWindow::closeEvent(QCloseEvent *event)
{
    const Export status = entry("CheckFormStatus");
    if (status && status() == 1) {
        if (auto box = reinterpret_cast<ShowMessageBoxFn>(
                dlsym(m_suite.library(1), "ShowMessageBox")))
            box("PleaseCloseWindows", "SystemMessage", 64);
        event->ignore();
        return;
    }
    event->accept();
}

void HostWindow::showAccessWarning(const QString &text)
{
    auto *label = new QLabel(text, this);
    label->setObjectName(QStringLiteral("lblSiteAccess"));
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setStyleSheet(QStringLiteral("color: #8a1c1c;"));
    statusBar()->addWidget(label, 1);
}
