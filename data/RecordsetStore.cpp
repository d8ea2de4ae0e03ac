#include "RecordsetStore.h"

#include "Schema.h"
#include "SortKeys.h"

#include <QByteArray>
#include <QSqlQuery>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <libpq-fe.h>
#include <numeric>
#include <sqlite3.h>

namespace zq::data {

namespace {

// How one value of a packed row is written. Each cell is a tag byte and its payload.
enum Tag : unsigned char {
    Null,      // -
    Int32,     // 4 bytes
    Int64,     // 8 bytes
    Double,    // 8 bytes
    Latin1,    // length, bytes
    Utf16,     // length in code units, 2 bytes each
    Side,      // 4-byte index into the side values
    DbText,    // length, bytes: a date-time column's text as the database gave it
    WallClock, // 8-byte Julian day, 4-byte milliseconds since midnight
};

constexpr size_t kBlockSize = 256 * 1024;
constexpr size_t kFirstBlockSize = 2 * 1024;

void putLength(std::vector<char> &out, size_t n)
{
    while (n >= 0x80) {
        out.push_back(char((n & 0x7f) | 0x80));
        n >>= 7;
    }
    out.push_back(char(n));
}

size_t getLength(const char *&p)
{
    size_t n = 0;
    int shift = 0;
    unsigned char b;
    do {
        b = static_cast<unsigned char>(*p++);
        n |= size_t(b & 0x7f) << shift;
        shift += 7;
    } while (b & 0x80);
    return n;
}

template<typename T>
void putRaw(std::vector<char> &out, T value)
{
    const size_t at = out.size();
    out.resize(at + sizeof(T));
    std::memcpy(out.data() + at, &value, sizeof(T));
}

template<typename T>
T getRaw(const char *&p)
{
    T value;
    std::memcpy(&value, p, sizeof(T));
    p += sizeof(T);
    return value;
}

// Writes `text` as Latin-1 when every character fits, else as UTF-16.
void putText(std::vector<char> &out, Tag latin1Tag, const QString &text)
{
    const qsizetype n = text.size();
    const QChar *chars = text.constData();
    const size_t start = out.size();
    out.push_back(char(latin1Tag));
    putLength(out, size_t(n));
    const size_t at = out.size();
    out.resize(at + size_t(n));
    char *dst = out.data() + at;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = chars[i].unicode();
        if (c > 0xff) {
            out.resize(start);
            out.push_back(char(Utf16));
            putLength(out, size_t(n));
            const size_t wide = out.size();
            out.resize(wide + size_t(n) * 2);
            std::memcpy(out.data() + wide, chars, size_t(n) * 2);
            return;
        }
        dst[i] = char(c);
    }
}

int digits(const char *p, int count)
{
    int v = 0;
    for (int i = 0; i < count; ++i)
        v = v * 10 + (p[i] - '0');
    return v;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// "yyyy-MM-dd HH:mm:ss" (or with 'T'), possibly followed by more: the form both engines
// write. Anything else takes the general parser.
bool splitDateTime(const char *p, size_t n, QDate &date, QTime &time)
{
    if (n < 19)
        return false;
    static const char shape[] = "dddd-dd-dd?dd:dd:dd";
    for (int i = 0; i < 19; ++i) {
        const char want = shape[i];
        if (want == 'd') {
            if (!isDigit(p[i]))
                return false;
        } else if (want == '?') {
            if (p[i] != ' ' && p[i] != 'T')
                return false;
        } else if (p[i] != want) {
            return false;
        }
    }
    date = QDate(digits(p, 4), digits(p + 5, 2), digits(p + 8, 2));
    time = QTime(digits(p + 11, 2), digits(p + 14, 2), digits(p + 17, 2));
    return date.isValid() && time.isValid();
}

bool isAscii(const char *p, size_t n)
{
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        quint64 word;
        std::memcpy(&word, p + i, 8);
        if (word & 0x8080808080808080ULL)
            return false;
    }
    for (; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) >= 0x80)
            return false;
    return true;
}

