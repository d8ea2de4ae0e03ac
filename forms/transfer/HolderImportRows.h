#pragma once

// The parts of a holder import that its engine's files share: the columns it writes, a
// judged holder waiting to be written, and the statements and writers it writes with.

#include "HolderImport.h"

#include "BulkWriter.h"
#include "Recordset.h"

#include <QByteArray>
#include <QSqlQuery>
#include <QVarLengthArray>
#include <QVariant>

#include <array>
#include <memory>

namespace zq::transfer {

namespace importing {

// Holders written by one statement on PostgreSQL: a round trip per line would cost more
// than the writing itself. SQLite runs in the process, where a statement per line is
// cheaper than binding a long one.
constexpr qsizetype kBatchRows = 1000;

// The three name look-ups: table, number column, name column.
struct NameTable
{
    const char *table;
    const char *number;
    const char *name;
};
constexpr NameTable kNameTables[3] = {{"DepartmentData", "DepartmentNo", "DepartmentName"},
                                      {"OccupationTitle", "TitleNo", "TitleName"},
                                      {"OccupationType", "TypeNo", "TypeName"}};

// The holder columns an import writes, in the order of the update.
const QStringList &writtenColumns();
constexpr int kValues = 12; // writtenColumns().size()
// Every value of a row, in the order of writtenColumns(): what an insert writes.
const QList<int> &allValues();

// The start of the day in the zone-free form of the data layer.
QString stampOf(const QDate &day);
// Whether `text` holds no NUL and fits a column of `width` (0: any).
bool fits(int width, const QString &text);
// The holder widths in the order of writtenColumns(), then HolderNo's.
const QList<int> &holderWidths();
// The UTF-8 of `text` after `out`; a surrogate without its other half becomes U+FFFD.
void appendUtf8(QByteArray &out, QStringView text);
// A QString over `text` without a copy, for hash look-ups only.
QString lookupKey(QStringView text);

} // namespace importing

struct HolderImport::Statements
{
    explicit Statements(const QSqlDatabase &db)
        : insert(db)
        , update(db)
        , control(db)
    {}
    QSqlQuery insert;
    QSqlQuery update;
    QSqlQuery control;
    // The look-ups of each name table and the grants, each in a recordset of its own: a
    // recordset reads its table's columns and key again whenever its table changes.
    zq::data::Recordset names[3];
    zq::data::Recordset grants;
    QSqlQuery batchInsert;
    QSqlQuery batchUpdate;
    bool batchPrepared[2] = {};
    // The direct writers of new and of existing holders, prepared when first needed.
    std::unique_ptr<zq::data::BulkWriter> writers[2];
    QByteArray numberUtf8; // the number of the row being added, reused
    bool writerTried[2] = {};
};

// A judged holder: its values as UTF-8 one after another, each as Qt's driver would have
// bound the text it stands for (a null text is NULL, an empty one '').
struct HolderImport::Pending
{
    qint64 line = 0;
    QString number;
    // The number as the row stores it, where that differs (blanks after it); "" otherwise.
    QString storedAs;
    bool exists = false;
    qsizetype sequence = 0;
    QByteArray text;
    std::array<int, importing::kValues> ends{};
    quint32 nulls = 0; // bit i: value i is NULL

    QByteArrayView value(int i) const
    {
        const int begin = i > 0 ? ends[size_t(i - 1)] : 0;
        return QByteArrayView(text.constData() + begin, ends[size_t(i)] - begin);
    }
    bool isNull(int i) const { return nulls & (1u << i); }
    /// The key the row is written by.
    const QString &key() const { return storedAs.isEmpty() ? number : storedAs; }
    QVariant variant(int i) const
    {
        if (isNull(i))
            return QVariant();
        const QByteArrayView v = value(i);
        return v.isEmpty() ? QVariant(QStringLiteral("")) : QVariant(QString::fromUtf8(v));
    }
};

// The fields of a line as views of it; a quoted field with doubled quotes is copied once,
// undoubled, into `owned`.
struct HolderImport::Fields
{
    static constexpr qsizetype Most = 15;
    QVarLengthArray<QStringView, Most + 1> at;
    QString owned[Most + 1];
};

} // namespace zq::transfer
