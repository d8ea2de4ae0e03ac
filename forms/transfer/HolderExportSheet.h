#pragma once

#include "HolderExport.h"

#include <QStringList>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zq::platform {
class WorkbookWriter;
}

namespace zq::transfer {

// Puts exported rows into a workbook's sheet on a thread of its own, so that the library
// formats the cells of one batch of rows while the caller reads the next. Rows are copied
// into batches of their UTF-8 bytes; the thread is the only user of the workbook until
// finish() or stop() returns.
class SheetCellWriter
{
public:
    explicit SheetCellWriter(zq::platform::WorkbookWriter &book);
    ~SheetCellWriter();
    SheetCellWriter(const SheetCellWriter &) = delete;
    SheetCellWriter &operator=(const SheetCellWriter &) = delete;

    // Queues the cells of sheet row `row`; false once a cell could not be written.
    bool addRow(int row, const QList<ExportValue> &values);
    // Waits until every queued cell is in the sheet; false when one could not be written
    // (the workbook's errorText() says why).
    bool finish();
    // Drops the queued cells and waits for the thread.
    void stop();

private:
    struct Batch
    {
        struct Cell
        {
            int row;
            int column;
            size_t offset; // of the bytes, followed by a NUL
            size_t size;
            int text; // index in `texts` of a value that came as characters, or -1
        };
        std::string bytes;
        std::vector<Cell> cells;
        QStringList texts;
        int rows = 0;
    };
    void run();
    void send();
    std::unique_ptr<Batch> takeFree();

    zq::platform::WorkbookWriter &m_book;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<Batch>> m_full;
    std::vector<std::unique_ptr<Batch>> m_free;
    std::unique_ptr<Batch> m_filling;
    bool m_done = false;     // no more batches come
    bool m_stopping = false; // the queued ones are to be dropped
    bool m_failed = false;   // a cell was refused; the thread stopped
    std::thread m_thread;
};

} // namespace zq::transfer