QString latin1At(const char *p, size_t n)
{
    return QString::fromLatin1(p, qsizetype(n));
}

void skipCell(const char *&p)
{
    switch (static_cast<unsigned char>(*p++)) {
    case Null:
        return;
    case Int32:
    case Side:
        p += 4;
        return;
    case Int64:
    case Double:
        p += 8;
        return;
    case Latin1:
    case DbText: {
        const size_t n = getLength(p);
        p += n;
        return;
    }
    case Utf16: {
        const size_t n = getLength(p);
        p += 2 * n;
        return;
    }
    case WallClock:
        p += 12;
        return;
    }
}

} // namespace

class RecordsetStore::Encoder
{
public:
    Encoder(std::vector<char> &out, QVector<QVariant> &side)
        : m_out(out)
        , m_side(side)
    {}

    // A value as it is to be read back.
    void put(const QVariant &value)
    {
        if (!value.isValid() || value.isNull()) {
            m_out.push_back(char(Null));
            return;
        }
        switch (value.metaType().id()) {
        case QMetaType::QString: {
            const QString *text = static_cast<const QString *>(value.constData());
            if (!text->isNull()) {
                putText(m_out, Latin1, *text);
                return;
            }
            break;
        }
        case QMetaType::Int:
            m_out.push_back(char(Int32));
            putRaw<qint32>(m_out, *static_cast<const int *>(value.constData()));
            return;
        case QMetaType::LongLong:
            m_out.push_back(char(Int64));
            putRaw<qint64>(m_out, *static_cast<const qlonglong *>(value.constData()));
            return;
        case QMetaType::Double:
            m_out.push_back(char(Double));
            putRaw<double>(m_out, *static_cast<const double *>(value.constData()));
            return;
        default:
            break;
        }
        putSide(value);
    }

    // A column's value as the driver or the engine gave it.
    void putColumn(const QVariant &value, bool dateTime, const RecordsetStore &store, int column)
    {
        if (dateTime)
            putDateTime(value, store, column);
        else
            put(value);
    }

    // A date-time column's value as the driver gave it; read back as fromDatabase would
    // have converted it.
    void putDateTime(const QVariant &value, const RecordsetStore &store, int column)
    {
        if (!value.isValid() || value.isNull()) {
            m_out.push_back(char(Null));
            return;
        }
        if (value.metaType().id() == QMetaType::QString) {
            const QString &text = *static_cast<const QString *>(value.constData());
            const size_t start = m_out.size();
            putText(m_out, DbText, text);
            if (static_cast<unsigned char>(m_out[start]) == DbText) {
                const char *p = m_out.data() + start + 1;
                const size_t n = getLength(p);
                QDate date;
                QTime time;
                if (splitDateTime(p, n, date, time))
                    return;
            }
            m_out.resize(start);
        } else if (value.metaType().id() == QMetaType::QDateTime) {
            const QDateTime &dt = *static_cast<const QDateTime *>(value.constData());
            const QDate date = dt.date();
            const QTime time = dt.time();
            if (date.isValid() && time.isValid()) {
                m_out.push_back(char(WallClock));
                putRaw<qint64>(m_out, date.toJulianDay());
                putRaw<qint32>(m_out, time.msecsSinceStartOfDay());
                return;
            }
        }
        put(store.fromDatabase(value, column, Engine::SQLite));
    }

    // Text of ASCII characters only, as `put` or `putDateTime` writes the same text.
    void putAscii(
        const char *text, size_t n, bool dateTime, const RecordsetStore &store, int column)
    {
        const size_t start = m_out.size();
        m_out.push_back(char(dateTime ? DbText : Latin1));
        putLength(m_out, n);
        m_out.insert(m_out.end(), text, text + n);
        if (!dateTime)
            return;
        QDate date;
        QTime time;
        if (splitDateTime(text, n, date, time))
            return;
        m_out.resize(start);
        putDateTime(QString::fromLatin1(text, qsizetype(n)), store, column);
    }

private:
    void putSide(const QVariant &value)
    {
        m_out.push_back(char(Side));
        putRaw<quint32>(m_out, quint32(m_side.size()));
        m_side.append(value);
    }

