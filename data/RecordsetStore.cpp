#include "RecordsetStore.h"

#include <QTimeZone>

#include <algorithm>
#include <numeric>

namespace zq::data {

void RecordsetStore::addField(const QString &name, FieldKind kind)
{
    const QString key = name.toLower();
    if (!index.contains(key))
        index.insert(key, int(names.size()));
    names << name;
    kinds << kind;
}

void RecordsetStore::appendRow(QVector<QVariant> &&row)
{
    rows.append(std::move(row));
    sequence.append(nextSequence++);
}

void RecordsetStore::removeRow(int row)
{
    rows.removeAt(row);
    sequence.removeAt(row);
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
        if (dt.timeSpec() == Qt::UTC || dt.timeSpec() == Qt::OffsetFromUTC)
            return QDateTime(dt.date(), dt.time());
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

void RecordsetStore::sortRows(const QVector<SortKey> &keys)
{
    QVector<int> order(rows.size());
    std::iota(order.begin(), order.end(), 0);
    if (keys.isEmpty()) {
        std::sort(order.begin(), order.end(),
                  [this](int x, int y) { return sequence.at(x) < sequence.at(y); });
    } else {
        std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
            for (const SortKey &k : keys) {
                const int c = compareValues(rows.at(x).at(k.column), rows.at(y).at(k.column));
                if (c != 0)
                    return k.descending ? c > 0 : c < 0;
            }
            return sequence.at(x) < sequence.at(y);
        });
    }
    QVector<QVector<QVariant>> sortedRows;
    QVector<int> sortedSequence;
    sortedRows.reserve(rows.size());
    sortedSequence.reserve(rows.size());
    for (int i : std::as_const(order)) {
        sortedRows.append(std::move(rows[i]));
        sortedSequence.append(sequence.at(i));
    }
    rows = std::move(sortedRows);
    sequence = std::move(sortedSequence);
}

} // namespace zq::data
