#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryFile>

#include <vector>

namespace zq::suite {

/// The printed texts of a list's rows, kept in a temporary file by the pass that counts the
/// pages and read back by the pass that paints them: the statement runs once, the pages
/// agree with the total they print, and memory does not grow with the rows.
class ReportSpool
{
public:
    /// Creates the file; false when it cannot be.
    bool open();

    /// Keeps one row: whether it begins a group, the group's line and the cells' texts.
    void append(bool newGroup, const QString &groupLine, const std::vector<QString> &cells);
    /// Ends the writing and goes back to the first row; false when something was not written.
    bool rewind();

    /// Reads the next row; false after the last, or when the file cannot be read (failed()).
    bool next();
    bool newGroup() const { return m_newGroup; }
    const QString &groupLine() const { return m_groupLine; }
    const std::vector<QString> &cells() const { return m_cells; }
    bool failed() const { return m_failed; }

private:
    bool flush();
    bool fill(qsizetype bytes);
    bool readNumber(qsizetype end, quint64 &n);
    bool readText(qsizetype end, QString &text);

    QTemporaryFile m_file;
    QByteArray m_buffer;
    qsizetype m_at = 0;
    bool m_failed = false;
    bool m_newGroup = false;
    QString m_groupLine;
    std::vector<QString> m_cells;
};

} // namespace zq::suite