    std::vector<char> &m_out;
    QVector<QVariant> &m_side;
};

RecordsetStore::RecordsetStore() = default;
RecordsetStore::~RecordsetStore() = default;

void RecordsetStore::addField(const QString &name, FieldKind kind)
{
    const QString key = name.toLower();
    if (!index.contains(key))
        index.insert(key, int(names.size()));
    names << name;
    kinds << kind;
}

// Blocks start small, since most queries of a window read a row or a few, and double up
// to kBlockSize for listings.
const char *RecordsetStore::store(const std::vector<char> &bytes)
{
    const size_t n = bytes.size();
    char *at;
    if (n > kBlockSize / 4) {
        m_blocks.emplace_back(new char[n]);
        at = m_blocks.back().get();
    } else {
        if (n > m_left) {
            const size_t grown = m_nextBlock == 0 ? kFirstBlockSize : m_nextBlock * 2;
            m_nextBlock = std::min(kBlockSize, std::max(grown, 4 * n));
            m_blocks.emplace_back(new char[m_nextBlock]);
            m_free = m_blocks.back().get();
            m_left = m_nextBlock;
        }
        at = m_free;
        m_free += n;
        m_left -= n;
    }
    std::memcpy(at, bytes.data(), n);
    return at;
}

void RecordsetStore::fetchAll(QSqlQuery &query)
{
    const int columns = int(names.size());
    std::vector<bool> dateTime(static_cast<size_t>(columns));
    for (int i = 0; i < columns; ++i)
        dateTime[size_t(i)] = kinds.at(i) == FieldKind::DateTime;
    Encoder encoder(m_scratch, m_side);
    while (query.next()) {
        m_scratch.clear();
        for (int i = 0; i < columns; ++i) {
            encoder.putColumn(query.value(i), dateTime[size_t(i)], *this, i);
        }
        keepRow();
    }
}

// The driver hands over integers as 64-bit numbers, reals as doubles (at the precision
// policies that keep them), blobs as bytes, NULL as a null text and text as UTF-16 from the
// engine. Text of ASCII characters only is the same in every encoding, so it is taken as the
// engine's UTF-8 bytes without a QString; other text takes the driver's way.
bool RecordsetStore::fetchSQLite(sqlite3_stmt *statement, int step)
{
    const int columns = int(names.size());
    Encoder encoder(m_scratch, m_side);
    for (; step == SQLITE_ROW; step = sqlite3_step(statement)) {
        m_scratch.clear();
        for (int i = 0; i < columns; ++i) {
            const bool dateTime = kinds.at(i) == FieldKind::DateTime;
            QVariant value;
            switch (sqlite3_column_type(statement, i)) {
            case SQLITE_NULL:
                m_scratch.push_back(char(Null));
                continue;
            case SQLITE_INTEGER:
                if (!dateTime) {
                    m_scratch.push_back(char(Int64));
                    putRaw<qint64>(m_scratch, sqlite3_column_int64(statement, i));
                    continue;
                }
                value = QVariant(qlonglong(sqlite3_column_int64(statement, i)));
                break;
            case SQLITE_FLOAT:
                value = QVariant(sqlite3_column_double(statement, i));
                break;
            case SQLITE_BLOB:
                value = QByteArray(static_cast<const char *>(sqlite3_column_blob(statement, i)),
                                   sqlite3_column_bytes(statement, i));
                break;
            default: {
                const auto *text = reinterpret_cast<const char *>(
                    sqlite3_column_text(statement, i));
                const int size = sqlite3_column_bytes(statement, i);
                if (text && isAscii(text, size_t(size))) {
                    encoder.putAscii(text, size_t(size), dateTime, *this, i);
                    continue;
                }
                value = QString(static_cast<const QChar *>(sqlite3_column_text16(statement, i)),
                                sqlite3_column_bytes16(statement, i) / qsizetype(sizeof(QChar)));
                break;
            }
            }
            encoder.putColumn(value, dateTime, *this, i);
        }
        keepRow();
    }
    return step == SQLITE_DONE;
}

