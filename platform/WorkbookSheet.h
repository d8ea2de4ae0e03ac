#pragma once

#include "WorkbookReader.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <memory>

namespace zq::platform {

// The first worksheet of one file kind behind WorkbookReader, read as a stream of the rows
// that hold a value.
struct WorkbookReader::Sheet
{
    virtual ~Sheet() = default;
    /// Opens the file and places the stream before its first row; false with `error` set
    /// when the workbook cannot be read.
    virtual bool open(const QString &path, QString &error) = 0;
    /// Back before the first row.
    virtual bool rewind(QString &error) = 0;
    /// The next row holding a value: its 0-based number and the texts of its cells from
    /// column A up to its last value (those beyond MaxColumns empty). False at the end of the
    /// sheet (`error` empty) or when the sheet cannot be read further (`error` set).
    virtual bool nextRow(int &row, QStringList &cells, QString &error) = 0;
    /// How much of the sheet has been read, 0 to 1000.
    virtual int progress() const = 0;

    QString dateFormat;
};

std::unique_ptr<WorkbookReader::Sheet> makeXlsxSheet();
std::unique_ptr<WorkbookReader::Sheet> makeXlsSheet();

// What a worksheet can hold: rows and columns of the largest sheet a spreadsheet program
// makes, and the characters of one cell. Anything beyond comes from a damaged or crafted
// file.
constexpr int kSheetRows = 1048576;
constexpr int kSheetColumns = 16384;
constexpr int kCellChars = 32767;

/// Cell value texts shared by both kinds.
QString numberText(double value);
/// A date serial of the spreadsheet's day count (day 0 = `base`) as text: the day alone,
/// with its time when it has one.
QString serialDateText(double serial, const QDate &base, const QString &dateFormat);
QString serialTimeText(double serial);
/// Undoes the workbook escape of characters XML cannot carry: "_x000D_" is a carriage
/// return, "_x005F_" the underscore that starts a literal "_xHHHH_".
QString unescapedText(const QString &text);
/// The escape itself, for the writer.
QString escapedText(const QString &text);

} // namespace zq::platform
