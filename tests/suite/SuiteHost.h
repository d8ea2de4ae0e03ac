#pragma once

#include "Connection.h"
#include "ServiceAbi.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariant>
#include <QWidget>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <functional>
#include <ostream>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace zq::test {

enum class SuiteLib { Common, Language, UserRight, Com, Utility };

/// The library from the build's lib folder. It stays loaded for the whole run: its statics
/// hold Qt objects that must not outlive the application.
void *suiteLibrary(SuiteLib lib);

/// The C entry `name` of `lib`; fails the test when the library does not export it.
template<typename Fn>
Fn suiteEntry(SuiteLib lib, const char *name)
{
    void *library = suiteLibrary(lib);
    void *symbol = library ? dlsym(library, name) : nullptr;
    EXPECT_NE(symbol, nullptr) << name;
    return reinterpret_cast<Fn>(symbol);
}

/// "INSERT INTO table (columns) VALUES (...)": texts quoted, numbers as they are.
QString insertRow(const QString &table, const QStringList &columns, const QVariantList &values);

/// What a host hands to the five libraries: folders in a temporary site, the login user and
/// the language. A change takes effect with the next `init()`.
class SuiteHost
{
public:
    SuiteHost();
    /// Hands every library an empty context, so none keeps the test's connection.
    ~SuiteHost();

    /// ZQSuiteInit of every library; true when all took the context.
    bool init();
    void writeLanguageFile(const QString &name, const QByteArray &text) const;
    QString path(const QString &relative) const { return m_dir.filePath(relative); }

    void *connection = nullptr;
    QByteArray siteFolder;
    QByteArray loginUserId = "clerk";
    QByteArray language = "en";
    QByteArray langFolder;
    QByteArray reportFolder;
    QByteArray reportOutDir;

private:
    QTemporaryDir m_dir;
};

/// Acts on a modal window from inside the event loop that shows it: `step` is polled until
/// it finds its window and acts on it. A modal window still open seconds later is closed,
/// so a failing test cannot hang the run.
class ModalDriver
{
public:
    explicit ModalDriver(std::function<bool()> step);
    bool acted() const { return m_acted; }

    /// A step that runs `act` once on the visible top-level W named `name`.
    template<typename W>
    static std::function<bool()> on(const QString &name, std::function<void(W *)> act)
    {
        return [name, act] {
            W *window = findTopLevel<W>(name);
            if (window)
                act(window);
            return window != nullptr;
        };
    }

    template<typename W>
    static W *findTopLevel(const QString &name)
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *window = qobject_cast<W *>(widget);
            if (window && window->isVisible() && window->objectName() == name)
                return window;
        }
        return nullptr;
    }

private:
    QTimer m_timer;
    int m_ticks = 0;
    bool m_acted = false;
};

} // namespace zq::test