namespace {

// How Qt's PostgreSQL driver turns the text of a value of each type into a QVariant.
enum class PgValue { Text, Bool, Int, Int8, Float, Numeric, Date, Time, DateTime, Bytea };

bool pgValueOf(unsigned int oid, PgValue &how)
{
    switch (oid) {
    case 16: // bool
        how = PgValue::Bool;
        return true;
    case 17: // bytea
        how = PgValue::Bytea;
        return true;
    case 18:   // "char"
    case 19:   // name
    case 25:   // text
    case 26:   // oid: the driver mistakes `void`'s number for it, and reads it as text
    case 1042: // bpchar
    case 1043: // varchar
        how = PgValue::Text;
        return true;
    case 20: // int8
        how = PgValue::Int8;
        return true;
    case 21:   // int2
    case 23:   // int4
    case 24:   // regproc
    case 28:   // xid
    case 29:   // cid
    case 2278: // void
        how = PgValue::Int;
        return true;
    case 700: // float4
    case 701: // float8
        how = PgValue::Float;
        return true;
    case 1700:
        how = PgValue::Numeric;
        return true;
    case 702:  // abstime
    case 703:  // reltime
    case 1082: // date
        how = PgValue::Date;
        return true;
    case 1083: // time
    case 1266: // timetz
        how = PgValue::Time;
        return true;
    case 1114: // timestamp
    case 1184: // timestamptz
        how = PgValue::DateTime;
        return true;
    default:
        return false;
    }
}

// A floating-point text as the driver reads it: what does not parse is NaN or an infinity
// by name, or else no value at all.
QVariant pgDouble(const char *text, int size)
{
    bool ok = false;
    double d = QByteArray::fromRawData(text, size).toDouble(&ok);
    if (!ok) {
        if (qstricmp(text, "NaN") == 0)
            d = qQNaN();
        else if (qstricmp(text, "Infinity") == 0)
            d = qInf();
        else if (qstricmp(text, "-Infinity") == 0)
            d = -qInf();
        else
            return QVariant();
    }
    return d;
}

} // namespace

bool RecordsetStore::postgresKind(unsigned int oid, const QString &name, FieldKind &kind)
{
    PgValue how;
    if (!pgValueOf(oid, how))
        return false;
    kind = how == PgValue::Bytea ? FieldKind::Blob
           : how == PgValue::Date || how == PgValue::DateTime || isDateTimeColumn(name)
               ? FieldKind::DateTime
               : FieldKind::Plain;
    return true;
}

