#pragma once

#include "zqdata_export.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <QVariant>
#include <QVector>

#include <vector>

namespace zq::data {

enum class FieldKind { Plain, Blob, DateTime };

/// One value of a packed row, as it lies in the row's bytes.
struct PackedCell
{
    enum class Kind : unsigned char {
        Null,
        Int32,
        Int64,
        Double,
        Latin1,    // `text`, `size` bytes
        Utf16,     // `text`, `size` UTF-16 code units
        Side,      // `integer`: index of a value kept as a QVariant
        DbText,    // `text`, `size` bytes: a date-time column's text as the database gave it
        WallClock, // `integer`: Julian day, `msecs`: milliseconds since midnight
    };
    Kind kind = Kind::Null;
    const char *text = nullptr;
    size_t size = 0;
    qint64 integer = 0;
    double real = 0;
    qint32 msecs = 0;
};

/// Packs the values of a row into one run of bytes and reads them back.
///
/// A listing of a hundred thousand holders must not cost a QVariant, a QString and a
/// date-time conversion for every value before the first row is shown: each value is a tag
/// byte and its payload (texts as Latin-1 when they fit), and a QVariant is made only for
/// the value that is asked for. Date-time texts of the database are kept as they came and
/// converted when read, because making a local QDateTime asks the C library for the zone
/// rules every time. Blobs and rare types stay QVariants on the side, so a photo is shared
/// with the driver instead of copied.
class ZQDATA_EXPORT RowCodec
{
public:
    /// Starts a new row; the bytes of the one before are dropped.
    void beginRow() { m_row.clear(); }
    /// The bytes of the row made since `beginRow()`.
    const std::vector<char> &row() const { return m_row; }

    /// A value as it is to be read back.
    void put(const QVariant &value);
    void putNull();
    void putInt32(qint32 value);
    void putInt64(qint64 value);
    /// A wall-clock date-time (both valid).
    void putWallClock(const QDate &date, const QTime &time);
    /// A column's value as a driver or an engine gave it; a date-time column's is read back
    /// as `fromDatabase` converts it.
    void putColumn(const QVariant &value, FieldKind kind);
    /// Text of ASCII characters only, as `putColumn` writes the same text.
    void putAscii(const char *text, size_t size, bool dateTime);

    /// The value of `column` of a packed row.
    QVariant value(const char *row, int column) const;
    /// The first `columns` values of a packed row.
    QVector<QVariant> values(const char *row, int columns) const;
    QVariant valueOf(const PackedCell &cell) const;
    /// The cell of `column` of a packed row, without making its value.
    static PackedCell cell(const char *row, int column);

    /// A value of a date-time column as the store reads it: a wall-clock QDateTime
    /// whatever zone the driver attached, a date at its midnight, a text parsed.
    static QVariant fromDatabase(const QVariant &value, FieldKind kind);
    /// "yyyy-MM-dd HH:mm:ss" (or with 'T', or to the minute, or a bare date); invalid for
    /// anything else.
    static QDateTime parseDateTime(const QString &text);
    /// The date and time of "yyyy-MM-dd HH:mm:ss" (or with 'T'), possibly followed by more.
    static bool splitDateTime(const char *text, size_t size, QDate &date, QTime &time);
    static bool isAscii(const char *text, size_t size);

private:
    void putDateTime(const QVariant &value);
    void putText(unsigned char latin1Tag, const QString &text);
    void putSide(const QVariant &value);
    std::vector<char> m_row;
    QVector<QVariant> m_side;
};

/// Where a backend puts the rows it reads: the field list first, then the rows, each made
/// in the codec that `beginRow()` hands out.
class ZQDATA_EXPORT RowSink
{
public:
    virtual ~RowSink();
    virtual void addField(const QString &name, FieldKind kind) = 0;
    virtual int fieldCount() const = 0;
    virtual FieldKind fieldKind(int column) const = 0;
    /// The codec of the next row, emptied.
    virtual RowCodec &beginRow() = 0;
    /// Keeps the row made since `beginRow()` as the last row.
    virtual void endRow() = 0;
    /// Drops the fields and rows put so far (a way that gave up, for the next to begin).
    virtual void clear() = 0;
};

} // namespace zq::data
