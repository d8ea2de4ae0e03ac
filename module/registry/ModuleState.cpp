#include "ModuleState.h"

#include "BareWindow.h"

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>

namespace zq::module {

namespace {
std::array<WindowFactory, KindCount> g_factories{};
} // namespace

ModuleState &state()
{
    static ModuleState s;
    return s;
}

QString rightKey(WindowKind kind)
{
    switch (kind) {
    case WindowKind::Department:
        return QStringLiteral("BasicDataDepartmentI");
    case WindowKind::OccupationTitle:
        return QStringLiteral("BasicDataOccupationTitleI");
    case WindowKind::OccupationType:
    case WindowKind::LabelPic:
        return QStringLiteral("BasicDataOccupationTypeI");
    case WindowKind::Holder:
    case WindowKind::BatchShow:
    case WindowKind::PrintOption:
        return QStringLiteral("BasicDataHolderI");
    case WindowKind::HolderReport:
        return QStringLiteral("BasicDataHolderR");
    case WindowKind::HolderImportExport:
        return QStringLiteral("BasicDataHolderB");
    case WindowKind::Count:
        break;
    }
    return QString();
}

QString windowClass(WindowKind kind)
{
    static const char *const names[KindCount] = {"TfrmDepartment",
                                                 "TfrmOccupationTitle",
                                                 "TfrmOccupationType",
                                                 "TfrmHolder",
                                                 "TfrmHolderReport",
                                                 "TfrmHolderImportExport",
                                                 "TfrmLabelPic",
                                                 "TfrmBatchShow",
                                                 "TfrmPrintOption"};
    const int i = int(kind);
    return i >= 0 && i < KindCount ? QString::fromLatin1(names[i]) : QString();
}

bool tableExists(const QString &name)
{
    return state().tableNames.contains(name, Qt::CaseInsensitive);
}

void setFactory(WindowKind kind, WindowFactory factory)
{
    g_factories[int(kind)] = factory;
}

void track(WindowKind kind, QWidget *window)
{
    const int i = int(kind);
    state().flags[i] = 1;
    state().registry[i] = window;
    window->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(window, &QObject::destroyed, qApp, [kind, window] {
        const int k = int(kind);
        state().flags[k] = 0;
        // The batch window's pointer stays; its flag alone decides about a new one.
        if (kind != WindowKind::BatchShow && state().registry[k] == window)
            state().registry[k] = nullptr;
    });
}

QWidget *createWindow(WindowKind kind)
{
    const WindowFactory factory = g_factories[int(kind)];
    QWidget *window = factory ? factory() : new BareWindow(windowClass(kind));
    if (!window)
        return nullptr;
    track(kind, window);
    return window;
}

namespace {

QPoint cascadedPosition(const QRect &area,
                        const QSize &size,
                        const QMdiSubWindow *before,
                        int titleHeight)
{
    const QPoint centred(qMax(0, (area.width() - size.width()) / 2),
                         qMax(0, (area.height() - size.height()) / 2));
    if (!before || !before->isVisible() || before->isMinimized() || before->isMaximized())
        return centred;
    const int step = qMax(titleHeight, 20);
    QPoint at = before->pos() + QPoint(step, step);
    // Past the area's edge the cascade starts again at its top left corner.
    if (at.x() + size.width() > area.width() || at.y() + size.height() > area.height())
        at = QPoint(0, 0);
    return at;
}

} // namespace

void showDocumentWindow(QWidget *window)
{
    if (!window)
        return;
    auto *mdi = qobject_cast<QMdiArea *>(qApp->property("zq.mdiArea").value<QObject *>());
    if (mdi) {
        QMdiSubWindow *sub = nullptr;
        for (QMdiSubWindow *s : mdi->subWindowList())
            if (s->widget() == window)
                sub = s;
        if (!sub) {
            const QSize wanted = window->size();
            QMdiSubWindow *before = mdi->activeSubWindow();
            sub = mdi->addSubWindow(window);
            sub->setAttribute(Qt::WA_DeleteOnClose);
            // The frame takes the window's own size; the first window sits in the middle of
            // the area, and each later one a title bar lower and to the right of the window
            // before, whose title and left edge stay in sight.
            sub->show();
            const QSize frame = sub->size() - window->size();
            sub->resize(wanted + frame);
            const QRect area = mdi->viewport()->rect();
            sub->move(cascadedPosition(area, sub->size(), before, frame.height()));
            const QPointer<QMdiSubWindow> guard(sub);
            // A window that closes itself takes its frame along.
            QObject::connect(window, &QObject::destroyed, mdi, [guard] {
                if (guard)
                    guard->deleteLater();
            });
        }
        sub->show();
        window->show();
        mdi->setActiveSubWindow(sub);
        sub->raise();
        return;
    }
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace zq::module
