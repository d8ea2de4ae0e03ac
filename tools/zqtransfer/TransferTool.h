#pragma once

#include "SuiteLoader.h"
#include "ToolOptions.h"
#include "ToolTexts.h"

#include <QByteArray>
#include <QString>

#include <cstdio>

namespace zq::data {
class Connection;
}
namespace zq::transfer {
class HolderImport;
struct ImportFileResult;
struct ImportOptions;
enum class ImportFileKind;
} // namespace zq::transfer

/// One run of zqtransfer: opens the site database, loads the suite as the host does, checks
/// the user's rights and runs the import or export through the window's engine. Writes the
/// counts to `out` and at most one line saying why to `err`.
class TransferTool
{
public:
    /// Exit statuses.
    enum { AllStored = 0, SomeRefused = 1, NothingDone = 2 };

    TransferTool(const ToolOptions &options, std::FILE *out, std::FILE *err);
    ~TransferTool();
    int run();

private:
    int runImport();
    int runExport();
    int runSync();
    /// Prints `why` on one line to `err` (and, under --verbose, the whole text after it).
    int fail(const QString &why, int status = NothingDone);
    int importFailure(const zq::transfer::HolderImport &run,
                      const zq::transfer::ImportFileResult &result);
    zq::transfer::ImportOptions importOptions(zq::transfer::ImportFileKind kind) const;
    bool openDatabase(QString &why);
    bool loadSuite(QString &why);
    void printPreview(const zq::transfer::HolderImport &run);
    void printLine(std::FILE *to, const QString &text);
    /// The message `key` in the language of --lang.
    QString tr(const char *key) const;

    ToolOptions m_options;
    std::FILE *m_out;
    std::FILE *m_err;
    zq::data::Connection *m_connection = nullptr;
    SuiteLoader m_suite;
    ToolTexts m_texts;
    QByteArray m_context[6]; // the texts the suite context points at
};
