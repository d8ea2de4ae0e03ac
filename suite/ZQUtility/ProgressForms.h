#pragma once

#include <QString>

#include <cstdint>

namespace zq::suite {

/// Opens a modeless progress window over 0..total with a cancel button and shows it at
/// once. Returns its handle (never 0; 0 when no window can be shown).
intptr_t openProgress(int total,
                      const QString &message,
                      const QString &title,
                      const QString &cancel);

/// Moves the bar on by `step` and lets the window answer the user meanwhile.
void advanceProgress(intptr_t handle, int step);

/// True when the user cancelled; the window is then closed and the handle answers true from
/// now on.
bool progressCancelled(intptr_t handle);

/// Closes the window; the handle is then unknown.
void closeProgress(intptr_t handle);

} // namespace zq::suite
