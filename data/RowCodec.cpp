#include "RowCodec.h"

#include <cstring>

namespace zq::data {

namespace {

using Kind = PackedCell::Kind;

constexpr unsigned char tag(Kind kind)
{
    return static_cast<unsigned char>(kind);
}

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

// Reads the cell at `p` and moves `p` past it.
PackedCell readCell(const char *&p)
{
    PackedCell c;
    c.kind = static_cast<Kind>(*p++);
    switch (c.kind) {
    case Kind::Null:
        break;
    case Kind::Int32:
        c.integer = getRaw<qint32>(p);
        break;
    case Kind::Side:
        c.integer = getRaw<quint32>(p);
        break;
    case Kind::Int64:
        c.integer = getRaw<qint64>(p);
        break;
    case Kind::Double:
        c.real = getRaw<double>(p);
        break;
    case Kind::Latin1:
    case Kind::DbText:
        c.size = getLength(p);
        c.text = p;
        p += c.size;
        break;
    case Kind::Utf16:
        c.size = getLength(p);
        c.text = p;
        p += 2 * c.size;
        break;
    case Kind::WallClock:
        c.integer = getRaw<qint64>(p);
        c.msecs = getRaw<qint32>(p);
        break;
    }
    return c;
}

} // namespace

RowSink::~RowSink() = default;

bool RowCodec::isAscii(const char *p, size_t n)
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

// "yyyy-MM-dd HH:mm:ss" (or with 'T'), possibly followed by more: the form both engines
// write. Anything else takes the general parser.
bool RowCodec::splitDateTime(const char *p, size_t n, QDate &date, QTime &time)
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

QDateTime RowCodec::parseDateTime(const QString &text)
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

QVariant RowCodec::fromDatabase(const QVariant &value, FieldKind kind)
{
    if (!value.isValid() || value.isNull())
        return QVariant();
    if (kind != FieldKind::DateTime)
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
}

// Writes `text` as Latin-1 when every character fits, else as UTF-16.
void RowCodec::putText(unsigned char latin1Tag, const QString &text)
{
    std::vector<char> &out = m_row;
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
            out.push_back(char(tag(Kind::Utf16)));
            putLength(out, size_t(n));
            const size_t wide = out.size();
            out.resize(wide + size_t(n) * 2);
            std::memcpy(out.data() + wide, chars, size_t(n) * 2);
            return;
        }
        dst[i] = char(c);
    }
}

void RowCodec::putNull()
{
    m_row.push_back(char(tag(Kind::Null)));
}

void RowCodec::putInt32(qint32 value)
{
    m_row.push_back(char(tag(Kind::Int32)));
    putRaw<qint32>(m_row, value);
}

void RowCodec::putInt64(qint64 value)
{
    m_row.push_back(char(tag(Kind::Int64)));
    putRaw<qint64>(m_row, value);
}

void RowCodec::putWallClock(const QDate &date, const QTime &time)
{
    m_row.push_back(char(tag(Kind::WallClock)));
    putRaw<qint64>(m_row, date.toJulianDay());
    putRaw<qint32>(m_row, time.msecsSinceStartOfDay());
}

void RowCodec::putSide(const QVariant &value)
{
    m_row.push_back(char(tag(Kind::Side)));
    putRaw<quint32>(m_row, quint32(m_side.size()));
    m_side.append(value);
}

void RowCodec::put(const QVariant &value)
{
    if (!value.isValid() || value.isNull()) {
        putNull();
        return;
    }
    switch (value.metaType().id()) {
    case QMetaType::QString: {
        const QString *text = static_cast<const QString *>(value.constData());
        if (!text->isNull()) {
            putText(tag(Kind::Latin1), *text);
            return;
        }
        break;
    }
    case QMetaType::Int:
        putInt32(*static_cast<const int *>(value.constData()));
        return;
    case QMetaType::LongLong:
        putInt64(*static_cast<const qlonglong *>(value.constData()));
        return;
    case QMetaType::Double:
        m_row.push_back(char(tag(Kind::Double)));
        putRaw<double>(m_row, *static_cast<const double *>(value.constData()));
        return;
    default:
        break;
    }
    putSide(value);
}

