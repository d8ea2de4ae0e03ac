#pragma once

#include <QString>

class QWidget;

namespace zq::suite {

class LanguageFile;

/// The language section of a window: its "zq.formClass" property, else its class name
/// without namespace.
QString formClassName(const QWidget *window);

/// Puts the texts of the window's section on the window and its named children. Controls
/// without a text in the section keep theirs.
void applyFormTexts(QWidget *window, const LanguageFile &texts);

} // namespace zq::suite
