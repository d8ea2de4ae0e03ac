#include "FormTexts.h"

#include "LanguageFile.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStackedWidget>
#include <QTabWidget>
#include <QWidget>

namespace zq::suite {

namespace {

// The tab widget that shows `widget` as one of its pages; its pages sit in the tab
// widget's inner stack.
QTabWidget *tabOwner(QWidget *widget, int *index)
{
    QWidget *stack = widget->parentWidget();
    if (!qobject_cast<QStackedWidget *>(stack))
        return nullptr;
    auto *tabs = qobject_cast<QTabWidget *>(stack->parentWidget());
    if (!tabs)
        return nullptr;
    *index = tabs->indexOf(widget);
    return *index >= 0 ? tabs : nullptr;
}

void applyText(QObject *object, const QString &text)
{
    if (auto *button = qobject_cast<QAbstractButton *>(object))
        button->setText(text);
    else if (auto *label = qobject_cast<QLabel *>(object))
        label->setText(text);
    else if (auto *group = qobject_cast<QGroupBox *>(object))
        group->setTitle(text);
    else if (auto *menu = qobject_cast<QMenu *>(object))
        menu->setTitle(text);
    else if (auto *action = qobject_cast<QAction *>(object))
        action->setText(text);

    if (auto *widget = qobject_cast<QWidget *>(object)) {
        int index = -1;
        if (QTabWidget *tabs = tabOwner(widget, &index))
            tabs->setTabText(index, text);
    }
}

void applyHint(QObject *object, const QString &hint)
{
    if (auto *action = qobject_cast<QAction *>(object)) {
        action->setToolTip(hint);
        return;
    }
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget)
        return;
    widget->setToolTip(hint);
    int index = -1;
    if (QTabWidget *tabs = tabOwner(widget, &index))
        tabs->setTabToolTip(index, hint);
}

} // namespace

QString formClassName(const QWidget *window)
{
    const QVariant property = window->property("zq.formClass");
    if (property.isValid() && !property.toString().isEmpty())
        return property.toString();
    const QString name = QString::fromLatin1(window->metaObject()->className());
    const qsizetype colons = name.lastIndexOf(QLatin1String("::"));
    return colons >= 0 ? name.mid(colons + 2) : name;
}

void applyFormTexts(QWidget *window, const LanguageFile &texts, const QString &sharedSection)
{
    const QString section = formClassName(window);
    const auto find = [&](const QString &key) -> std::optional<QString> {
        if (auto own = texts.find(section, key))
            return own;
        if (sharedSection.isEmpty())
            return std::nullopt;
        return texts.find(sharedSection, key);
    };
    if (auto caption = texts.find(section, QStringLiteral("Caption")))
        window->setWindowTitle(*caption);

    const QList<QObject *> children = window->findChildren<QObject *>();
    for (QObject *child : children) {
        const QString name = child->objectName();
        // Qt names some of its own inner widgets ("qt_tabwidget_stackedwidget", ...).
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_")))
            continue;
        if (auto *edit = qobject_cast<QLineEdit *>(child)) {
            if (auto placeholder = find(name + QStringLiteral(".Placeholder")))
                edit->setPlaceholderText(*placeholder);
        } else if (auto text = find(name)) {
            applyText(child, *text);
        }
        if (auto hint = find(name + QStringLiteral(".Hint")))
            applyHint(child, *hint);
    }
}

} // namespace zq::suite