void RowCodec::putColumn(const QVariant &value, FieldKind kind)
{
    if (kind == FieldKind::DateTime)
        putDateTime(value);
    else
        put(value);
}

// A date-time column's value as the driver gave it; read back as fromDatabase would have
// converted it.
void RowCodec::putDateTime(const QVariant &value)
{
    if (!value.isValid() || value.isNull()) {
        putNull();
        return;
    }
    if (value.metaType().id() == QMetaType::QString) {
        const QString &text = *static_cast<const QString *>(value.constData());
        const size_t start = m_row.size();
        putText(tag(Kind::DbText), text);
        if (static_cast<unsigned char>(m_row[start]) == tag(Kind::DbText)) {
            const char *p = m_row.data() + start + 1;
            const size_t n = getLength(p);
            QDate date;
            QTime time;
            if (splitDateTime(p, n, date, time))
                return;
        }
        m_row.resize(start);
    } else if (value.metaType().id() == QMetaType::QDateTime) {
        const QDateTime &dt = *static_cast<const QDateTime *>(value.constData());
        const QDate date = dt.date();
        const QTime time = dt.time();
        if (date.isValid() && time.isValid()) {
            putWallClock(date, time);
            return;
        }
    }
    put(fromDatabase(value, FieldKind::DateTime));
}

void RowCodec::putAscii(const char *text, size_t n, bool dateTime)
{
    const size_t start = m_row.size();
    m_row.push_back(char(tag(dateTime ? Kind::DbText : Kind::Latin1)));
    putLength(m_row, n);
    m_row.insert(m_row.end(), text, text + n);
    if (!dateTime)
        return;
    QDate date;
    QTime time;
    if (splitDateTime(text, n, date, time))
        return;
    m_row.resize(start);
    putDateTime(QString::fromLatin1(text, qsizetype(n)));
}

PackedCell RowCodec::cell(const char *row, int column)
{
    const char *p = row;
    for (int i = 0; i < column; ++i)
        readCell(p);
    return readCell(p);
}

QVariant RowCodec::valueOf(const PackedCell &c) const
{
    switch (c.kind) {
    case Kind::Null:
        return QVariant();
    case Kind::Int32:
        return QVariant(int(c.integer));
    case Kind::Int64:
        return QVariant(qlonglong(c.integer));
    case Kind::Double:
        return QVariant(c.real);
    case Kind::Latin1:
        return QString::fromLatin1(c.text, qsizetype(c.size));
    case Kind::Utf16: {
        QString text(qsizetype(c.size), Qt::Uninitialized);
        std::memcpy(text.data(), c.text, 2 * c.size);
        return text;
    }
    case Kind::Side:
        return m_side.at(qsizetype(c.integer));
    case Kind::DbText: {
        QDate date;
        QTime time;
        if (splitDateTime(c.text, c.size, date, time)) {
            const QDateTime dt(date, time);
            if (dt.isValid())
                return dt;
        }
        // A wall-clock time that the local zone skips: the general parser decides.
        const QString s = QString::fromLatin1(c.text, qsizetype(c.size));
        const QDateTime dt = parseDateTime(s);
        return dt.isValid() ? QVariant(dt) : QVariant(s);
    }
    case Kind::WallClock:
        return QDateTime(QDate::fromJulianDay(c.integer), QTime::fromMSecsSinceStartOfDay(c.msecs));
    }
    return QVariant();
}

QVariant RowCodec::value(const char *row, int column) const
{
    return valueOf(cell(row, column));
}

QVector<QVariant> RowCodec::values(const char *row, int columns) const
{
    QVector<QVariant> result;
    result.reserve(columns);
    const char *p = row;
    for (int i = 0; i < columns; ++i)
        result.append(valueOf(readCell(p)));
    return result;
}

} // namespace zq::data
