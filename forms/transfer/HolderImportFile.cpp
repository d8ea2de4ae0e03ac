#include "HolderImportFile.h"

#include "HolderImport.h"
#include "TransferFormat.h"
#include "TransferText.h"
#include "WorkbookReader.h"

#include <QFile>

#include <new>

namespace zq::transfer {

ImportFileKind importFileKind(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ImportFileKind::Text;
    const QByteArray head = file.read(8);
    if (head.startsWith("PK\x03\x04") || head == QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))
        return ImportFileKind::Workbook;
    return ImportFileKind::Text;
}

namespace {

// Why the run can store no further line: the link is gone, or a commit failed.
ImportFileResult stopped(const HolderImport &run)
{
    // A cut PostgreSQL link leaves the driver's error empty; the reason must still be said.
    if (!run.isConnected()) {
        const QString why = run.databaseError();
        return {ImportFileResult::Status::Lost,
                why.isEmpty() ? QStringLiteral("the connection to the site database was lost")
                              : why};
    }
    const QString why = run.errorText().isEmpty() ? run.databaseError() : run.errorText();
    return {ImportFileResult::Status::NotStored,
            why.isEmpty() ? QStringLiteral("the database did not store the lines") : why};
}

ImportFileResult ended(HolderImport &run, ImportFileResult result)
{
    const bool stored = run.finish();
    if ((result.status == ImportFileResult::Status::Complete
         || result.status == ImportFileResult::Status::Cancelled)
        && !stored)
        result = {ImportFileResult::Status::NotStored,
                  run.errorText().isEmpty() ? run.databaseError() : run.errorText()};
    return result;
}

ImportFileResult importText(HolderImport &run, const QString &path, const ImportProgress &progress)
{
    const QChar separator = run.options().separator;
    TextLineReader file(path, separator);
    if (!file.open())
        return ended(run, {ImportFileResult::Status::Unreadable, file.errorString()});
    file.setSkipHandler([&run](qint64 line) { run.refuseLine(line, RefusalReason::Unreadable); });
    ImportFileResult result;
    const bool read = file.forEachLine([&](const QString &line) {
        const QString text = stripLine(line, separator);
        if (!text.isEmpty())
            run.importLine(text, file.lineNumber());
        if (!run.canContinue()) {
            result = stopped(run);
            return false;
        }
        if (progress && !progress(file.position(), file.size())) {
            result.status = ImportFileResult::Status::Cancelled;
            return false;
        }
        return true;
    });
    if (!read && result.status == ImportFileResult::Status::Complete)
        result = {ImportFileResult::Status::Unreadable, file.errorString()};
    return ended(run, result);
}

ImportFileResult importWorkbook(HolderImport &run,
                                const QString &path,
                                const ImportProgress &progress)
{
    zq::platform::WorkbookReader book;
    book.setDateFormat(run.options().dateFormat);
    if (!book.open(path))
        return ended(run, {ImportFileResult::Status::Unreadable, book.errorText()});
    // Only the rows holding a value are read, whatever range the sheet declares; each
    // gives every column of the order, its empty cells too, placed by their own references.
    // A row with cells beyond the order splits into too many fields: the cells up to one
    // past the order tell its verdict and its holder number.
    const qsizetype codes = run.options().columnOrder.size();
    ImportFileResult result;
    int row = 0;
    QStringList cells;
    while (book.nextRow(row, cells)) {
        if (cells.size() > codes + 1)
            cells.resize(codes + 1);
        while (cells.size() < codes)
            cells.append(QString());
        if (run.options().separator == u',') {
            run.importCells(cells, row + 1);
        } else {
            // Split at another separator, the row joined with commas is what it always was.
            QString line;
            for (const QString &text : std::as_const(cells)) {
                // Quoted where it must be, so that a comma or a line end in a cell stays in it.
                line += quotedField(valueText(text), u',');
                line += QLatin1Char(',');
            }
            run.importLine(line, row + 1);
        }
        if (!run.canContinue()) {
            result = stopped(run);
            break;
        }
        if (progress && !progress(book.progress(), 1000)) {
            result.status = ImportFileResult::Status::Cancelled;
            break;
        }
    }
    if (result.status == ImportFileResult::Status::Complete && !book.errorText().isEmpty())
        result = {ImportFileResult::Status::Unreadable, book.errorText()};
    book.close();
    return ended(run, result);
}

} // namespace

ImportFileResult importFile(HolderImport &run,
                            const QString &path,
                            ImportFileKind kind,
                            const ImportProgress &progress)
{
    try {
        return kind == ImportFileKind::Workbook ? importWorkbook(run, path, progress)
                                                : importText(run, path, progress);
    } catch (const std::bad_alloc &) {
        // A file from anywhere may ask for memory that is not there: a message, not a crash.
        return ended(run,
                     {ImportFileResult::Status::Unreadable,
                      QStringLiteral("the file needs more memory than there is")});
    } catch (const std::exception &e) {
        return ended(run, {ImportFileResult::Status::Unreadable, QString::fromLocal8Bit(e.what())});
    }
}

} // namespace zq::transfer
