#include "HolderImportFile.h"

#include "HolderImport.h"
#include "TransferFormat.h"
#include "TransferText.h"
#include "WorkbookReader.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

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

// Whether a line as read holds a control character that no text line does: a tab, a form
// feed and, at its end, the old end-of-file mark are text; a line end inside quotes is the
// quoted value's; a NUL is judged by the import, which names its column.
bool holdsStrayControl(const QString &line)
{
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char16_t c = line.at(i).unicode();
        if ((c >= 0x20 && c != 0x7F) || c == 0)
            continue;
        if (c == u'\t' || c == u'\v' || c == u'\f' || c == u'\r' || c == u'\n')
            continue;
        if (c == 0x1A && i == line.size() - 1)
            continue;
        return true;
    }
    return false;
}

// Why the run can store no further line: the link is gone, or a commit failed.
ImportFileResult stopped(const HolderImport &run)
{
    if (run.isBusy())
        return {ImportFileResult::Status::Busy, run.errorText()};
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
        result = stopped(run);
    return result;
}

// Whether the lines a file gave were holder lines at all. A picture, an archive or another
// program's file decodes, if at all, into lines of control characters and characters that
// are no text; stored, they would become holders such as "@". Such a file, and one without
// a line, is refused as a whole.
class LineCount
{
public:
    // After each line the run judged.
    void judged(const HolderImport &run, HolderImport::Outcome outcome)
    {
        ++m_lines;
        if (outcome != HolderImport::Outcome::Failed || run.refusals().isEmpty()) {
            ++m_text;
            return;
        }
        switch (run.refusals().constLast().reason) {
        case RefusalReason::Undecodable:
        case RefusalReason::Control:
        case RefusalReason::Nul:
            break;
        default:
            ++m_text;
        }
    }
    void skipped() { ++m_lines; }
    ImportFileResult verdict(ImportFileResult result) const
    {
        if (result.status != ImportFileResult::Status::Complete)
            return result;
        if (m_lines == 0)
            return {ImportFileResult::Status::Empty, QStringLiteral("the file holds no line")};
        if (m_text == 0)
            return {ImportFileResult::Status::NotText,
                    QStringLiteral("no line of the file is text")};
        return result;
    }

private:
    qint64 m_lines = 0;
    qint64 m_text = 0;
};

// The progress callback, once the connection is free for it where it may need it.
bool progressed(HolderImport &run,
                const ImportProgress &progress,
                ProgressAccess access,
                qint64 done,
                qint64 total)
{
    if (!progress)
        return true;
    if (access == ProgressAccess::Statements)
        run.settle();
    return progress(done, total);
}

ImportFileResult importText(HolderImport &run,
                            const QString &path,
                            const ImportProgress &progress,
                            ProgressAccess access)
{
    const QChar separator = run.options().separator;
    TextLineReader file(path, separator);
    if (!file.open())
        return ended(run, {ImportFileResult::Status::Unreadable, file.errorString()});
    if (file.isBinary())
        return ended(run,
                     {ImportFileResult::Status::NotText,
                      QStringLiteral("the file holds NUL bytes, which no text file does")});
    LineCount lines;
    file.setSkipHandler([&run, &lines](qint64 line) {
        run.refuseLine(line, RefusalReason::Unreadable);
        lines.skipped();
    });
    ImportFileResult result;
    const bool read = file.forEachLine([&](const QString &line) {
        const QString text = stripLine(line, separator);
        if (text.isEmpty()) {
            // Nothing to judge.
        } else if (holdsStrayControl(line)) {
            // Stripped of them, a picture's bytes would read as holders such as "@".
            run.refuseLine(file.lineNumber(),
                           RefusalReason::Control,
                           QString(),
                           QStringLiteral("RefusalLine"));
            lines.skipped();
        } else {
            lines.judged(run, run.importLine(text, file.lineNumber()));
        }
        if (!run.canContinue()) {
            result = stopped(run);
            return false;
        }
        if (!progressed(run, progress, access, file.position(), file.size())) {
            result.status = ImportFileResult::Status::Cancelled;
            return false;
        }
        return true;
    });
    if (!read && result.status == ImportFileResult::Status::Complete)
        result = {ImportFileResult::Status::Unreadable, file.errorString()};
    return ended(run, lines.verdict(result));
}

// The rows of a workbook read on a thread of their own, a bounded number ahead of the
// import, so that unpacking and parsing the sheet overlap with judging and writing the rows
// before. While the feed runs, the reader is its thread's alone.
class RowFeed
{
public:
    explicit RowFeed(zq::platform::WorkbookReader &book)
        : m_book(book)
        , m_thread([this] { run(); })
    {}
    ~RowFeed() { stop(); }
    RowFeed(const RowFeed &) = delete;
    RowFeed &operator=(const RowFeed &) = delete;

