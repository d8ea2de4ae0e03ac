#pragma once

#include <QChar>
#include <QDate>
#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace zq::transfer {

/// What a transfer column holds, which decides how its value is written and read.
enum class ColumnKind { Text, Date, Name };

/// One column of holder transfer files.
struct TransferColumn
{
    QChar code;           ///< '1'..'9', 'A'..'D'
    QString checkName;    ///< the Format panel row ("chkHolderNo")
    QString caption;      ///< its design caption, a language key ("HolderNo")
    QString exportField;  ///< the field of the export statement that the column writes
    QString holderColumn; ///< the HolderData column the import fills
    ColumnKind kind;
};

/// The thirteen columns in their initial Format panel order (codes 1 to 9, then A to D).
const QList<TransferColumn> &transferColumns();
/// The column with `code`, or nullptr.
const TransferColumn *columnOf(QChar code);

/// The Format panel's state without its widgets: the rows top to bottom, their check marks
/// and the selected row.
class FormatOrder
{
public:
    FormatOrder();

    /// Every row checked, in the catalogue order; the HolderNo row selected.
    void reset();
    int rowCount() const { return int(m_codes.size()); }
    QChar codeAt(int row) const { return m_codes.at(row); }
    bool isChecked(int row) const { return m_checked.at(row); }
    void setChecked(int row, bool checked);
    int selected() const { return m_selected; }
    void select(int row);
    /// A click at `x` pixels from the row's left edge: the check-box part (under 26 pixels)
    /// toggles the mark, anywhere else only selects. Both select the row.
    void click(int row, int x);
    /// Swap the selected row with its neighbour; false at the top or bottom.
    bool moveUp();
    bool moveDown();

    /// The codes of the checked rows, top to bottom.
    QString columnOrder() const;

    static constexpr int CheckBoxWidth = 26;

private:
    QList<QChar> m_codes;
    QList<bool> m_checked;
    int m_selected = 0;
};

/// A value as it stands in a file: trimmed of blanks and control characters at both ends.
QString valueText(const QString &text);
/// The part of `text` that valueText() keeps, without a copy.
QStringView trimmedValue(QStringView text);

/// The date format of transfer files: the locale's short date format with a two-digit year
/// widened to four digits; "yyyy-MM-dd" for the C locale.
QString transferDateFormat(const QLocale &locale = QLocale::system());
/// The day that stands for an empty date in a file.
QDate zeroDate();
/// The file text of a date value: its day in `format`; an empty value gives the zero date.
QString dateText(const QDateTime &value, const QString &format);
QString dateText(const QDate &day, const QString &format);
/// The day that `text` reads as in `format`; nothing when it is not a date.
std::optional<QDate> readDate(const QString &text, const QString &format);
std::optional<QDate> readDate(QStringView text, const QString &format);

/// The separators a text file may be split at: comma, semicolon, colon and tab.
QString transferSeparators();

/// The file text of one value in a line split at `separator`: a value that holds the
/// separator, a carriage return or a line feed, or that begins with a double quote, stands
/// between double quotes with its inner quotes doubled; any other value is written as it is,
/// so files of plain values read the same to programs that know no quotes.
QString quotedField(const QString &value, QChar separator = u',');

/// One line of a text file (without its line end): each value text followed by the
/// separator, quoted where it must be.
QString buildLine(const QStringList &values, QChar separator = u',');

/// The fields of `line` split at `separator`: a trailing separator adds no field, two
/// adjacent ones give an empty field. A field is quoted only when it begins with a double
/// quote and a closing quote is followed by the separator or the end of the line; it then
/// gives its inner text, doubled quotes read as one. Any other field is read literally.
QStringList splitFields(const QString &line, QChar separator);

/// A line of a file stripped of blanks and control characters at both ends, except the
/// separator itself (a tab that leads a tab-separated line stands for an empty field).
QString stripLine(const QString &line, QChar separator);

/// True when `text` holds a control character (line ends, tabs, NUL and the like), which a
/// holder number or a code must not.
bool hasControlCharacter(const QString &text);

/// The trimmed fields of `line` for a column order of `codes` codes: padded with one-blank
/// fields when short; nothing when the line has more fields than the order has codes.
std::optional<QStringList> fieldsFor(const QString &line, QChar separator, qsizetype codes);

/// The spreadsheet name of a 0-based column index: A..Z, then AA..ZZ; "" from 702 on.
QString columnName(int column);
/// "A1"-style address of a 0-based row and column ("" beyond ZZ).
QString cellAddress(int row, int column);

} // namespace zq::transfer
