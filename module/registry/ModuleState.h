#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <cstdint>

namespace zq::data {
class Connection;
}

namespace zq::module {

/// Every window class that exists at most once. The first six are opened by exports and
/// counted by CheckFormStatus, in this order.
enum class WindowKind {
    Department,
    OccupationTitle,
    OccupationType,
    Holder,
    HolderReport,
    HolderImportExport,
    LabelPic,    // opened by the occupation-type window
    BatchShow,   // opened by the holder window
    PrintOption, // card labels, opened modally by the holder window
    Count
};
constexpr int ExportedKinds = 6;
constexpr int KindCount = int(WindowKind::Count);

/// Right key (also the audit key) and window class of a kind.
QString rightKey(WindowKind kind);
QString windowClass(WindowKind kind);

/// Module-wide state, one per loaded module.
struct ModuleState
{
    std::array<int32_t, KindCount> flags{}; // 1 while a window of the kind exists
    int32_t lastRight = 0;
    std::array<QPointer<QWidget>, KindCount> registry;
    QPointer<zq::data::Connection> connection;
    QStringList tableNames;
    bool tableNamesCreated = false;
};
ModuleState &state();

/// True when the connected database has the table (case-insensitive).
bool tableExists(const QString &name);

/// Creates a window of the kind through its factory; the factory's window is tracked:
/// open flag 1 now, 0 (and the registry cleared, except for the batch window) when it is
/// destroyed. Returns nullptr when creation failed.
QWidget *createWindow(WindowKind kind);

/// A factory makes the window (without owner); windows are freed when closed.
using WindowFactory = QWidget *(*)();
void setFactory(WindowKind kind, WindowFactory factory);
/// Installs the factories of the windows that are built; the others open a bare window.
/// Part of the module (it knows every window folder); SetGlobalFunction runs it.
void installFactories();

/// Records `window` as the live window of its kind (done by createWindow).
void track(WindowKind kind, QWidget *window);

/// Shows the window as a document window of the host when the host publishes its
/// QMdiArea (property "zq.mdiArea" of qApp), else top-level; brings it to the front.
void showDocumentWindow(QWidget *window);

} // namespace zq::module
