#include "HolderImport.h"

#include "Connection.h"
#include "Helpers.h"
#include "Recordset.h"
#include "Schema.h"
#include "TransferFormat.h"

#include <QSqlError>
#include <QSqlQuery>

namespace zq::transfer {

using zq::data::Connection;
using zq::data::Recordset;

namespace {

constexpr qint64 kCommitEveryMs = 1000;

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
const QStringList kWritten{"HolderName",
                           "Email",
                           "Definable1",
                           "Definable2",
                           "Description",
                           "Birthday",
                           "StartDate",
                           "ExpiredDate",
                           "PIN",
                           "DepartmentNo",
                           "TitleNo",
                           "TypeNo"};

// The declared width of a text column (0 = none). Both engines are held to it, so that a
// value that PostgreSQL refuses is not stored by SQLite either.
int widthOf(const QString &table, const QString &column)
{
    if (const zq::data::TableDef *t = zq::data::findTable(table))
        for (const zq::data::ColumnDef &c : t->columns)
            if (column.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0)
                return c.type == zq::data::ColumnType::Text ? c.width : 0;
    return 0;
}

// The start of the day in the zone-free form of the data layer, without a round trip
// through the local time zone, which costs a look at the zone file per call.
QString stampOf(const QDate &day)
{
    return day.toString(Qt::ISODate) + QStringLiteral(" 00:00:00");
}

bool fits(int width, const QString &text)
{
    return !text.contains(QChar(0)) && (width == 0 || text.size() <= width);
}

bool storable(const QString &table, const QString &column, const QString &text)
{
    return fits(widthOf(table, column), text);
}

// The holder widths in the order of kWritten, then HolderNo's.
const QList<int> &holderWidths()
{
    static const QList<int> widths = [] {
        QList<int> w;
        for (const QString &c : kWritten)
            w << widthOf(QStringLiteral("HolderData"), c);
        w << widthOf(QStringLiteral("HolderData"), QStringLiteral("HolderNo"));
        return w;
    }();
    return widths;
}

} // namespace

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
    Recordset scratch;
};

HolderImport::HolderImport(Connection *connection, const ImportOptions &options)
    : m_connection(connection)
    , m_options(options)
{
    if (!m_options.today.isValid())
        m_options.today = QDate::currentDate();
    if (m_options.dateFormat.isEmpty())
        m_options.dateFormat = transferDateFormat();
}

HolderImport::~HolderImport()
{
    if (m_inBatch && isConnected())
        m_connection->commit();
}

bool HolderImport::isConnected() const
{
    return m_connection && m_connection->isConnected();
}

