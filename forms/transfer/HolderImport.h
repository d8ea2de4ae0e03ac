#pragma once

#include <QChar>
#include <QDate>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QVariantList>

#include <memory>

namespace zq::data {
class Connection;
}

namespace zq::transfer {

struct ImportOptions
{
    QString columnOrder;
    QChar separator = u',';
    bool cover = false; ///< overwrite holders that exist already
    QDate today;        ///< the default of date columns
    QString dateFormat;
};

/// Writes imported lines into HolderData.
///
/// The holder numbers are taken once at the start (the snapshot); a number is looked up
/// there, and a new holder joins it, so a number repeated in a file is found by its second
/// occurrence. Department, title and type names are looked up by name and created when
/// missing; a created row stays even when its line's holder is not stored. The work goes
/// in batches committed about once a second; a line whose writes fail is undone alone, and
/// the lines before it stay stored.
class HolderImport
{
public:
    enum class Outcome { Ignored, Inserted, Updated, Kept, Failed };

    HolderImport(zq::data::Connection *connection, const ImportOptions &options);
    ~HolderImport();

    /// Takes the snapshot and opens the first batch; false when the database cannot be read.
    bool start();
    /// Imports one line of the file (a workbook row joined with commas). Never throws.
    Outcome importLine(const QString &line);
    /// Commits the last batch; false when that failed (the lines of that batch are lost).
    bool finish();

    /// False once the link to the database is gone; the remaining lines cannot be stored.
    bool isConnected() const;
    int count(Outcome outcome) const { return m_counts[int(outcome)]; }

private:
    struct Statements;
    bool storeHolder(const QString &number, const QVariantList &values, bool exists);
    QString numberOf(int table, const QString &name);
    bool savepoint();
    void endSavepoint(bool keep);
    void commitIfDue();

    zq::data::Connection *m_connection;
    ImportOptions m_options;
    std::unique_ptr<Statements> m_sql;
    QSet<QString> m_snapshot;
    QList<const struct TransferColumn *> m_columns; // per position of the column order
    QList<qsizetype> m_written;                     // its place among the written columns
    QHash<QString, QString> m_numbers[3];
    QElapsedTimer m_sinceCommit;
    bool m_inBatch = false;
    bool m_savepoints = true;
    int m_counts[5] = {};
};

} // namespace zq::transfer
