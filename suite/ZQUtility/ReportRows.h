#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

namespace zq::data {
class Connection;
class TextRows;
} // namespace zq::data

namespace zq::suite {

/// The rows of one statement, read one at a time and forgotten again, so that a report over a
/// large site never holds the whole result.
class ReportRows
{
public:
    /// Runs `statement` on `connection`; `error` says why when `isOpen()` is false afterwards.
    /// A failure is also left in the connection's error list, as every statement does.
    ReportRows(zq::data::Connection &connection, const QString &statement);
    ~ReportRows();

    bool isOpen() const { return m_open; }
    QString error() const { return m_error; }
    /// Moves to the next row; false after the last.
    bool next();

    /// The column called `name` (without regard to case: PostgreSQL folds names); -1 if none.
    int indexOf(const QString &name) const;
    QVariant value(int column) const;
    QByteArray bytes(int column) const;

private:
    bool openDirect(zq::data::Connection &connection, const QString &statement);

    QSqlQuery m_query;
    // SQLite: the statement stepped on the driver's handle, which converts only the values
    // asked for rather than every column of every row.
    std::unique_ptr<zq::data::TextRows> m_direct;
    QStringList m_names;
    bool m_open = false;
    QString m_error;
};

/// Opens the report's statement afresh; a report printed with its page total reads it twice.
using RowSource = std::function<std::unique_ptr<ReportRows>()>;

/// What the fixed pieces of a report text come to at the moment of printing.
struct TextContext
{
    std::function<QString(const QString &key)> language; ///< "{@Key}"
    QString printed;                                     ///< "{@Printed}"
    QString page;                                        ///< "{@Page}", changes with the page
};

/// A text of a template with its "{Field}", "{Field:date}", "{Field:datetime}" and "{@Key}"
/// pieces bound to the columns of one row set; "{{" stands for a brace.
class BoundText
{
public:
    BoundText() = default;
    BoundText(const QString &text, const ReportRows *rows);

    QString render(const ReportRows *rows, const TextContext &context) const;
    bool isEmpty() const { return m_parts.empty(); }
    /// Whether the text holds "{@Page}", which changes from page to page.
    bool usesPage() const;

private:
    enum class Kind { Literal, Field, Date, DateTime, Language, Printed, Page };
    struct Part
    {
        Kind kind;
        QString text;
        int column = -1;
    };
    std::vector<Part> m_parts;
};

/// The printable text of a column value: NULL as "", date-times as "yyyy-MM-dd HH:mm:ss",
/// whole numbers without decimals, blobs as nothing.
QString reportText(const QVariant &value);
/// A date-time value, or a text that holds one, as `format`; other values as reportText.
QString reportDateText(const QVariant &value, const QString &format);

} // namespace zq::suite
