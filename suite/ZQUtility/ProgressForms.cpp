#include "ProgressForms.h"

#include "SuiteContext.h"

#include <QCoreApplication>
#include <QPointer>
#include <QProgressDialog>

#include <map>
#include <set>

namespace zq::suite {

namespace {

struct Progress
{
    std::map<intptr_t, QPointer<QProgressDialog>> open;
    std::set<intptr_t> cancelled;
    intptr_t lastHandle = 0;
};

Progress &progress()
{
    static Progress state;
    return state;
}

QProgressDialog *dialogOf(intptr_t handle)
{
    const auto found = progress().open.find(handle);
    return found == progress().open.end() ? nullptr : found->second.data();
}

void discard(intptr_t handle)
{
    const auto found = progress().open.find(handle);
    if (found == progress().open.end())
        return;
    QPointer<QProgressDialog> dialog = found->second;
    progress().open.erase(found);
    if (dialog) {
        dialog->hide();
        delete dialog.data();
    }
}

} // namespace

intptr_t openProgress(int total,
                      const QString &message,
                      const QString &title,
                      const QString &cancel)
{
    if (!widgetsAvailable())
        return 0;
    // A progress window that is active is no owner for another: closing or cancelling it
    // would take the other one along.
    QWidget *parent = dialogParent();
    while (parent && parent->objectName() == QLatin1String("frmProcess"))
        parent = parent->parentWidget();
    auto *dialog = new QProgressDialog(message, cancel, 0, qMax(0, total), parent);
    dialog->setObjectName(QStringLiteral("frmProcess"));
    dialog->setWindowTitle(title);
    dialog->setWindowModality(Qt::NonModal);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumDuration(0);
    dialog->setValue(0);
    dialog->show();
    QCoreApplication::processEvents();

    const intptr_t handle = ++progress().lastHandle;
    progress().open.emplace(handle, dialog);
    return handle;
}

void advanceProgress(intptr_t handle, int step)
{
    QProgressDialog *dialog = dialogOf(handle);
    if (!dialog)
        return;
    if (!dialog->wasCanceled())
        dialog->setValue(qBound(dialog->minimum(), dialog->value() + step, dialog->maximum()));
    // The caller works on the user-interface thread; this is where a click on Cancel gets
    // through.
    QCoreApplication::processEvents();
}

bool progressCancelled(intptr_t handle)
{
    if (progress().cancelled.count(handle))
        return true;
    if (!progress().open.count(handle))
        return false;
    QCoreApplication::processEvents();
    // A window that went with its parent counts as cancelled: nobody can watch it any more.
    const QPointer<QProgressDialog> dialog = dialogOf(handle);
    if (dialog && !dialog->wasCanceled())
        return false;
    discard(handle);
    progress().cancelled.insert(handle);
    return true;
}

void closeProgress(intptr_t handle)
{
    discard(handle);
    progress().cancelled.erase(handle);
}

} // namespace zq::suite
