#include "HolderRecord.h"

#include "Recordset.h"

#include <QDateTime>

namespace zq::forms::holder {

using zq::data::Recordset;

namespace {

bool isNumber(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

// Two reads of one column through the same engine: equal unless the stored value changed.
// Numbers by value (an engine may hand an integer back as a double), date-times to the
// second, blobs byte for byte, the rest by text.
bool sameAsRead(const QVariant &a, const QVariant &b)
{
    const bool an = !a.isValid() || a.isNull(), bn = !b.isValid() || b.isNull();
    if (an || bn)
        return an == bn;
    if (a.typeId() == QMetaType::QByteArray || b.typeId() == QMetaType::QByteArray)
        return a.toByteArray() == b.toByteArray();
    if (a.typeId() == QMetaType::QDateTime && b.typeId() == QMetaType::QDateTime)
        return a.toDateTime().toSecsSinceEpoch() == b.toDateTime().toSecsSinceEpoch();
    if (isNumber(a) && isNumber(b))
        return a.toDouble() == b.toDouble();
    return Recordset::textOf(a) == Recordset::textOf(b);
}

QDate storedDate(const Recordset &rs, const QString &column)
{
    // Empty or unreadable text (other tools write '' into date columns) is no date.
    return rs.isNull(column) ? QDate() : rs.dateTime(column).date();
}

QVariant dayOrNull(const QDate &day)
{
    return day.isValid() ? QVariant(day.startOfDay()) : QVariant();
}

} // namespace

HolderRecord fromListing(const Recordset &listing)
{
    HolderRecord r;
    if (!listing.isOpen() || listing.isEmpty() || listing.currentRow() < 0)
        return r;
    const auto text = [&listing](const char *column) {
        return listing.text(QLatin1String(column)).trimmed();
    };
    r.key = listing.text(QStringLiteral("HolderNo"));
    r.number = r.key.trimmed();
    r.name = text("HolderName");
    r.showText = text("ShowText");
    r.email = text("Email");
    r.pin = text("PIN");
    r.definable1 = text("Definable1");
    r.definable2 = text("Definable2");
    r.description = text("Description");
    r.departmentNo = text("DepartmentNo");
    r.titleNo = text("TitleNo");
    r.typeNo = text("TypeNo");
    if (listing.hasField(QStringLiteral("SequenceNo")))
        r.sequenceNo = listing.text(QStringLiteral("SequenceNo"));
    r.birthday = storedDate(listing, QStringLiteral("Birthday"));
    r.startDate = storedDate(listing, QStringLiteral("StartDate"));
    r.deposit01 = storedDate(listing, QStringLiteral("Deposit01"));
    r.deposit02 = storedDate(listing, QStringLiteral("Deposit02"));
    r.deposit03 = storedDate(listing, QStringLiteral("Deposit03"));
    r.expiredDate = storedDate(listing, QStringLiteral("ExpiredDate"));
    r.deposit04 = text("Deposit04");
    r.punch = listing.value(QStringLiteral("PunchCard")).toInt() == 1 ? 1 : 0;
    const int row = listing.currentRow();
    for (int i = 0; i < listing.fieldCount(); ++i)
        r.read.insert(listing.fieldName(i), listing.valueAt(row, i));
    return r;
}

void takePhoto(HolderRecord &record, const QVariant &photo)
{
    record.read.insert(QStringLiteral("Photo"), photo);
    record.photo = photo.isNull() ? QByteArray() : photo.toByteArray();
}

void writeHolder(Recordset &rs,
                 const HolderRecord &shown,
                 const HolderRecord &edited,
                 bool inserting)
{
    const auto set = [&rs, inserting](const char *column, bool differs, const QVariant &value) {
        if (inserting || differs)
            rs.setField(QLatin1String(column), value);
    };
    set("HolderNo", edited.number != shown.number, edited.number);
    set("HolderName", edited.name != shown.name, edited.name);
    set("ShowText", edited.showText != shown.showText, edited.showText);
    set("Email", edited.email != shown.email, edited.email);
    set("PIN", edited.pin != shown.pin, edited.pin);
    set("Definable1", edited.definable1 != shown.definable1, edited.definable1);
    set("Definable2", edited.definable2 != shown.definable2, edited.definable2);
    set("Description", edited.description != shown.description, edited.description);
    set("DepartmentNo", edited.departmentNo != shown.departmentNo, edited.departmentNo);
    set("TitleNo", edited.titleNo != shown.titleNo, edited.titleNo);
    set("TypeNo", edited.typeNo != shown.typeNo, edited.typeNo);
    set("PunchCard", edited.punch != shown.punch, edited.punch);
    set("Birthday", edited.birthday != shown.birthday, dayOrNull(edited.birthday));
    set("StartDate", edited.startDate != shown.startDate, dayOrNull(edited.startDate));
    set("Deposit01", edited.deposit01 != shown.deposit01, dayOrNull(edited.deposit01));
    set("Deposit02", edited.deposit02 != shown.deposit02, dayOrNull(edited.deposit02));
    set("Deposit03", edited.deposit03 != shown.deposit03, dayOrNull(edited.deposit03));
    set("Deposit04", edited.deposit04 != shown.deposit04, edited.deposit04);
    set("ExpiredDate", edited.expiredDate != shown.expiredDate, dayOrNull(edited.expiredDate));
    set("Photo",
        edited.photo != shown.photo,
        edited.photo.isEmpty() ? QVariant() : QVariant(edited.photo));
    rs.setField(QStringLiteral("CheckMark"), 1);
    if (inserting)
        rs.setField(QStringLiteral("Enabled"), 1);
}

void guardWith(Recordset &rs, const HolderRecord &record)
{
    for (auto it = record.read.cbegin(); it != record.read.cend(); ++it)
        if (rs.hasField(it.key()))
            rs.setReadValue(it.key(), it.value());
}

bool unchangedSince(const Recordset &rs, const HolderRecord &record)
{
    if (!rs.isOpen() || rs.currentRow() < 0 || !record.isStored())
        return false;
    for (auto it = record.read.cbegin(); it != record.read.cend(); ++it) {
        const int column = rs.fieldIndex(it.key());
        if (column >= 0 && !sameAsRead(it.value(), rs.valueAt(rs.currentRow(), column)))
            return false;
    }
    return true;
}

} // namespace zq::forms::holder
