#pragma once

#include <QString>

#include <functional>

namespace zq::transfer {

class HolderImport;

/// What an import file holds, told by its content: a workbook (an .xlsx zip or a legacy
/// .xls compound document) or text.
enum class ImportFileKind { Text, Workbook };
ImportFileKind importFileKind(const QString &path);

/// How reading an import file ended.
struct ImportFileResult
{
    enum class Status {
        Complete,   ///< every line was read and judged, and the last batch committed
        Unreadable, ///< the file could not be opened or read on (`error`)
        Lost,       ///< the link to the database went away (`error`)
        NotStored,  ///< a commit failed: its batch is lost, the import stopped (`error`)
        Cancelled,  ///< the progress callback stopped it; the lines before stay stored
        Busy,       ///< another writer held the database past the busy timeout (`error`)
        Empty,      ///< the file holds no line: refused as a whole
        NotText,    ///< no line of the file decodes as text: refused as a whole
    };
    Status status = Status::Complete;
    QString error;
};

/// The part of the file read so far out of `total` (bytes of a text file, rows of a
/// workbook). Returning false stops the import.
using ImportProgress = std::function<bool(qint64 done, qint64 total)>;

/// What a progress callback may do with the import's connection. Holders are written while
/// the next lines are judged, and no other statement may run meanwhile.
enum class ProgressAccess {
    /// It may run statements, or let events run that do: the import waits for the holders
    /// being written before every call.
    Statements,
    /// It runs none, or calls `HolderImport::settle()` before it does (or lets events run).
    Settles,
};

/// Feeds every line of the file at `path` to `run` (already started) with its line number,
/// counts lines the reader cannot hand over as refused, and finishes the run. A workbook is
/// read from its first sheet, each row's cells judged as the row joined with commas (cells
/// quoted where they must be) would be; a text file record by record, split at the run's
/// separator.
ImportFileResult importFile(HolderImport &run,
                            const QString &path,
                            ImportFileKind kind,
                            const ImportProgress &progress = {},
                            ProgressAccess access = ProgressAccess::Statements);

} // namespace zq::transfer
