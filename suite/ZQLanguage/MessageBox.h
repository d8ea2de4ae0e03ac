#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace zq::suite {

/// Shows a modal message box. `style` adds a button set (0 OK, 1 OK/Cancel,
/// 2 Abort/Retry/Ignore, 3 Yes/No/Cancel, 4 Yes/No, 5 Retry/Cancel) and an icon (16 error,
/// 32 question, 48 warning, 64 information). Returns the button pressed: 1 OK, 2 Cancel,
/// 3 Abort, 4 Retry, 5 Ignore, 6 Yes, 7 No. `buttonText` names a button by its key ("Yes",
/// "No", "OK", ...) and gives its text when the language has one.
int showMessageBox(const QString &text,
                   const QString &caption,
                   int style,
                   const std::function<std::optional<QString>(const QString &)> &buttonText);

} // namespace zq::suite
