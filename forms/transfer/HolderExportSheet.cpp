#include "HolderExportSheet.h"

#include "WorkbookWriter.h"

namespace zq::transfer {

namespace {

// Rows per batch and batches on their way: enough to keep both threads busy, little memory.
constexpr int kBatchRows = 256;
constexpr size_t kBatchesInFlight = 4;

} // namespace

SheetCellWriter::SheetCellWriter(zq::platform::WorkbookWriter &book)
    : m_book(book)
    , m_filling(std::make_unique<Batch>())
    , m_thread([this] { run(); })
{}

SheetCellWriter::~SheetCellWriter()
{
    stop();
}

std::unique_ptr<SheetCellWriter::Batch> SheetCellWriter::takeFree()
{
    // Called with the lock held.
    if (m_free.empty())
        return std::make_unique<Batch>();
    std::unique_ptr<Batch> batch = std::move(m_free.back());
    m_free.pop_back();
    return batch;
}

bool SheetCellWriter::addRow(int row, const QList<ExportValue> &values)
{
    Batch &b = *m_filling;
    for (int column = 0; column < values.size(); ++column) {
        const ExportValue &v = values.at(column);
        if (v.text) {
            b.cells.push_back({row, column, 0, 0, int(b.texts.size())});
            b.texts << *v.text;
            continue;
        }
        if (v.utf8.isEmpty())
            continue; // an empty cell is not written
        b.cells.push_back({row, column, b.bytes.size(), size_t(v.utf8.size()), -1});
        b.bytes.append(v.utf8.data(), size_t(v.utf8.size()));
        b.bytes.push_back('\0');
    }
    if (++b.rows >= kBatchRows)
        send();
    std::lock_guard lock(m_mutex);
    return !m_failed;
}

void SheetCellWriter::send()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_full.size() < kBatchesInFlight || m_failed; });
    if (m_failed)
        return;
    m_full.push_back(std::move(m_filling));
    m_filling = takeFree();
    m_changed.notify_all();
}

void SheetCellWriter::run()
{
    for (;;) {
        std::unique_ptr<Batch> batch;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return !m_full.empty() || m_done || m_stopping; });
            if (m_stopping || m_full.empty())
                return;
            batch = std::move(m_full.front());
            m_full.pop_front();
            m_changed.notify_all();
        }
        bool ok = true;
        for (const Batch::Cell &c : batch->cells) {
            ok = c.text >= 0 ? m_book.setCell(c.row, c.column, batch->texts.at(c.text))
                             : m_book.setCellUtf8(
                                 c.row,
                                 c.column,
                                 QByteArrayView(batch->bytes.data() + c.offset, qsizetype(c.size)));
            if (!ok)
                break;
        }
        batch->bytes.clear();
        batch->cells.clear();
        batch->texts.clear();
        batch->rows = 0;
        std::lock_guard lock(m_mutex);
        m_free.push_back(std::move(batch));
        if (!ok) {
            m_failed = true;
            m_changed.notify_all();
            return;
        }
    }
}

bool SheetCellWriter::finish()
{
    if (m_filling && m_filling->rows > 0)
        send();
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
        m_changed.notify_all();
    }
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard lock(m_mutex);
    return !m_failed;
}

void SheetCellWriter::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_done = true;
        m_changed.notify_all();
    }
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace zq::transfer
