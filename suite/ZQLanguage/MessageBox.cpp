#include "MessageBox.h"

#include "SuiteContext.h"

#include <QAbstractButton>
#include <QMessageBox>

#include <utility>
#include <vector>

namespace zq::suite {

namespace {

struct ButtonKind
{
    QMessageBox::StandardButton button;
    const char *key;
    int result;
};

const ButtonKind kOk{QMessageBox::Ok, "OK", 1};
const ButtonKind kCancel{QMessageBox::Cancel, "Cancel", 2};
const ButtonKind kAbort{QMessageBox::Abort, "Abort", 3};
const ButtonKind kRetry{QMessageBox::Retry, "Retry", 4};
const ButtonKind kIgnore{QMessageBox::Ignore, "Ignore", 5};
const ButtonKind kYes{QMessageBox::Yes, "Yes", 6};
const ButtonKind kNo{QMessageBox::No, "No", 7};

// The buttons of a style, first the default one, and the one Escape presses.
std::pair<std::vector<ButtonKind>, ButtonKind> buttonsOf(int style)
{
    switch (style & 0x0F) {
    case 1:
        return {{kOk, kCancel}, kCancel};
    case 2:
        return {{kAbort, kRetry, kIgnore}, kAbort};
    case 3:
        return {{kYes, kNo, kCancel}, kCancel};
    case 4:
        return {{kYes, kNo}, kNo};
    case 5:
        return {{kRetry, kCancel}, kCancel};
    default:
        return {{kOk}, kOk};
    }
}

QMessageBox::Icon iconOf(int style)
{
    switch (style & 0xF0) {
    case 16:
        return QMessageBox::Critical;
    case 32:
        return QMessageBox::Question;
    case 48:
        return QMessageBox::Warning;
    case 64:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

int showMessageBox(const QString &text,
                   const QString &caption,
                   int style,
                   const std::function<std::optional<QString>(const QString &)> &buttonText)
{
    if (!widgetsAvailable())
        return 0;
    const auto [buttons, escape] = buttonsOf(style);

    QMessageBox box(dialogParent());
    box.setWindowModality(Qt::ApplicationModal);
    box.setObjectName(QStringLiteral("zqMessageBox"));
    box.setIcon(iconOf(style));
    box.setWindowTitle(caption);
    box.setText(text);
    QMessageBox::StandardButtons set;
    for (const ButtonKind &kind : buttons)
        set |= kind.button;
    box.setStandardButtons(set);
    for (const ButtonKind &kind : buttons) {
        if (auto label = buttonText(QString::fromLatin1(kind.key)))
            box.button(kind.button)->setText(*label);
    }
    box.setDefaultButton(buttons.front().button);
    box.setEscapeButton(escape.button);

    const int pressed = box.exec();
    for (const ButtonKind &kind : buttons) {
        if (pressed == kind.button)
            return kind.result;
    }
    return escape.result;
}

} // namespace zq::suite
