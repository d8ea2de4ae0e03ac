#pragma once

#include <QString>

#include <memory>

namespace zq::platform {

/// Reads the first worksheet of a workbook: Office Open XML (.xlsx) or the legacy binary
/// format (.xls), told apart by the file's content, not its name.
///
/// The calls follow the order open, used range, cell texts, close. Cells are given as text:
/// shared and inline strings as they stand, numbers without a trailing ".0", date cells in
/// the date format set with `setDateFormat`. An .xlsx sheet is read as a stream, one row
/// kept at a time: rows are best asked for top to bottom (going back re-reads the sheet).
/// Parts of the file are read up to fixed sizes, so a damaged or crafted workbook ends
/// with an error rather than exhausting memory. Every failure leaves its reason in
/// `errorText()`.
class WorkbookReader
{
public:
    /// Columns beyond ZZ are never addressed; their cells read as empty.
    static constexpr int MaxColumns = 702;

    WorkbookReader();
    ~WorkbookReader();
    WorkbookReader(const WorkbookReader &) = delete;
    WorkbookReader &operator=(const WorkbookReader &) = delete;

    /// The format of date cells (QDate format; "yyyy-MM-dd" unless set).
    void setDateFormat(const QString &format) { m_dateFormat = format; }

    /// Opens the workbook and its first worksheet.
    bool open(const QString &path);
    /// The used range: the rows and columns from its first to its last used cell.
    int usedRowCount() const { return m_rows; }
    int usedColumnCount() const { return m_columns; }
    /// The text of a cell, 0-based; "" for an empty cell. False and an error text when
    /// the sheet cannot be read that far.
    bool cellText(int row, int column, QString &text);
    /// The same by "A1" address.
    bool cellText(const QString &address, QString &text);
    void close();

    QString errorText() const { return m_error; }

    struct Sheet;

private:
    std::unique_ptr<Sheet> m_sheet;
    QString m_dateFormat = QStringLiteral("yyyy-MM-dd");
    QString m_error;
    int m_rows = 0;
    int m_columns = 0;
};

} // namespace zq::platform