    /// The next row; false at the end of the sheet or where it cannot be read further (the
    /// reader's errorText() tells which once the feed has stopped). What the reader threw
    /// is thrown here.
    bool next(int &row, QStringList &cells)
    {
        if (m_next == m_taken.size()) {
            m_next = 0;
            std::unique_lock lock(m_mutex);
            // The texts go back to be freed where they were made, which the allocator
            // does faster than freeing them on this thread.
            if (!m_taken.empty())
                m_spent.push_back(std::move(m_taken));
            m_taken.clear();
            m_changed.wait(lock, [this] { return !m_ready.empty() || m_ended; });
            if (m_ready.empty()) {
                if (m_failure)
                    std::rethrow_exception(std::exchange(m_failure, nullptr));
                return false;
            }
            m_taken = std::move(m_ready.front());
            m_ready.pop_front();
            m_changed.notify_all();
        }
        row = m_taken[m_next].number;
        std::swap(cells, m_taken[m_next].cells);
        ++m_next;
        return true;
    }
    /// How much of the sheet the reader has read, 0 to 1000.
    int progress() const { return m_progress.load(std::memory_order_relaxed); }
    /// Stops the reading and waits for its thread: the reader is the caller's again.
    void stop()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stopped = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    struct Row
    {
        int number;
        QStringList cells;
    };
    // Rows are handed over a batch at a time; a batch ends at kBatchRows rows or once its
    // cells hold kBatchChars characters, and at most kBatches wait.
    static constexpr size_t kBatchRows = 64;
    static constexpr qsizetype kBatchChars = 1 << 20;
    static constexpr size_t kBatches = 4;

    void run()
    {
        try {
            std::vector<Row> batch;
            qsizetype chars = 0;
            for (;;) {
                int number = 0;
                QStringList cells;
                const bool more = m_book.nextRow(number, cells);
                m_progress.store(m_book.progress(), std::memory_order_relaxed);
                if (more) {
                    for (const QString &cell : std::as_const(cells))
                        chars += cell.size();
                    batch.push_back({number, std::move(cells)});
                }
                if (more && batch.size() < kBatchRows && chars < kBatchChars)
                    continue;
                std::deque<std::vector<Row>> spent;
                {
                    std::unique_lock lock(m_mutex);
                    m_changed.wait(lock, [this] { return m_stopped || m_ready.size() < kBatches; });
                    if (m_stopped)
                        return;
                    if (!batch.empty())
                        m_ready.push_back(std::move(batch));
                    spent.swap(m_spent);
                    m_ended = !more;
                    m_changed.notify_all();
                }
                batch = {};
                chars = 0;
                if (!more)
                    return;
            }
        } catch (...) {
            // Whatever the reader threw goes to the import's thread, which throws it again
            // where importFile() turns it into the file's outcome.
            const std::lock_guard lock(m_mutex);
            m_failure = std::current_exception();
            m_ended = true;
            m_changed.notify_all();
        }
    }

    zq::platform::WorkbookReader &m_book;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<Row>> m_ready;
    std::deque<std::vector<Row>> m_spent; // rows the import is done with
    bool m_ended = false;
    bool m_stopped = false;
    std::exception_ptr m_failure;
    std::atomic<int> m_progress{0};
    std::vector<Row> m_taken; // the consumer's batch
    size_t m_next = 0;
    std::thread m_thread; // last: it starts once the rest is in place
};

ImportFileResult importWorkbook(HolderImport &run,
                                const QString &path,
                                const ImportProgress &progress,
                                ProgressAccess access)
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
    LineCount lines;
    int row = 0;
    QStringList cells;
    RowFeed feed(book);
    while (feed.next(row, cells)) {
        if (cells.size() > codes + 1)
            cells.resize(codes + 1);
        while (cells.size() < codes)
            cells.append(QString());
        const bool blank = std::all_of(cells.cbegin(), cells.cend(), [](const QString &cell) {
            return valueText(cell).isEmpty();
        });
        if (run.options().separator == u',') {
            const HolderImport::Outcome outcome = run.importCells(cells, row + 1);
            if (!blank)
                lines.judged(run, outcome);
        } else {
            // Split at another separator, the row joined with commas is what it always was.
            QString line;
            for (const QString &text : std::as_const(cells)) {
                // Quoted where it must be, so that a comma or a line end in a cell stays in it.
                line += quotedField(valueText(text), u',');
                line += QLatin1Char(',');
            }
            const HolderImport::Outcome outcome = run.importLine(line, row + 1);
            if (!blank)
                lines.judged(run, outcome);
        }
        if (!run.canContinue()) {
            result = stopped(run);
            break;
        }
        if (!progressed(run, progress, access, feed.progress(), 1000)) {
            result.status = ImportFileResult::Status::Cancelled;
            break;
        }
    }
    feed.stop();
    if (result.status == ImportFileResult::Status::Complete && !book.errorText().isEmpty())
        result = {ImportFileResult::Status::Unreadable, book.errorText()};
    book.close();
    return ended(run, lines.verdict(result));
}

} // namespace

ImportFileResult importFile(HolderImport &run,
                            const QString &path,
                            ImportFileKind kind,
                            const ImportProgress &progress,
                            ProgressAccess access)
{
    try {
        return kind == ImportFileKind::Workbook ? importWorkbook(run, path, progress, access)
                                                : importText(run, path, progress, access);
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
