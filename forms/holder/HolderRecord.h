#pragma once

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QString>
#include <QVariant>

namespace zq::data {
class Recordset;
}

namespace zq::forms::holder {

/// One holder as the window shows and edits him: the fields of the Data page, his photo,
/// and every column's value as read. The listing fills it, the Data page shows and edits a
/// copy of it, the save writes what differs between the two and the delete compares the
/// values as read with the row as it is now. Input on the page never touches the values as
/// read: they guard the write against a change made on another workstation meanwhile.
struct HolderRecord
{
    QString key;    ///< HolderNo exactly as stored (trailing blanks and all); "" for a new one
    QString number; ///< HolderNo as the user sees it (trimmed)
    QString name, showText, email, pin, definable1, definable2, description;
    QString departmentNo, titleNo, typeNo; ///< trimmed codes, "" for none
    QString sequenceNo;
    QDate birthday, startDate, deposit01;    ///< invalid: no date stored (shown as today)
    QDate deposit02, deposit03, expiredDate; ///< invalid: none (the check box unticked)
    QString deposit04;                       ///< the deposit text
    int punch = 1;                           ///< 1 or 0, as written to PunchCard
    QByteArray photo;                        ///< the stored photo bytes, "" for none
    QHash<QString, QVariant> read;           ///< column → value as read (Photo included)

    /// A holder read from the database (not one being added).
    bool isStored() const { return !read.isEmpty(); }
};

/// The holder of `listing`'s current row (an empty record when it has none); the photo is
/// not in the listing: see `takePhoto`.
HolderRecord fromListing(const zq::data::Recordset &listing);
/// Takes `photo` (the Photo column as read by another statement) into `record`: its bytes
/// and its value as read.
void takePhoto(HolderRecord &record, const QVariant &photo);

/// Sets on `rs`'s edit buffer the columns the save writes. A new holder gets every column;
/// a stored one only those whose value differs between `shown` (what the page showed) and
/// `edited` (what it holds now): a field the operator did not change is no change, whatever
/// the row held (NULL or ''), so that a change made to it on another workstation stays.
void writeHolder(zq::data::Recordset &rs,
                 const HolderRecord &shown,
                 const HolderRecord &edited,
                 bool inserting);
/// Makes `rs`'s current row read the values `record` was read with, so that its write is
/// guarded by them.
void guardWith(zq::data::Recordset &rs, const HolderRecord &record);
/// True when `rs`'s current row holds every value `record` was read with, the photo byte for
/// byte: nobody changed the holder since he was shown.
bool unchangedSince(const zq::data::Recordset &rs, const HolderRecord &record);

} // namespace zq::forms::holder
