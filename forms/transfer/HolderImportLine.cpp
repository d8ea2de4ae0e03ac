#include "HolderImportRows.h"

#include "TransferFormat.h"
#include "TransferLog.h"

#include <QDate>

#include <algorithm>
#include <cstring>
#include <optional>

namespace zq::transfer {

using namespace importing;

namespace {

bool hasControl(QStringView text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u < 0x7F)
            continue;
        if (u < 0x20 || QChar::category(char32_t(u)) == QChar::Other_Control)
            return true;
    }
    return false;
}

// A control character other than a tab or a line end, which a quoted text may hold.
bool hasStrayControl(QStringView text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u < 0x7F)
            continue;
        if (u == u'\t' || u == u'\n' || u == u'\r')
            continue;
        if (u < 0x20 || QChar::category(char32_t(u)) == QChar::Other_Control)
            return true;
    }
    return false;
}

// stampOf() into `out` (19 bytes) without a QString; false for a year of other than four
// digits, which stampOf() writes in its own way.
bool writeStamp(const QDate &day, char *out)
{
    int y = 0, m = 0, d = 0;
    day.getDate(&y, &m, &d);
    if (y < 0 || y > 9999)
        return false;
    const auto two = [](char *at, int v) {
        at[0] = char('0' + v / 10);
        at[1] = char('0' + v % 10);
    };
    two(out, y / 100);
    two(out + 2, y % 100);
    out[4] = '-';
    two(out + 5, m);
    out[7] = '-';
    two(out + 8, d);
    memcpy(out + 10, " 00:00:00", 9);
    return true;
}

// The holder column of a position of the column order, for the report.
QString columnName(const TransferColumn *column)
{
    return column ? column->caption : QString();
}

// The fields of `line` by the rule of splitFields(), each trimmed as fieldsFor() trims
// them and padded with empty ones to `codes`; false when the line has more fields than
// that (or than a column order can have).
bool splitLine(QStringView line,
               QChar separator,
               qsizetype codes,
               QVarLengthArray<QStringView, 16> &at,
               QString *owned,
               qsizetype most)
{
    at.clear();
    if (codes > most)
        return false;
    const qsizetype n = line.size();
    qsizetype from = 0;
    const auto add = [&](QStringView field) {
        at.append(trimmedValue(field));
        return at.size() <= codes;
    };
    while (from < n) {
        if (line[from] == u'"') {
            qsizetype i = from + 1;
            qsizetype next = -1;
            bool doubled = false;
            for (; i < n; ++i) {
                if (line[i] != u'"')
                    continue;
                if (i + 1 < n && line[i + 1] == u'"') {
                    doubled = true;
                    ++i;
                    continue;
                }
                if (i + 1 == n)
                    next = n;
                else if (line[i + 1] == separator)
                    next = i + 2;
                break;
            }
            if (next >= 0) {
                QStringView inner = line.sliced(from + 1, i - from - 1);
                if (doubled) {
                    QString &copy = owned[at.size()];
                    copy = inner.toString();
                    copy.replace(QStringLiteral("\"\""), QStringLiteral("\""));
                    inner = copy;
                }
                if (!add(inner))
                    return false;
                from = next;
                continue;
            }
        }
        const qsizetype sep = line.indexOf(separator, from);
        if (sep < 0) {
            if (!add(line.sliced(from)))
                return false;
            break;
        }
        if (!add(line.sliced(from, sep - from)))
            return false;
        from = sep + 1;
    }
    while (at.size() < codes)
        at.append(QStringView());
    return true;
}

} // namespace

HolderImport::Outcome HolderImport::importLine(const QString &line, qint64 lineNumber)
{
    return importFields(
        lineNumber,
        [&](Fields &fields, qsizetype codes) {
            return splitLine(
                line, m_options.separator, codes, fields.at, fields.owned, Fields::Most);
        },
        [&] { return splitFields(line, m_options.separator); });
}

HolderImport::Outcome HolderImport::importCells(const QStringList &cells, qint64 lineNumber)
{
    return importFields(
        lineNumber,
        [&](Fields &fields, qsizetype codes) {
            fields.at.clear();
            if (codes > Fields::Most || cells.size() > codes)
                return false;
            for (const QString &cell : cells)
                fields.at.append(trimmedValue(cell));
            while (fields.at.size() < codes)
                fields.at.append(QStringView());
            return true;
        },
        [&] { return cells; });
}

