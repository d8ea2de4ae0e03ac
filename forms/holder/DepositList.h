#pragma once

#include <QString>
#include <QStringList>

namespace zq::forms::holder {

/// The saved deposit texts: a plain text file, one text a line (CR LF), sorted without regard
/// to case; texts that differ only in case are one text.
class DepositList
{
public:
    explicit DepositList(const QString &path = QString())
        : m_path(path)
    {}
    void setPath(const QString &path) { m_path = path; }
    QString path() const { return m_path; }

    /// The texts of the file, sorted (UTF-8, or Big5 from an older installation); none when
    /// it is missing or unreadable.
    QStringList load() const;
    /// Adds `text` (trimmed) to `items` when it is new, keeps them sorted, writes the file
    /// (left alone when the text was there and the file is). False when it could not be
    /// written.
    bool store(QStringList &items, const QString &text) const;
    /// Removes the item equal to `text` (trimmed) and writes the file.
    bool remove(QStringList &items, const QString &text) const;
    bool write(const QStringList &items) const;

private:
    QString m_path;
};

/// The display text of a holder: the first 16 characters of number, one blank and name.
QString displayText(const QString &number, const QString &name);

} // namespace zq::forms::holder
