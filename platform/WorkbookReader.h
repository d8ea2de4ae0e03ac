#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace zq::platform {

/// Reads the first worksheet of a workbook: Office Open XML (.xlsx) or the legacy binary
/// format (.xls), told apart by the file's content, not its name.
///
/// The calls follow the order open, rows (or cell texts), close. Cells are given as text:
/// shared and inline strings as they stand, numbers without a trailing ".0", date cells in
/// the date format set with `setDateFormat`. Cells are placed by their own references: a
/// row that starts in column C gives two empty texts before it, whatever the sheet
/// declares as its range.
///
/// An .xlsx sheet is read as a stream, one row kept at a time; a legacy workbook is read
/// by a separate helper program (`zqxlsread`, next to the library that holds this reader,
/// or the one named by the environment variable ZQ_XLS_READER), limited in memory and
/// time, so that a crafted file cannot reach this process. Everything a file can make the
/// reader spend is bounded (rows, columns, characters per cell and in all, unpacked
/// sizes), and document type declarations are refused, so a damaged or hostile workbook
/// ends with an error rather than exhausting memory or time. Every failure leaves its
/// reason in `errorText()`.
class WorkbookReader
{
public:
    /// Columns beyond ZZ are never addressed; their cells read as empty.
    static constexpr int MaxColumns = 702;

    WorkbookReader();
    ~WorkbookReader();
    WorkbookReader(const WorkbookReader &) = delete;
    WorkbookReader &operator=(const WorkbookReader &) = delete;

    /// How long reading a legacy workbook may take before its helper is stopped (30 s
    /// unless set), for every reader of the process.
    static void setLegacyDeadline(int milliseconds);

    /// The format of date cells (QDate format; "yyyy-MM-dd" unless set).
    void setDateFormat(const QString &format) { m_dateFormat = format; }

    /// Opens the workbook and its first worksheet.
    bool open(const QString &path);

    /// The next row, from the top, that holds a value: its 0-based number and the texts of
    /// its cells from column A up to its last value (texts beyond ZZ empty). False at the end of
    /// the sheet, and false with an error text when the sheet cannot be read further.
    bool nextRow(int &row, QStringList &cells);
    /// How much of the sheet `nextRow` has read, 0 to 1000.
    int progress() const;

    /// The used range, from its first to its last cell holding a value (the range the
    /// sheet declares plays no part). The first call reads the sheet once; 0 and an error
    /// text when that fails.
    int usedRowCount();
    int usedColumnCount();
    /// The text of a cell, 0-based; "" for an empty cell. False and an error text when
    /// the sheet cannot be read that far. Best asked for top to bottom: going back
    /// re-reads the sheet.
    bool cellText(int row, int column, QString &text);
    /// The same by "A1" address.
    bool cellText(const QString &address, QString &text);
    void close();

    QString errorText() const { return m_error; }

    struct Sheet;

private:
    bool measure();
    bool rewind();

    std::unique_ptr<Sheet> m_sheet;
    QString m_dateFormat = QStringLiteral("yyyy-MM-dd");
    QString m_error;
    bool m_measured = false;
    int m_rows = 0;
    int m_columns = 0;
    // Random access by cellText: the row read last, and the one read before it.
    QStringList m_cells;
    int m_row = -1;
    int m_rowBefore = -1;
    bool m_atEnd = false;
};

} // namespace zq::platform