template<typename Split, typename All>
HolderImport::Outcome HolderImport::importFields(qint64 lineNumber, Split split, All all)
{
    m_line = lineNumber >= 0 ? lineNumber : m_line + 1;
    if (!m_sql || m_stopped)
        return Outcome::Failed;
    Outcome outcome = Outcome::Ignored;
    QString holderNo;
    Fields fields;
    QStringView number;
    try {
        const qsizetype codes = m_options.columnOrder.size();
        const qsizetype numberAt = m_options.columnOrder.indexOf(u'1');
        const auto blank = [](const QStringList &list) {
            return std::all_of(list.cbegin(), list.cend(), [](const QString &f) {
                return valueText(f).isEmpty();
            });
        };
        if (!split(fields, codes)) {
            const QStringList every = all();
            if (numberAt >= 0 && numberAt < every.size())
                holderNo = valueText(every.at(numberAt));
            // A row of empty cells holds no holder, however wide its sheet.
            outcome = blank(every) ? Outcome::Ignored
                                   : refuse(holderNo,
                                            RefusalReason::TooManyFields,
                                            QString(),
                                            QString::number(codes));
        } else if (std::all_of(fields.at.cbegin(), fields.at.cend(), [](QStringView f) {
                       return f.isEmpty();
                   })) {
            outcome = Outcome::Ignored;
        } else {
            if (numberAt >= 0)
                number = fields.at[numberAt];
            outcome = judgeAndStore(fields, number);
        }
    } catch (const std::exception &e) {
        // A statement helper throws the engine's error: the line is refused with it.
        if (holderNo.isEmpty())
            holderNo = number.toString();
        qCWarning(lcTransfer) << "line" << m_line << "failed:" << e.what();
        outcome = refuse(holderNo, RefusalReason::Database, QString(), m_lastError);
    } catch (...) {
        if (holderNo.isEmpty())
            holderNo = number.toString();
        qCWarning(lcTransfer) << "line" << m_line << "failed with an unknown exception";
        outcome = refuse(holderNo, RefusalReason::Database, QString(), m_lastError);
    }
    ++m_counts[int(outcome)];
    if ((outcome == Outcome::Inserted || outcome == Outcome::Updated) && !m_options.dryRun)
        m_uncommitted.push_back({m_line, number.toString(), outcome});
    commitIfDue();
    return outcome;
}

namespace {
enum class Kind : quint8 { Empty, Today, Null, Text, Stamp, Number };
enum { Name, Email, Def1, Def2, Description, Birthday, Start, Expired, Pin, Dept, Title, Type };
} // namespace

// What a line gives each written value, judged before anything of it is written.
struct HolderImport::Values
{
    Values()
    {
        // Empty text, not NULL: columns the file leaves empty are stored as ''. A holder
        // starts on the day of the import unless the file says otherwise; he has no birthday
        // and no expiry unless the file gives them (an expiry of today would lock him out).
        for (int v = 0; v < kValues; ++v)
            kinds[v] = v == Start                      ? Kind::Today
                       : v == Birthday || v == Expired ? Kind::Null
                                                       : Kind::Empty;
    }
    Kind kinds[kValues];
    QStringView texts[kValues];
    char stamps[kValues][19];
    QString otherStamps[kValues];
    QStringView names[3];
    QString numbers[3];
};

// Why a line cannot be stored whatever the database holds: no number, or a field that is no
// text (a NUL, a character that did not decode, a control character where none belongs).
std::optional<Refusal> HolderImport::fieldRefusal(const Fields &fields, QStringView holderNo) const
{
    const auto refusal = [](RefusalReason reason, const QString &column, const QString &detail) {
        return std::optional<Refusal>(Refusal{0, QString(), reason, column, detail});
    };
    if (holderNo.trimmed().isEmpty())
        return refusal(RefusalReason::EmptyNumber, QString(), QString());
    const qsizetype codes = m_options.columnOrder.size();
    for (qsizetype k = 0; k < codes; ++k) {
        const TransferColumn *column = m_columns.at(k);
        const QStringView field = fields.at[k];
        if (field.contains(QChar(0)))
            return refusal(RefusalReason::Nul, columnName(column), QString());
        // What a decoder could not read came through as replacement characters.
        if (field.contains(QChar::ReplacementCharacter))
            return refusal(RefusalReason::Undecodable, columnName(column), QString());
        // A line end or another control character in a number or a code would break every
        // file and list that carries it; elsewhere only tabs and line ends are text.
        const bool key = column && (column->code == u'1' || column->kind == ColumnKind::Name);
        if (key ? hasControl(field) : hasStrayControl(field))
            return refusal(RefusalReason::Control, columnName(column), QString());
    }
    const QList<int> &widths = holderWidths();
    if (!fits(widths.last(), lookupKey(holderNo)))
        return refusal(
            RefusalReason::TooLong, QStringLiteral("HolderNo"), QString::number(widths.last()));
    return std::nullopt;
}

