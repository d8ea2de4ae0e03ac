#pragma once

#include "ServiceAbi.h"

#include <QString>
#include <QStringList>

#include <cstdint>

/// The five sibling libraries and the plug-in, loaded with dlopen from the host's library
/// folder, or through the host binary's run path when no folder is given.
class SuiteLoader
{
public:
    ~SuiteLoader();

    /// Loads the suite and hands it `context`, then loads the plug-in. False with `error()`
    /// when a library is missing; a missing entry of a suite library is not an error here.
    /// An empty `libraryFolder` loads the libraries by name through the run path.
    bool load(const QString &libraryFolder, const ZQSuiteContext &context);
    /// Loads only the five suite libraries and hands them `context` (for programs that carry
    /// the module's code themselves, such as the transfer tool).
    bool loadSuite(const QString &libraryFolder, const ZQSuiteContext &context);
    QString error() const { return m_error; }

    /// The six values for SetGlobalFunction (the reserved one is 0).
    void handles(intptr_t out[6]) const;
    void *plugin() const { return m_plugin; }
    void *library(int index) const { return m_libraries[index]; }
    /// An export of the plug-in.
    void *pluginEntry(const char *name) const;
    /// The host's connection handed to the suite (`ZQSuiteContext::connection`).
    void *connection() const { return m_connection; }

private:
    void *m_connection = nullptr;
    void *m_libraries[5] = {};
    void *m_plugin = nullptr;
    QString m_error;
};
