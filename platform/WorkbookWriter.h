#pragma once

#include <QByteArrayView>
#include <QString>

#include <memory>

namespace zq::platform {

/// Writes an Office Open XML workbook with one worksheet, cell by cell, all values as text.
/// Every text reads back as it was given: characters XML cannot carry are escaped the
/// way workbooks do ("_x000D_"), and so is a text that reads like such an escape.
///
/// The calls follow the order create, first sheet, cells, save as, close. Rows are kept in
/// memory one at a time, so the cells go in row order: a cell for a row above the one being
/// written is refused (`setCell` false) rather than dropped. Every failure leaves its
/// reason in `errorText()`; nothing appears at the save path unless the whole workbook was
/// written.
class WorkbookWriter
{
public:
    WorkbookWriter();
    ~WorkbookWriter();
    WorkbookWriter(const WorkbookWriter &) = delete;
    WorkbookWriter &operator=(const WorkbookWriter &) = delete;

    bool create();
    bool selectFirstSheet();
    /// `address` in "A1" form.
    bool setCell(const QString &address, const QString &text);
    /// 0-based row and column.
    bool setCell(int row, int column, const QString &text);
    /// The same for a text in well-formed UTF-8 followed by a NUL (`utf8.data()[size]`),
    /// without a QString where the text needs no escape.
    bool setCellUtf8(int row, int column, QByteArrayView utf8);
    /// Writes the workbook to `path` (replacing a file there) and closes it.
    bool saveAs(const QString &path);
    /// Drops an unsaved workbook.
    void close();

    QString errorText() const { return m_error; }

private:
    // `utf8` as it goes into the sheet, followed by a NUL.
    bool write(int row, int column, QByteArrayView utf8);
    struct State;
    std::unique_ptr<State> m_state;
    QString m_error;
};

} // namespace zq::platform
