#include "TransferFormat.h"

#include <QRegularExpression>

namespace zq::transfer {

namespace {

const QString kLetters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ");

bool isBlankOrControl(QChar c)
{
    // Most characters of a file are printable ASCII: no category look-up for them.
    const char16_t u = c.unicode();
    if (u > 0x20 && u < 0x7F)
        return false;
    return u <= 0x20 || QChar::category(char32_t(u)) == QChar::Other_Control;
}

} // namespace

const QList<TransferColumn> &transferColumns()
{
    using K = ColumnKind;
    static const QList<TransferColumn> columns{
        {u'1', "chkHolderNo", "HolderNo", "HolderNo", "HolderNo", K::Text},
        {u'2', "chkHolderName", "HolderName", "HolderName", "HolderName", K::Text},
        {u'3', "chkEmail", "Email", "Email", "Email", K::Text},
        {u'4', "chkBirthday", "Birthday", "Birthday", "Birthday", K::Date},
        {u'5', "chkStartDate", "StartDate", "StartDate", "StartDate", K::Date},
        {u'6', "chkExpiredDate", "ExpiredDate", "ExpiredDate", "ExpiredDate", K::Date},
        {u'7', "chkDefinable1", "Definable1", "Definable1", "Definable1", K::Text},
        {u'8', "chkDefinable2", "Definable2", "Definable2", "Definable2", K::Text},
        {u'9', "chkDescription", "Description", "Description", "Description", K::Text},
        {u'A', "chkDepartmentName", "DepartmentName", "DepartmentName", "DepartmentNo", K::Name},
        {u'B', "chkOccupationTitle", "OccupationTitle", "TitleName", "TitleNo", K::Name},
        {u'C', "chkOccupationType", "OccupationType", "TypeName", "TypeNo", K::Name},
        {u'D', "chkPIN", "PIN", "PIN", "PIN", K::Text},
    };
    return columns;
}

const TransferColumn *columnOf(QChar code)
{
    for (const TransferColumn &c : transferColumns())
        if (c.code == code)
            return &c;
    return nullptr;
}

FormatOrder::FormatOrder()
{
    reset();
}

void FormatOrder::reset()
{
    m_codes.clear();
    m_checked.clear();
    for (const TransferColumn &c : transferColumns()) {
        m_codes << c.code;
        m_checked << true;
    }
    m_selected = 0;
}

void FormatOrder::setChecked(int row, bool checked)
{
    if (row >= 0 && row < rowCount())
        m_checked[row] = checked;
}

void FormatOrder::select(int row)
{
    if (row >= 0 && row < rowCount())
        m_selected = row;
}

void FormatOrder::click(int row, int x)
{
    if (row < 0 || row >= rowCount())
        return;
    m_selected = row;
    if (x < CheckBoxWidth)
        m_checked[row] = !m_checked[row];
}

bool FormatOrder::moveUp()
{
    if (m_selected <= 0)
        return false;
    m_codes.swapItemsAt(m_selected, m_selected - 1);
    m_checked.swapItemsAt(m_selected, m_selected - 1);
    --m_selected;
    return true;
}

bool FormatOrder::moveDown()
{
    if (m_selected >= rowCount() - 1)
        return false;
    m_codes.swapItemsAt(m_selected, m_selected + 1);
    m_checked.swapItemsAt(m_selected, m_selected + 1);
    ++m_selected;
    return true;
}

QString FormatOrder::columnOrder() const
{
    QString order;
    for (int i = 0; i < rowCount(); ++i)
        if (m_checked.at(i))
            order += m_codes.at(i);
    return order;
}

QStringView trimmedValue(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlankOrControl(text[begin]))
        ++begin;
    while (end > begin && isBlankOrControl(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

QString valueText(const QString &text)
{
    const QStringView trimmed = trimmedValue(text);
    return trimmed.size() == text.size() ? text : trimmed.toString();
}

QString transferDateFormat(const QLocale &locale)
{
    if (locale.language() == QLocale::C)
        return QStringLiteral("yyyy-MM-dd");
    QString format = locale.dateFormat(QLocale::ShortFormat);
    // A two-digit year would read a 2005 birthday back as 1905.
    static const QRegularExpression shortYear(QStringLiteral("(?<!y)yy(?!y)"));
    format.replace(shortYear, QStringLiteral("yyyy"));
    return format;
}

QDate zeroDate()
{
    return QDate(1899, 12, 30);
}

namespace {

// A numeric date format as tokens: 'd' day, 'M' month, 'y' year with their widths, and
// the literal separators between them. Formats with names of days or months are left to
// QLocale; numeric ones, the usual short formats, are read and written here, for speed.
struct DateToken
{
    QChar field; // 'd', 'M', 'y' or 0 for a literal
    int width;
    QString literal;
};

std::optional<QList<DateToken>> numericTokens(const QString &format)
{
    QList<DateToken> tokens;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format.at(i);
        qsizetype run = 1;
        while (i + run < format.size() && format.at(i + run) == c)
            ++run;
        if (c == u'd' || c == u'M' || c == u'y') {
            if (run > (c == u'y' ? 4 : 2) || (c == u'y' && run != 4 && run != 2))
                return std::nullopt;
            tokens << DateToken{c, int(run), QString()};
        } else if (c.isLetter() || c == u'\'') {
            return std::nullopt;
        } else {
            tokens << DateToken{QChar(), 0, format.mid(i, run)};
        }
        i += run;
    }
    return tokens;
}

const std::optional<QList<DateToken>> &cachedTokens(const QString &format)
{
    thread_local QString lastFormat;
    thread_local std::optional<QList<DateToken>> last;
    if (format != lastFormat || lastFormat.isNull()) {
        lastFormat = format.isNull() ? QStringLiteral("") : format;
        last = numericTokens(format);
    }
    return last;
}

} // namespace

QString dateText(const QDate &day, const QString &format)
{
    const auto &tokens = cachedTokens(format);
    if (!tokens || !day.isValid())
        return QLocale::c().toString(day, format);
    QString text;
    for (const DateToken &t : *tokens) {
        if (t.field.isNull()) {
            text += t.literal;
            continue;
        }
        const int value = t.field == u'd' ? day.day() : t.field == u'M' ? day.month() : day.year();
        const int shown = t.field == u'y' && t.width == 2 ? value % 100 : value;
        text += QString::number(shown).rightJustified(t.width, u'0');
    }
    return text;
}

QString dateText(const QDateTime &value, const QString &format)
{
    return dateText(value.isValid() ? value.date() : zeroDate(), format);
}

std::optional<QDate> readDate(const QString &text, const QString &format)
{
    return readDate(QStringView(text), format);
}

std::optional<QDate> readDate(QStringView text, const QString &format)
{
    const QStringView trimmed = trimmedValue(text);
    const auto &tokens = cachedTokens(format);
    if (!tokens) {
        const QDate day = QLocale::c().toDate(trimmed.toString(), format);
        return day.isValid() ? std::optional<QDate>(day) : std::nullopt;
    }
    int parts[3] = {-1, -1, -1}; // day, month, year
    qsizetype at = 0;
    for (qsizetype k = 0; k < tokens->size(); ++k) {
        const DateToken &t = tokens->at(k);
        if (t.field.isNull()) {
            if (trimmed.mid(at, t.literal.size()) != t.literal)
                return std::nullopt;
            at += t.literal.size();
            continue;
        }
        // One-letter fields take one or two digits, others exactly their width.
        const int most = t.width == 1 ? 2 : t.width;
        int digits = 0;
        int value = 0;
        while (digits < most && at < trimmed.size() && trimmed.at(at).isDigit()
               && trimmed.at(at).unicode() < 128) {
            value = value * 10 + (trimmed.at(at).unicode() - '0');
            ++digits;
            ++at;
        }
        if (digits == 0 || (t.width > 1 && digits != t.width))
            return std::nullopt;
        if (t.field == u'y' && t.width == 2)
            value += 1900; // as QDate reads two-digit years
        parts[t.field == u'd' ? 0 : t.field == u'M' ? 1 : 2] = value;
    }
    if (at != trimmed.size() || parts[0] < 0 || parts[1] < 0 || parts[2] < 0)
        return std::nullopt;
    const QDate day(parts[2], parts[1], parts[0]);
    if (!day.isValid())
        return std::nullopt;
    return day;
}

QString transferSeparators()
{
    return QStringLiteral(",;:\t");
}

QString quotedField(const QString &value, QChar separator)
{
    bool quote = value.startsWith(u'"');
    for (qsizetype i = 0; i < value.size() && !quote; ++i) {
        const QChar c = value.at(i);
        quote = c == separator || c == u'\r' || c == u'\n';
    }
    if (!quote)
        return value;
    QString text;
    text.reserve(value.size() + 2);
    text += u'"';
    for (const QChar c : value) {
        if (c == u'"')
            text += u'"';
        text += c;
    }
    text += u'"';
    return text;
}

QString buildLine(const QStringList &values, QChar separator)
{
    QString line;
    for (const QString &v : values) {
        line += quotedField(v, separator);
        line += separator;
    }
    return line;
}

namespace {

// The quoted field that begins at `from` (on its opening quote): its text and where the
// next field begins, or nothing when it does not close as a quoted field must.
std::optional<std::pair<QString, qsizetype>> quotedAt(const QString &line,
                                                      qsizetype from,
                                                      QChar separator)
{
    QString text;
    for (qsizetype i = from + 1; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c != u'"') {
            text += c;
            continue;
        }
        if (i + 1 < line.size() && line.at(i + 1) == u'"') {
            text += c;
            ++i;
            continue;
        }
        if (i + 1 == line.size())
            return std::pair{text, line.size()};
        if (line.at(i + 1) == separator)
            return std::pair{text, i + 2};
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

QStringList splitFields(const QString &line, QChar separator)
{
    QStringList fields;
    qsizetype from = 0;
    while (from < line.size()) {
        if (line.at(from) == u'"') {
            if (auto quoted = quotedAt(line, from, separator)) {
                fields << quoted->first;
                from = quoted->second;
                continue;
            }
        }
        const qsizetype at = line.indexOf(separator, from);
        if (at < 0) {
            fields << line.mid(from);
            break;
        }
        fields << line.mid(from, at - from);
        from = at + 1;
    }
    return fields;
}

QString stripLine(const QString &line, QChar separator)
{
    const auto strip = [separator](QChar c) { return c != separator && isBlankOrControl(c); };
    qsizetype begin = 0;
    qsizetype end = line.size();
    while (begin < end && strip(line.at(begin)))
        ++begin;
    while (end > begin && strip(line.at(end - 1)))
        --end;
    return begin == 0 && end == line.size() ? line : line.mid(begin, end - begin);
}

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.category() == QChar::Other_Control)
            return true;
    return false;
}

std::optional<QStringList> fieldsFor(const QString &line, QChar separator, qsizetype codes)
{
    QStringList fields = splitFields(line, separator);
    if (fields.size() > codes)
        return std::nullopt;
    while (fields.size() < codes)
        fields << QStringLiteral(" ");
    for (QString &f : fields)
        f = valueText(f);
    return fields;
}

QString columnName(int column)
{
    if (column < 0 || column >= 26 * 27)
        return QString();
    if (column < 26)
        return kLetters.at(column);
    return QString(kLetters.at(column / 26 - 1)) + kLetters.at(column % 26);
}

QString cellAddress(int row, int column)
{
    const QString name = columnName(column);
    if (name.isEmpty() || row < 0)
        return QString();
    return name + QString::number(row + 1);
}

} // namespace zq::transfer
