#pragma once

#include "DirectorySync.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

/// An entry of the current page that is judged against its stored holder.
struct DirectorySync::Candidate
{
    qint64 entry = 0;
    QString dn;
    QString number;
    QStringList cells;
    QByteArray photo; ///< the JPEG to store; null: the entry carries none
    bool photoOnly = false;
};

/// A stored holder as the columns of the map read it.
struct DirectorySync::Stored
{
    QList<QVariant> values; ///< per code of the column order; names for the name columns
    QByteArray photo;
};
