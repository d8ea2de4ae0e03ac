#pragma once

#include "zqdata_export.h"

#include "Backend.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QVariant>

#include <memory>

namespace zq::data {

class Connection;

/// The rows of one SELECT read forward, each value as the UTF-8 bytes the engine holds,
/// without a QVariant or a QString per value (the cost that dominates reading a large
/// result through Qt's drivers), through the connection's backend.
///
/// SQLite's backend steps the statement on the driver's own handle; PostgreSQL's sends it
/// as `COPY (statement) TO STDOUT` on the driver's connection; the reference backend, and
/// any backend for a statement its own way cannot read (counted as a fallback), reads
/// through Qt's driver. Where a value is anything but text (an SQLite number or blob, a
/// PostgreSQL date-time), `value()` gives it over exactly as `QSqlQuery::value()` would, so
/// callers keep one rule for every value.
///
/// A failure fills the connection's error list as a failed statement does (a lost link
/// closes it, and the next command connects again).
class ZQDATA_EXPORT TextRows
{
public:
    explicit TextRows(Connection *connection);
    ~TextRows();
    TextRows(const TextRows &) = delete;
    TextRows &operator=(const TextRows &) = delete;

    /// Runs `sql`, one SELECT. False when it failed (`errorText()` says why) or when the
    /// connection is not open (`unavailable()` true, nothing was run).
    bool exec(const QString &sql);
    bool unavailable() const { return m_unavailable; }
    /// The next row; false at the end or on a failure (`failed()`).
    bool next();
    bool failed() const { return !m_rows.error.isEmpty(); }
    QString errorText() const { return m_rows.error; }
    /// Stops reading before the end; the connection is ready for other statements after.
    void finish();

    int columnCount() const { return int(m_rows.cells.size()); }
    bool isNull(int column) const { return m_rows.cells.at(column).null; }
    /// True when `column` holds text whose bytes `text()` gives (also for NULL, as empty).
    bool isText(int column) const { return m_rows.cells.at(column).text; }
    /// The UTF-8 bytes of a text value, followed by a NUL; valid until the next row.
    QByteArrayView text(int column) const
    {
        const TextCell &c = m_rows.cells.at(column);
        return QByteArrayView(m_rows.row.data() + c.offset, c.size);
    }
    /// The value as Qt's driver hands it over.
    QVariant value(int column) const;
    /// The name of `column` as Qt's driver gives it in the statement's record; "" once the
    /// rows are read to their end on SQLite.
    QString columnName(int column) const;

private:
    Connection *m_connection;
    TextRowBuffer m_rows;
    std::unique_ptr<TextCursor> m_cursor;
    bool m_unavailable = false;
};

/// True when `bytes` is UTF-8 that Qt's and the engines' decoders all read as the same
/// characters, and that Qt writes back as the same bytes: well formed, and free of the
/// byte-order mark and the two non-characters that some decoders replace.
ZQDATA_EXPORT bool isPlainUtf8(QByteArrayView bytes);

} // namespace zq::data
