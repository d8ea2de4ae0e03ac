#pragma once

#include "HolderImport.h"

#include <QList>
#include <QSaveFile>
#include <QString>
#include <QStringList>

namespace zq::transfer {

/// The columns of the refusal report, in the user's language: line, holder number, reason
/// code, reason.
QStringList refusalReportHeader();
/// One refused line as the report's columns.
QStringList refusalReportRow(const Refusal &refusal);

/// Writes the refusal report as CSV: a header line, then one line per refused line; a field
/// holding the separator, a double quote or a line break stands between double quotes with
/// inner quotes doubled. UTF-8 without byte-order mark, lines ended by CR LF. The file
/// appears under its name only on `commit()`.
class RefusalReportWriter
{
public:
    explicit RefusalReportWriter(const QString &path);

    /// Opens the file's temporary twin beside it: false when its folder does not exist or
    /// cannot be written, before anything else is done.
    bool open();
    bool write(const QList<Refusal> &refusals);
    /// Moves the written report into place; false (and nothing in place) when a write failed.
    bool commit();
    QString errorString() const { return m_file.errorString(); }

    /// One CSV line of `fields` (without its line end).
    static QString csvLine(const QStringList &fields);

private:
    QSaveFile m_file;
    bool m_failed = false;
};

} // namespace zq::transfer