bool HolderImport::start()
{
    if (!isConnected())
        return false;
    auto sql = std::make_unique<Statements>(m_connection->database());
    sql->scratch.setConnection(m_connection);
    // Only the numbers: the photos of the whole table are no business of an import.
    QSqlQuery numbers(m_connection->database());
    numbers.setForwardOnly(true);
    if (!numbers.exec(QStringLiteral(" SELECT HolderNo FROM HolderData  "))) {
        m_connection->setErrorsFrom(numbers.lastError());
        return false;
    }
    m_snapshot.clear();
    while (numbers.next())
        m_snapshot.insert(numbers.value(0).toString());
    numbers.finish();
    const QString columns = kWritten.join(QStringLiteral(", "));
    if (!sql->insert.prepare(QStringLiteral("INSERT INTO HolderData (HolderNo, %1, SequenceNo) "
                                            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                                 .arg(columns))
        || !sql->update.prepare(QStringLiteral("UPDATE HolderData SET %1 = ? WHERE HolderNo = ?")
                                    .arg(kWritten.join(QStringLiteral(" = ?, "))))) {
        m_connection->setErrorsFrom(sql->insert.lastError());
        return false;
    }
    m_columns.clear();
    m_written.clear();
    for (const QChar code : std::as_const(m_options.columnOrder)) {
        const TransferColumn *column = columnOf(code);
        m_columns << column;
        m_written << (column ? kWritten.indexOf(column->holderColumn) : -1);
    }
    m_sql = std::move(sql);
    m_savepoints = m_connection->engine() == zq::data::Engine::PostgreSQL;
    m_inBatch = m_connection->begin();
    m_sinceCommit.start();
    return true;
}

// A failed statement makes a PostgreSQL transaction unusable until it is rolled back, so
// each line's writes sit in a savepoint there. SQLite undoes a failed statement by itself
// and keeps the transaction; a savepoint would only cost a journal file per line.
bool HolderImport::savepoint()
{
    if (!m_inBatch || !m_savepoints)
        return true;
    return m_sql->control.exec(QStringLiteral("SAVEPOINT zq_line"));
}

void HolderImport::endSavepoint(bool keep)
{
    if (!m_inBatch || !m_savepoints)
        return;
    if (!keep)
        m_sql->control.exec(QStringLiteral("ROLLBACK TO SAVEPOINT zq_line"));
    m_sql->control.exec(QStringLiteral("RELEASE SAVEPOINT zq_line"));
}

void HolderImport::commitIfDue()
{
    if (m_sinceCommit.elapsed() < kCommitEveryMs || !isConnected())
        return;
    if (m_inBatch)
        m_connection->commit();
    m_inBatch = m_connection->begin();
    m_sinceCommit.restart();
}

QString HolderImport::numberOf(int table, const QString &name)
{
    if (name.isEmpty())
        return QString();
    const auto known = m_numbers[table].constFind(name);
    if (known != m_numbers[table].constEnd())
        return *known;
    const NameTable &t = kNameTables[table];
    const QString tableName = QLatin1String(t.table);
    QString number = name;
    Recordset &q = m_sql->scratch;
    if (name.contains(QChar(0)) || !savepoint())
        return name;
    bool keep = false;
    try {
        const QString sql = QStringLiteral(" SELECT * FROM %1 WHERE %2 = ").arg(tableName, t.name)
                            + Connection::quoted(name) + QStringLiteral(" ");
        if (zq::data::RunQuery(&q, sql, 0) == 1) {
            keep = true;
            if (!q.isEmpty()) {
                number = q.text(QLatin1String(t.number)).trimmed();
            } else if (storable(tableName, QLatin1String(t.number), name)
                       && storable(tableName, QLatin1String(t.name), name)) {
                q.append();
                q.setField(QLatin1String(t.number), name);
                q.setField(QLatin1String(t.name), name);
                q.setField(QStringLiteral("Description"), name);
                try {
                    q.post();
                } catch (...) {
                    q.cancel();
                    keep = false;
                }
            }
        }
    } catch (...) {
        keep = false;
    }
    q.close();
    endSavepoint(keep);
    m_numbers[table].insert(name, number);
    return number;
}

bool HolderImport::storeHolder(const QString &number, const QVariantList &values, bool exists)
{
    const QList<int> &widths = holderWidths();
    if (!fits(widths.last(), number))
        return false;
    for (int i = 0; i < values.size(); ++i)
        if (values.at(i).metaType().id() == QMetaType::QString
            && !fits(widths.at(i), values.at(i).toString()))
            return false;
    QSqlQuery &q = exists ? m_sql->update : m_sql->insert;
    int i = 0;
    if (!exists)
        q.bindValue(i++, number);
    for (const QVariant &v : values)
        q.bindValue(i++, v);
    q.bindValue(i, exists ? QVariant(number) : QVariant(qsizetype(m_snapshot.size()) + 1));
    if (!savepoint())
        return false;
    const bool ok = q.exec();
    endSavepoint(ok);
    return ok;
}

HolderImport::Outcome HolderImport::importLine(const QString &line)
{
    if (!m_sql)
        return Outcome::Failed;
    enum { Name, Email, Def1, Def2, Description, Birthday, Start, Expired, Pin, Dept, Title, Type };
    Outcome outcome = Outcome::Ignored;
    try {
        const qsizetype codes = m_options.columnOrder.size();
        const std::optional<QStringList> fields = fieldsFor(line, m_options.separator, codes);
        QVariantList values(kWritten.size(), QVariant(QString()));
        const QVariant today = stampOf(m_options.today);
        values[Birthday] = values[Start] = values[Expired] = today;
        QString holderNo;
        QString names[3];
        for (qsizetype k = 0; fields && k < codes; ++k) {
            const QString &field = fields->at(k);
            const TransferColumn *column = m_columns.at(k);
            if (field.isEmpty() || !column)
                continue;
            const qsizetype at = m_written.at(k);
            switch (column->kind) {
            case ColumnKind::Text:
                if (column->code == u'1')
                    holderNo = field;
                else
                    values[at] = field;
                break;
            case ColumnKind::Date: {
                const std::optional<QDate> day = readDate(field, m_options.dateFormat);
                // The zero date is what an empty date was written as.
                if (day && *day == zeroDate())
                    values[at] = QVariant();
                else
                    values[at] = stampOf(day ? *day : m_options.today);
                break;
            }
            case ColumnKind::Name:
                names[column->code.unicode() - 'A'] = field;
                break;
            }
        }
        if (holderNo.trimmed().isEmpty())
            return Outcome::Ignored;
        values[Dept] = numberOf(0, names[0]);
        values[Title] = numberOf(1, names[1]);
        values[Type] = numberOf(2, names[2]);

        const bool exists = m_snapshot.contains(holderNo);
        if (exists && !m_options.cover) {
            outcome = Outcome::Kept;
        } else if (storeHolder(holderNo, values, exists)) {
            outcome = exists ? Outcome::Updated : Outcome::Inserted;
            if (!exists)
                m_snapshot.insert(holderNo);
        } else {
            outcome = Outcome::Failed;
        }
    } catch (...) {
        outcome = Outcome::Failed;
    }
    ++m_counts[int(outcome)];
    commitIfDue();
    return outcome;
}

bool HolderImport::finish()
{
    if (!m_inBatch)
        return isConnected();
    m_inBatch = false;
    return m_connection->commit();
}

} // namespace zq::transfer