// Texts, integers and zone-free timestamps of the usual shape, most of a listing, are packed
// straight from the result's bytes; every other value is made as the driver makes it and
// packed as `fetchAll` packs the driver's value.
void RecordsetStore::fetchPostgres(const pg_result *result, bool numericAsText)
{
    auto *res = const_cast<PGresult *>(result);
    const int columns = int(names.size());
    const int rows = PQntuples(res);
    // A statement's rows come in results of one row each; each column's way is found once.
    if (m_postgresValues.size() != size_t(columns)) {
        m_postgresValues.assign(size_t(columns), 0);
        for (int i = 0; i < columns; ++i) {
            PgValue how = PgValue::Text;
            pgValueOf(PQftype(res, i), how);
            m_postgresValues[size_t(i)] = static_cast<unsigned char>(how);
        }
    }
    Encoder encoder(m_scratch, m_side);
    for (int r = 0; r < rows; ++r) {
        m_scratch.clear();
        for (int i = 0; i < columns; ++i) {
            if (PQgetisnull(res, r, i)) {
                m_scratch.push_back(char(Null));
                continue;
            }
            const char *text = PQgetvalue(res, r, i);
            const int size = PQgetlength(res, r, i);
            const bool dateTime = kinds.at(i) == FieldKind::DateTime;
            QVariant value;
            switch (static_cast<PgValue>(m_postgresValues[size_t(i)])) {
            case PgValue::Text:
                if (isAscii(text, size_t(size))) {
                    encoder.putAscii(text, size_t(size), dateTime, *this, i);
                    continue;
                }
                value = QString::fromUtf8(text, size);
                break;
            case PgValue::Bool:
                value = QVariant(text[0] == 't');
                break;
            case PgValue::Int:
                if (!dateTime) {
                    m_scratch.push_back(char(Int32));
                    putRaw<qint32>(m_scratch, qint32(atoi(text)));
                    continue;
                }
                value = QVariant(atoi(text));
                break;
            case PgValue::Int8: {
                const QByteArray digits = QByteArray::fromRawData(text, size);
                value = text[0] == '-' ? QVariant(digits.toLongLong())
                                       : QVariant(digits.toULongLong());
                break;
            }
            case PgValue::Float:
                value = pgDouble(text, size);
                break;
            case PgValue::Numeric:
                value = numericAsText ? QVariant(QString::fromLatin1(text, size))
                                      : pgDouble(text, size);
                break;
            case PgValue::Date:
                value = QDate::fromString(QString::fromLatin1(text, size), Qt::ISODate);
                break;
            case PgValue::Time:
                value = QTime::fromString(QString::fromLatin1(text, size), Qt::ISODate);
                break;
            case PgValue::DateTime: {
                // The driver's QDateTime of "yyyy-MM-dd HH:mm:ss" (a zone-free timestamp
                // without fractions: one with a zone has its offset after) holds those very
                // fields, which is all the store keeps of it.
                QDate date;
                QTime time;
                if (size == 19 && text[10] == ' '
                    && splitDateTime(text, size_t(size), date, time)) {
                    m_scratch.push_back(char(WallClock));
                    putRaw<qint64>(m_scratch, date.toJulianDay());
                    putRaw<qint32>(m_scratch, time.msecsSinceStartOfDay());
                    continue;
                }
                value = QDateTime::fromString(QString::fromLatin1(text, size), Qt::ISODate)
                            .toLocalTime();
                break;
            }
            case PgValue::Bytea: {
                size_t length = 0;
                unsigned char *bytes = PQunescapeBytea(
                    reinterpret_cast<const unsigned char *>(text), &length);
                value = QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(length));
                PQfreemem(bytes);
                break;
            }
            }
            encoder.putColumn(value, dateTime, *this, i);
        }
        keepRow();
    }
}

void RecordsetStore::appendRow(const QVector<QVariant> &row)
{
    m_scratch.clear();
    Encoder encoder(m_scratch, m_side);
    for (const QVariant &v : row)
        encoder.put(v);
    keepRow();
}

// The packed row in m_scratch becomes the last row, in fetch order.
void RecordsetStore::keepRow()
{
    m_rows.push_back(store(m_scratch));
    sequence.append(nextSequence++);
}

// The replaced bytes stay in their block until the recordset is opened again or closed;
// edits are few next to the fetched rows.
void RecordsetStore::replaceRow(int row, const QVector<QVariant> &values)
{
    m_scratch.clear();
    Encoder encoder(m_scratch, m_side);
    for (const QVariant &v : values)
        encoder.put(v);
    m_rows[size_t(row)] = store(m_scratch);
}

void RecordsetStore::removeRow(int row)
{
    m_rows.erase(m_rows.begin() + row);
    sequence.removeAt(row);
}

namespace {

QVariant decode(const char *&p, const QVector<QVariant> &side)
{
    switch (static_cast<unsigned char>(*p++)) {
    case Null:
        return QVariant();
    case Int32:
        return QVariant(int(getRaw<qint32>(p)));
    case Int64:
        return QVariant(qlonglong(getRaw<qint64>(p)));
    case Double:
        return QVariant(getRaw<double>(p));
    case Latin1: {
        const size_t n = getLength(p);
        const char *text = p;
        p += n;
        return latin1At(text, n);
    }
    case Utf16: {
        const size_t n = getLength(p);
        QString text(qsizetype(n), Qt::Uninitialized);
        std::memcpy(text.data(), p, 2 * n);
        p += 2 * n;
        return text;
    }
    case Side:
        return side.at(qsizetype(getRaw<quint32>(p)));
    case DbText: {
        const size_t n = getLength(p);
        const char *text = p;
        p += n;
        QDate date;
        QTime time;
        if (splitDateTime(text, n, date, time)) {
            const QDateTime dt(date, time);
            if (dt.isValid())
                return dt;
        }
        // A wall-clock time that the local zone skips: the general parser decides.
        const QString s = latin1At(text, n);
        const QDateTime dt = RecordsetStore::parseDateTime(s);
        return dt.isValid() ? QVariant(dt) : QVariant(s);
    }
    case WallClock: {
        const qint64 day = getRaw<qint64>(p);
        const qint32 ms = getRaw<qint32>(p);
        return QDateTime(QDate::fromJulianDay(day), QTime::fromMSecsSinceStartOfDay(ms));
    }
    }
    return QVariant();
}

} // namespace