// Each field into `values`; the refusal of the first that cannot be stored.
std::optional<Refusal> HolderImport::readValues(const Fields &fields, Values &values)
{
    const auto refusal = [](RefusalReason reason, const QString &column, const QString &detail) {
        return std::optional<Refusal>(Refusal{0, QString(), reason, column, detail});
    };
    const QList<int> &widths = holderWidths();
    const qsizetype codes = m_options.columnOrder.size();
    for (qsizetype k = 0; k < codes; ++k) {
        const QStringView field = fields.at[k];
        const TransferColumn *column = m_columns.at(k);
        // An empty date means none, an empty start the day of the import: the defaults.
        if (field.isEmpty() || !column || column->code == u'1')
            continue;
        const qsizetype at = m_written.at(k);
        switch (column->kind) {
        case ColumnKind::Text:
            if (widths.at(at) != 0 && field.size() > widths.at(at))
                return refusal(
                    RefusalReason::TooLong, column->caption, QString::number(widths.at(at)));
            values.kinds[at] = Kind::Text;
            values.texts[at] = field;
            break;
        case ColumnKind::Date: {
            const std::optional<QDate> day = readDate(field, m_options.dateFormat);
            if (!day)
                return refusal(RefusalReason::BadDate, column->caption, field.toString());
            // The zero date is what an empty date was written as.
            if (*day == zeroDate()) {
                values.kinds[at] = Kind::Null;
            } else if (writeStamp(*day, values.stamps[at])) {
                values.kinds[at] = Kind::Stamp;
            } else {
                values.otherStamps[at] = stampOf(*day);
                values.kinds[at] = Kind::Text;
                values.texts[at] = values.otherStamps[at];
            }
            break;
        }
        case ColumnKind::Name:
            values.names[column->code.unicode() - 'A'] = field;
            break;
        }
    }
    for (int n = 0; n < 3; ++n) {
        values.numbers[n] = numberOf(n, values.names[n]);
        if (!fits(widths.at(Dept + n), values.numbers[n]))
            return refusal(RefusalReason::TooLong,
                           QLatin1String(kNameTables[n].number),
                           QString::number(widths.at(Dept + n)));
        values.kinds[Dept + n] = Kind::Number;
    }
    return std::nullopt;
}

// The row of a judged holder, its values as the writers take them.
HolderImport::Pending HolderImport::rowOf(const Values &values,
                                          const QString &number,
                                          bool exists) const
{
    Pending row;
    row.line = m_line;
    row.number = number;
    row.exists = exists;
    if (exists && !m_storedAs.isEmpty())
        row.storedAs = m_storedAs.value(number);
    row.text.reserve(256);
    for (int v = 0; v < kValues; ++v) {
        switch (values.kinds[v]) {
        case Kind::Empty:
            break;
        case Kind::Today:
            row.text.append(m_todayStamp);
            break;
        case Kind::Null:
            row.nulls |= 1u << v;
            break;
        case Kind::Text:
            appendUtf8(row.text, values.texts[v]);
            break;
        case Kind::Stamp:
            row.text.append(values.stamps[v], 19);
            break;
        case Kind::Number:
            if (values.numbers[v - Dept].isNull())
                row.nulls |= 1u << v;
            else
                appendUtf8(row.text, values.numbers[v - Dept]);
            break;
        }
        row.ends[size_t(v)] = int(row.text.size());
    }
    return row;
}

HolderImport::Outcome HolderImport::judgeAndStore(const Fields &fields, QStringView holderNo)
{
    const auto refused = [&](const Refusal &why) {
        return refuse(holderNo.toString(), why.reason, why.column, why.detail);
    };
    if (const std::optional<Refusal> why = fieldRefusal(fields, holderNo))
        return refused(*why);
    const qint64 *known = m_holders.find(holderNo);
    // Whether an earlier line's holder was stored is known once its batch is written.
    if (known && *known >= 0 && *known >= firstUnwritten()) {
        flushPending();
        settle();
        known = m_holders.find(holderNo);
    }
    if (known && *known >= 0)
        return refused(
            {0, QString(), RefusalReason::Duplicate, QString(), QString::number(*known)});
    const bool exists = known != nullptr;
    Values values;
    if (const std::optional<Refusal> why = readValues(fields, values))
        return refused(*why);

    Outcome outcome = Outcome::Kept;
    const QString stored = holderNo.toString();
    // An overwrite of a file that carries nothing but numbers changes nothing.
    if (!exists || (m_options.cover && !m_updated.isEmpty())) {
        outcome = storeHolder(rowOf(values, stored, exists));
        if (outcome == Outcome::Failed)
            return refused({0, QString(), RefusalReason::Database, QString(), m_lastError});
        if (outcome == Outcome::Lost)
            return notStored(stored);
        if (outcome == Outcome::Inserted)
            ++m_tableSize;
    }
    m_holders.insert(stored, m_line);
    return outcome;
}

} // namespace zq::transfer
