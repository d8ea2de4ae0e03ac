#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

#include <functional>
#include <memory>

namespace zq::transfer {

/// Writes the lines of a holder text file: UTF-8 without a byte-order mark, each line ended
/// by carriage return and line feed. The file appears under its name only on `commit()`.
class TextLineWriter
{
public:
    explicit TextLineWriter(const QString &path);
    bool open();
    bool writeLine(const QString &line);
    /// A line already in UTF-8.
    bool writeUtf8Line(QByteArrayView line);
    /// Moves the written file into place; false (and nothing in place) when any write failed.
    bool commit();
    QString errorString() const { return m_file.errorString(); }

private:
    QSaveFile m_file;
    QByteArray m_buffer;
};

/// Reads a holder text file record by record with bounded memory. Records end at carriage
/// return, line feed or both, except inside a quoted field (see `splitFields`), which may
/// hold line ends; a quote that does not close as a quoted field must leaves its line to be
/// read literally, as a file written without quotes is.
///
/// A byte-order mark decides the encoding (UTF-8, UTF-16 little or big endian). Without one
/// a file that is valid UTF-8 is read as UTF-8, any other as Big5 (code page 950). A record
/// that does not decode in the file's encoding is skipped rather than stored with
/// replacement characters.
class TextLineReader
{
public:
    enum class Encoding { Utf8, Big5, Utf16LE, Utf16BE };
    /// Longer records cannot hold a holder (every column is far shorter); they are skipped.
    static constexpr qsizetype MaxLineBytes = 64 * 1024;

    explicit TextLineReader(const QString &path, QChar separator = u',');
    ~TextLineReader();

    /// Opens the file and finds its encoding; false when it cannot be read.
    bool open();
    Encoding encoding() const { return m_encoding; }
    /// True for a file without a byte-order mark that holds a NUL byte near its start: a
    /// picture, an archive or another program's data, not text.
    bool isBinary() const { return m_binary; }
    qint64 size() const { return m_size; }
    /// Bytes of the file consumed so far (for progress).
    qint64 position() const { return m_position; }
    /// Records skipped because they were too long or could not be decoded.
    int skippedLines() const { return m_skipped; }
    /// The 1-based number of the line handed over last (skipped and empty lines count); a
    /// record with quoted line ends has the number of its first line.
    qint64 lineNumber() const { return m_line; }
    /// Called with the line number of each skipped line, before the next line is handed.
    void setSkipHandler(std::function<void(qint64 line)> handler) { m_onSkip = std::move(handler); }

    /// Calls `line` for each record in file order until it returns false or the file ends.
    /// False when reading failed part way (the records before were delivered).
    bool forEachLine(const std::function<bool(const QString &line)> &line);
    QString errorString() const { return m_error; }

private:
    bool detectEncoding();
    bool decode(const QByteArray &bytes, QString &text);
    QString m_path;
    QString m_error;
    char m_separator = ',';
    Encoding m_encoding = Encoding::Utf8;
    qsizetype m_bomSize = 0;
    bool m_binary = false;
    qint64 m_size = 0;
    qint64 m_position = 0;
    int m_skipped = 0;
    qint64 m_line = 0;
    std::function<void(qint64)> m_onSkip;
    struct Decoders;
    std::unique_ptr<Decoders> m_decoders;
    struct Scanner;
};

} // namespace zq::transfer