QVariant RecordsetStore::value(int row, int column) const
{
    const char *p = m_rows[size_t(row)];
    for (int i = 0; i < column; ++i)
        skipCell(p);
    return decode(p, m_side);
}

QVector<QVariant> RecordsetStore::row(int row) const
{
    const int columns = int(names.size());
    QVector<QVariant> values;
    values.reserve(columns);
    const char *p = m_rows[size_t(row)];
    for (int i = 0; i < columns; ++i)
        values.append(decode(p, m_side));
    return values;
}

QDateTime RecordsetStore::parseDateTime(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return QDateTime();
    QDateTime dt = QDateTime::fromString(t.left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!dt.isValid())
        dt = QDateTime::fromString(t.left(19), QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    if (!dt.isValid())
        dt = QDateTime::fromString(t.left(16), QStringLiteral("yyyy-MM-dd HH:mm"));
    if (!dt.isValid()) {
        const QDate d = QDate::fromString(t.left(10), QStringLiteral("yyyy-MM-dd"));
        if (d.isValid())
            dt = d.startOfDay();
    }
    return dt;
}

QVariant RecordsetStore::fromDatabase(const QVariant &value, int column, Engine engine) const
{
    if (!value.isValid() || value.isNull())
        return QVariant();
    if (kinds.at(column) != FieldKind::DateTime)
        return value;
    switch (value.metaType().id()) {
    case QMetaType::QDateTime: {
        // The stored value is a wall-clock time without zone; keep its fields as they are,
        // whatever zone the driver attached while parsing it.
        const QDateTime dt = value.toDateTime();
        return QDateTime(dt.date(), dt.time());
    }
    case QMetaType::QDate:
        return value.toDate().startOfDay();
    default: {
        const QDateTime dt = parseDateTime(value.toString());
        return dt.isValid() ? QVariant(dt) : value;
    }
    }
    Q_UNUSED(engine)
}

// Date-times order by their wall-clock reading, which is what the zone-free columns hold,
// so a sort needs no zone lookup per row.
QVariant RecordsetStore::sortKey(int row, int column) const
{
    const char *p = m_rows[size_t(row)];
    for (int i = 0; i < column; ++i)
        skipCell(p);
    const unsigned char tag = static_cast<unsigned char>(*p);
    if (tag == DbText) {
        const char *q = p + 1;
        const size_t n = getLength(q);
        QDate date;
        QTime time;
        if (splitDateTime(q, n, date, time))
            return QDateTime(date, time, Qt::UTC);
    } else if (tag == WallClock) {
        const char *q = p + 1;
        const qint64 day = getRaw<qint64>(q);
        const qint32 ms = getRaw<qint32>(q);
        return QDateTime(QDate::fromJulianDay(day), QTime::fromMSecsSinceStartOfDay(ms), Qt::UTC);
    }
    const QVariant v = decode(p, m_side);
    if (v.metaType().id() == QMetaType::QDateTime) {
        const QDateTime dt = v.toDateTime();
        return QDateTime(dt.date(), dt.time(), Qt::UTC);
    }
    return v;
}

int RecordsetStore::compareValues(const QVariant &a, const QVariant &b)
{
    const bool an = !a.isValid() || a.isNull();
    const bool bn = !b.isValid() || b.isNull();
    if (an || bn)
        return an == bn ? 0 : (an ? -1 : 1);
    const int ta = a.metaType().id();
    const int tb = b.metaType().id();
    const auto numeric = [](int t) {
        return t == QMetaType::Int || t == QMetaType::LongLong || t == QMetaType::Double
               || t == QMetaType::UInt || t == QMetaType::ULongLong || t == QMetaType::Short
               || t == QMetaType::Float || t == QMetaType::Bool;
    };
    if (numeric(ta) && numeric(tb)) {
        const double x = a.toDouble(), y = b.toDouble();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    if (ta == QMetaType::QDateTime && tb == QMetaType::QDateTime) {
        const QDateTime x = a.toDateTime(), y = b.toDateTime();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    if (ta == QMetaType::QByteArray || tb == QMetaType::QByteArray)
        return a.toByteArray().compare(b.toByteArray());
    const QString x = a.toString(), y = b.toString();
    const int c = x.compare(y, Qt::CaseInsensitive);
    return c != 0 ? c : x.compare(y, Qt::CaseSensitive);
}

namespace {

bool isNumber(int type)
{
    return type == QMetaType::Int || type == QMetaType::LongLong || type == QMetaType::Double
           || type == QMetaType::UInt || type == QMetaType::ULongLong || type == QMetaType::Short
           || type == QMetaType::Float || type == QMetaType::Bool;
}

enum class KeyKind { Unknown, Text, Number, WallClock };

constexpr qint64 kEpochDay = 2440588; // the Julian day of 1970-01-01
constexpr qint64 kMSecsPerDay = 86400000;

// A day far enough from ours that its milliseconds might not fit: the general way decides.
bool plainDay(qint64 day)
{
    return day > kEpochDay - 100000000 && day < kEpochDay + 100000000;
}

} // namespace

// The keys of the values sortKey() gives, as compareValues() orders them. False when a
// column's values are not all of one kind, NULL aside (compareValues then compares numbers
// with texts as texts, and blobs as bytes), or one has no place in the order of the keys (NaN,
// an invalid date-time, a type compared by its text): those rows are sorted by comparing
// their values.
bool RecordsetStore::compactKeys(const QVector<SortKey> &keys,
                                 const std::vector<int> &rows,
                                 SortKeys &out) const
{
    std::vector<KeyKind> kinds(size_t(keys.size()), KeyKind::Unknown);
    out.reserve(rows.size(), rows.size() * 40 * size_t(keys.size()));
    for (const int r : rows) {
        out.beginRow();
        for (qsizetype k = 0; k < keys.size(); ++k) {
            const int column = keys.at(k).column;
            KeyKind &kind = kinds[size_t(k)];
            const auto is = [&kind](KeyKind found) {
                if (kind == KeyKind::Unknown)
                    kind = found;
                return kind == found;
            };
            const auto number = [&](double value) {
                if (std::isnan(value) || !is(KeyKind::Number))
                    return false;
                out.addNumber(value);
                return true;
            };
            const char *p = m_rows[size_t(r)];
            for (int i = 0; i < column; ++i)
                skipCell(p);
            const char *q = p + 1;
            bool made = true;
            bool general = false;
            switch (static_cast<unsigned char>(*p)) {
            case Null:
                out.addNull();
                break;
            case Int32:
                made = number(double(getRaw<qint32>(q)));
                break;
            case Int64:
                made = number(double(getRaw<qint64>(q)));
                break;
            case Double:
                made = number(getRaw<double>(q));
                break;
            case Latin1: {
                const size_t n = getLength(q);
                made = is(KeyKind::Text);
                if (made)
                    out.addLatin1(q, n);
                break;
            }
            case Utf16: {
                const size_t n = getLength(q);
                made = is(KeyKind::Text);
                if (made)
                    out.addUtf16(q, n);
                break;
            }
            case DbText: {
                const size_t n = getLength(q);
                QDate date;
                QTime time;
                general = !splitDateTime(q, n, date, time) || !plainDay(date.toJulianDay());
                if (!general) {
                    made = is(KeyKind::WallClock);
                    if (made)
                        out.addWallClock((date.toJulianDay() - kEpochDay) * kMSecsPerDay
                                         + time.msecsSinceStartOfDay());
                }
                break;
            }
            case WallClock: {
                const qint64 day = getRaw<qint64>(q);
                const qint32 ms = getRaw<qint32>(q);
                general = !plainDay(day);
                if (!general) {
                    made = is(KeyKind::WallClock);
                    if (made)
                        out.addWallClock((day - kEpochDay) * kMSecsPerDay + ms);
                }
                break;
            }
            default:
                general = true;
                break;
            }
            if (general) {
                const QVariant v = sortKey(r, column);
                const int type = v.metaType().id();
                if (!v.isValid() || v.isNull()) {
                    out.addNull();
                } else if (type == QMetaType::QString) {
                    made = is(KeyKind::Text);
                    if (made)
                        out.addText(*static_cast<const QString *>(v.constData()));
                } else if (type == QMetaType::QDateTime) {
                    const QDateTime dt = v.toDateTime();
                    made = dt.isValid() && is(KeyKind::WallClock);
                    if (made)
                        out.addWallClock(dt.toMSecsSinceEpoch());
                } else {
                    made = isNumber(type) && number(v.toDouble());
                }
            }
            if (!made)
                return false;
            if (keys.at(k).descending)
                out.reverseLast();
        }
    }
    return true;
}

// Each key value is unpacked once, not at every comparison.
std::vector<int> RecordsetStore::comparedOrder(const QVector<SortKey> &keys) const
{
    const int count = rowCount();
    std::vector<int> order(static_cast<size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    const qsizetype width = keys.size();
    QVector<QVariant> values(count * width);
    for (int r = 0; r < count; ++r)
        for (qsizetype k = 0; k < width; ++k)
            values[r * width + k] = sortKey(r, keys.at(k).column);
    std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
        for (qsizetype k = 0; k < width; ++k) {
            const int c = compareValues(values.at(x * width + k), values.at(y * width + k));
            if (c != 0)
                return keys.at(k).descending ? c > 0 : c < 0;
        }
        return sequence.at(x) < sequence.at(y);
    });
    return order;
}

// The rows in fetch order (rows of one sequence number as they stand). A sorted listing's
// rows lie in memory as they were fetched: read in this order, a million of them are read
// from one end of their blocks to the other, not each from another place.
std::vector<int> RecordsetStore::fetchOrder() const
{
    const int count = rowCount();
    int most = -1;
    for (const int s : sequence)
        most = std::max(most, s);
    std::vector<int> starts(size_t(most) + 2, 0);
    for (const int s : sequence)
        ++starts[size_t(s) + 1];
    std::partial_sum(starts.begin(), starts.end(), starts.begin());
    std::vector<int> rows(static_cast<size_t>(count));
    for (int r = 0; r < count; ++r)
        rows[size_t(starts[size_t(sequence.at(r))]++)] = r;
    return rows;
}

void RecordsetStore::sortRows(const QVector<SortKey> &keys)
{
    const int count = rowCount();
    std::vector<int> order = fetchOrder();
    if (!keys.isEmpty()) {
        // Keys made in fetch order: rows of equal keys stay in it.
        SortKeys compact;
        if (compactKeys(keys, order, compact)) {
            const std::vector<int> sorted = compact.order();
            std::vector<int> rows(sorted.size());
            for (size_t i = 0; i < sorted.size(); ++i)
                rows[i] = order[size_t(sorted[i])];
            order = std::move(rows);
        } else {
            order = comparedOrder(keys);
        }
    }
    std::vector<const char *> sortedRows;
    QVector<int> sortedSequence;
    sortedRows.reserve(size_t(count));
    sortedSequence.reserve(count);
    for (int i : std::as_const(order)) {
        sortedRows.push_back(m_rows[size_t(i)]);
        sortedSequence.append(sequence.at(i));
    }
    m_rows = std::move(sortedRows);
    sequence = std::move(sortedSequence);
}

} // namespace zq::data
