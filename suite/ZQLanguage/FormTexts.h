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
/// Controls not named in the window's own section take their texts from `sharedSection`
/// (the section argument of SetupFormLanguage), where the controls every window of a kind
/// has in common (tool bar, menus, status) are kept once.
void applyFormTexts(QWidget *window, const LanguageFile &texts, const QString &sharedSection);

} // namespace zq::suite
