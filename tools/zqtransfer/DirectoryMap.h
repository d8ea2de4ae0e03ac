#pragma once

#include "LdapSource.h"

#include <QByteArray>
#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>

/// Which directory attributes fill which holder columns. Each column takes the first of
/// its attributes that an entry has, and of that attribute its first value. The columns are
/// those of the transfer files (by their names: HolderNo, HolderName, Email, Birthday,
/// StartDate, ExpiredDate, Definable1, Definable2, Description, DepartmentName,
/// OccupationTitle, OccupationType, PIN) and Photo.
class DirectoryMap
{
public:
    /// The usual inetOrgPerson map: employeeNumber, cn or displayName, mail,
    /// departmentNumber or ou, title, employeeType.
    DirectoryMap();

    /// One --map ATTRIBUTE=COLUMN: the first for a column replaces its default attributes,
    /// later ones add fallbacks; "-=COLUMN" leaves the column out of the sync. False (and
    /// `error`) for an unknown column, an attribute that is no attribute name, or leaving out
    /// the holder number.
    bool apply(const QString &spec, QString &error);

    /// The codes of the columns the map carries, in the order of the transfer columns.
    QString columnOrder() const;
    /// The attributes to ask the directory for, each once.
    QStringList attributes() const;
    bool hasPhoto() const { return !m_photo.isEmpty(); }
    /// The attributes of the column with `code`, in the order they are tried.
    QStringList columnAttributes(QChar code) const;

    /// An entry as the cells of columnOrder() and its photo bytes.
    struct Row
    {
        QStringList cells;
        QByteArray photo;     ///< null when the map has no photo or the entry none
        QString badAttribute; ///< an attribute whose value is not valid UTF-8, when one is
    };
    /// `entry` must hold the values of attributes(), in that order.
    Row rowOf(const DirectoryEntry &entry) const;

private:
    struct Column
    {
        QChar code;
        QStringList attributes;
        bool mapped = false; // set by --map, so that further ones add fallbacks
        QList<int> at;       // its attributes' places in m_asked
    };
    Column *columnNamed(const QString &name);
    void refresh();

    QList<Column> m_columns; // the thirteen transfer columns, in their order
    QStringList m_photo;
    bool m_photoMapped = false;
    QList<int> m_photoAt;
    QStringList m_asked;
};
