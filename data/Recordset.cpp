#include "Recordset.h"

#include "Backend.h"
#include "Connection.h"
#include "RecordsetStore.h"
#include "Schema.h"
#include "SqlText.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlField>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>

namespace zq::data {

namespace {

DbError failure(Connection *connection, const QString &message, int nativeCode = -1)
{
    const QList<DbErrorItem> items{DbErrorItem{nativeCode, QString(), message}};
    if (connection)
        connection->setErrors(items);
    return DbError(items);
}

DbError failure(Connection *connection, const QSqlError &error)
{
    connection->setErrorsFrom(error);
    return DbError(connection->errors());
}

// Whether an edited value differs from the value read: numbers by value (an engine may read
// an integer column back as a double), everything else by its bound form, exactly.
bool sameValue(const QVariant &read, const QVariant &edited)
{
    const QVariant a = boundValue(read), b = boundValue(edited);
    const bool an = a.isNull(), bn = b.isNull();
    if (an || bn)
        return an == bn;
    return RecordsetStore::compareValues(a, b) == 0;
}

QVariant storedValue(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QVariant();
    if (value.metaType().id() == QMetaType::QDate)
        return value.toDate().startOfDay();
    return value;
}

} // namespace

Recordset::Recordset(QObject *parent)
    : QObject(parent)
    , m_store(std::make_unique<RecordsetStore>())
{}

Recordset::Recordset(const QString &objectName, QObject *parent)
    : Recordset(parent)
{
    setObjectName(objectName);
}

Recordset::~Recordset() = default;

void Recordset::setConnection(Connection *connection)
{
    m_connection = connection;
}

Connection *Recordset::connection() const
{
    return m_connection.data();
}

void Recordset::setStatement(const QString &sql)
{
    m_statement = sql;
    m_prepared = false;
}

void Recordset::setParameter(const QString &name, const QVariant &value)
{
    const QString key = name.startsWith(QLatin1Char(':')) ? name : QLatin1Char(':') + name;
    for (auto &p : m_parameters) {
        if (p.first == key) {
            p.second = value;
            return;
        }
    }
    m_parameters.append({key, value});
}

void Recordset::clearParameters()
{
    m_parameters.clear();
}

void Recordset::checkRunnable(Connection *c)
{
    if (!c || !c->ensureOpen()) {
        throw failure(c, tr("The query has no open connection."), 0);
    }
    if (m_statement.trimmed().isEmpty())
        throw failure(c, tr("The query has no statement."));
    const QString refusal = sqltext::singleStatementRefusal(m_statement);
    if (!refusal.isEmpty())
        throw failure(c, refusal);
}

QSqlQuery Recordset::runStatement()
{
    Connection *c = m_connection.data();
    checkRunnable(c);
    QSqlQuery q(c->database());
    q.setForwardOnly(true);
    bool ok;
    if (m_parameters.isEmpty()) {
        ok = q.exec(m_statement);
    } else {
        ok = q.prepare(m_statement);
        if (ok) {
            for (const auto &p : std::as_const(m_parameters)) {
                if (m_statement.contains(p.first))
                    q.bindValue(p.first, boundValue(p.second));
            }
            ok = q.exec();
        }
    }
    if (!ok)
        throw failure(c, q.lastError());
    c->clearErrors();
    return q;
}

void Recordset::open()
{
    close();
    Connection *c = m_connection.data();
    checkRunnable(c);
    auto store = std::make_unique<RecordsetStore>();
    c->backend().readRows(m_statement, m_parameters, *store);
    m_store = std::move(store);
    m_state = State::Browse;
    m_sort.clear();
    m_row = -1;
    m_bof = m_eof = true;
    emit rowsReset();
    if (!m_store->isEmpty())
        setRow(0);
    else
        emit dataChanged();
}

void Recordset::execute()
{
    close();
    m_rowsAffected = -1;
    m_rowsAffected = runStatement().numRowsAffected();
}

void Recordset::close()
{
    const bool wasOpen = m_state != State::Closed;
    m_store = std::make_unique<RecordsetStore>();
    m_state = State::Closed;
    m_sort.clear();
    m_row = -1;
    m_bof = m_eof = true;
    if (wasOpen) {
        emit rowsReset();
        emit currentRowChanged(-1);
        emit dataChanged();
    }
}

int Recordset::recordCount() const
{
    return m_state == State::Closed ? 0 : m_store->rowCount();
}

void Recordset::setRow(int row)
{
    const int count = recordCount();
    if (count == 0) {
        m_row = -1;
        m_bof = m_eof = true;
    } else {
        m_row = std::clamp(row, 0, count - 1);
        m_bof = m_eof = false;
    }
    emit currentRowChanged(m_row);
    emit dataChanged();
}

void Recordset::first()
{
    if (m_state != State::Browse)
        cancel();
    setRow(0);
}

void Recordset::last()
{
    if (m_state != State::Browse)
        cancel();
    setRow(recordCount() - 1);
}

void Recordset::next()
{
    if (recordCount() == 0)
        return;
    if (m_state != State::Browse)
        cancel();
    if (m_row >= recordCount() - 1) {
        m_eof = true;
        return;
    }
    setRow(m_row + 1);
}

void Recordset::prior()
{
    if (recordCount() == 0)
        return;
    if (m_state != State::Browse)
        cancel();
    if (m_row <= 0) {
        m_bof = true;
        return;
    }
    setRow(m_row - 1);
}

bool Recordset::moveTo(int row)
{
    if (row < 0 || row >= recordCount())
        return false;
    if (m_state != State::Browse)
        cancel();
    setRow(row);
    return true;
}

int Recordset::fieldCount() const
{
    return int(m_store->names.size());
}

QString Recordset::fieldName(int column) const
{
    return m_store->names.value(column);
}

int Recordset::fieldIndex(const QString &name) const
{
    return m_store->index.value(name.toLower(), -1);
}

bool Recordset::isBlobField(int column) const
{
    return m_store->kinds.value(column) == FieldKind::Blob;
}

QVariant Recordset::value(const QString &field) const
{
    const int i = fieldIndex(field);
    if (i < 0)
        throw DbError(tr("The query has no field %1.").arg(field));
    if (m_state == State::Insert || m_state == State::Edit)
        return m_store->buffer.value(i);
    if (m_row < 0 || m_row >= recordCount())
        throw DbError(tr("The query has no current row."));
    return m_store->value(m_row, i);
}

QVariant Recordset::valueAt(int row, int column) const
{
    if (row < 0 || row >= recordCount() || column < 0 || column >= fieldCount())
        return QVariant();
    return m_store->value(row, column);
}

QString Recordset::textOf(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QString();
    switch (value.metaType().id()) {
    case QMetaType::QDateTime:
        return Connection::dateTimeText(value.toDateTime());
    case QMetaType::QDate:
        return Connection::dateTimeText(value.toDate().startOfDay());
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        if (d == double(qint64(d)) && qAbs(d) < 9.0e15)
            return QString::number(qint64(d));
        return QString::number(d, 'g', 15);
    }
    case QMetaType::QByteArray:
        return QString::fromUtf8(value.toByteArray());
    default:
        return value.toString();
    }
}

QString Recordset::text(const QString &field) const
{
    return textOf(value(field));
}

QByteArray Recordset::bytes(const QString &field) const
{
    const QVariant v = value(field);
    return v.isNull() ? QByteArray() : v.toByteArray();
}

bool Recordset::isNull(const QString &field) const
{
    const QVariant v = value(field);
    return !v.isValid() || v.isNull();
}

QDateTime Recordset::dateTime(const QString &field) const
{
    const QVariant v = value(field);
    if (v.metaType().id() == QMetaType::QDateTime)
        return v.toDateTime();
    if (v.metaType().id() == QMetaType::QDate)
        return v.toDate().startOfDay();
    return RowCodec::parseDateTime(v.toString());
}

void Recordset::append()
{
    if (m_state == State::Closed)
        throw DbError(tr("The query is closed."));
    if (m_state != State::Browse)
        cancel();
    m_store->buffer = QVector<QVariant>(fieldCount());
    m_store->modified = QVector<bool>(fieldCount(), false);
    m_state = State::Insert;
    emit dataChanged();
}

void Recordset::edit()
{
    if (m_state == State::Insert || m_state == State::Edit)
        return;
    if (m_state == State::Closed || m_row < 0)
        throw DbError(tr("The query has no current row."));
    m_store->buffer = m_store->row(m_row);
    m_store->modified = QVector<bool>(fieldCount(), false);
    m_state = State::Edit;
}

void Recordset::setField(const QString &field, const QVariant &value)
{
    const int i = fieldIndex(field);
    if (i < 0)
        throw DbError(tr("The query has no field %1.").arg(field));
    if (m_state == State::Browse)
        edit();
    if (m_state != State::Insert && m_state != State::Edit)
        throw DbError(tr("The query is not being edited."));
    m_store->buffer[i] = storedValue(value);
    m_store->modified[i] = true;
    emit dataChanged();
}

void Recordset::cancel()
{
    if (m_state != State::Insert && m_state != State::Edit)
        return;
    m_state = State::Browse;
    m_store->buffer.clear();
    m_store->modified.clear();
    emit dataChanged();
}

QString Recordset::baseTable() const
{
    return sqltext::baseTableOf(m_statement);
}

WriteTarget Recordset::writeTarget() const
{
    Connection *c = m_connection.data();
    if (!c || !c->ensureOpen())
        throw failure(c, tr("The query has no open connection."), 0);
    const QString table = baseTable();
    if (table.isEmpty())
        throw failure(c, tr("The rows of this query cannot be changed."));
    const QSqlDatabase db = c->database();
    WriteTarget target;
    target.table = table;
    const QString key = table + QLatin1Char('\n') + db.connectionName() + QLatin1Char('\n')
                        + db.databaseName() + QLatin1Char('\n') + db.hostName() + QLatin1Char('\n')
                        + QString::number(db.port());
    if (key != m_schemaKey) {
        QSqlRecord rec = db.record(table);
        QSqlIndex pk = db.primaryIndex(table);
        if (rec.isEmpty()) {
            rec = db.record(table.toLower());
            pk = db.primaryIndex(table.toLower());
        }
        if (rec.isEmpty())
            throw failure(c, tr("The table %1 does not exist.").arg(table));
        m_schemaKey = key;
        m_schemaRecord = rec;
        m_schemaIndex = pk;
    }
    const QSqlRecord &rec = m_schemaRecord;
    const QSqlIndex &pk = m_schemaIndex;
    for (int i = 0; i < fieldCount(); ++i) {
        if (rec.indexOf(m_store->names.at(i)) >= 0)
            target.columns << i;
    }
    for (int k = 0; k < pk.count(); ++k) {
        const int i = fieldIndex(pk.fieldName(k));
        if (i < 0) {
            target.keys.clear();
            break;
        }
        target.keys << i;
    }
    if (target.keys.isEmpty()) {
        for (int i : std::as_const(target.columns))
            if (m_store->kinds.at(i) != FieldKind::Blob)
                target.keys << i;
    }
    return target;
}

QString Recordset::whereClause(const WriteTarget &target,
                               const QVector<QVariant> &original,
                               QVariantList &binds) const
{
    QStringList parts;
    for (int i : target.keys)
        parts << condition(i, original.at(i), binds);
    return parts.join(QStringLiteral(" AND "));
}

// "Column = value read", NULL-safe. A date-time read back as a date-time is matched to the
// second, whatever form another program stored it in (SQLite keeps text: a bare date, a
// 'T', fractions), so that such a row is not taken for one changed meanwhile.
QString Recordset::condition(int column, const QVariant &read, QVariantList &binds) const
{
    const QString &name = m_store->names.at(column);
    if (!read.isValid() || read.isNull())
        return name + QStringLiteral(" IS NULL");
    if (read.metaType().id() == QMetaType::QDateTime) {
        binds << boundValue(read);
        return m_connection->dialect().sameSecond(name);
    }
    binds << boundValue(read);
    return name + QStringLiteral(" = ?");
}

int Recordset::runWrite(const QString &sql, const QVariantList &binds)
{
    Connection *c = m_connection.data();
    QSqlQuery q(c->database());
    if (!q.prepare(sql))
        throw failure(c, q.lastError());
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, binds.at(i));
    if (!q.exec())
        throw failure(c, q.lastError());
    c->clearErrors();
    return q.numRowsAffected();
}

void Recordset::post()
{
    if (m_state != State::Insert && m_state != State::Edit)
        return;
    const WriteTarget target = writeTarget();
    const auto &names = m_store->names;
    const auto &buffer = m_store->buffer;
    QVariantList binds;
    if (m_state == State::Insert) {
        QStringList cols, marks;
        for (int i : target.columns) {
            if (!m_store->modified.at(i))
                continue;
            cols << names.at(i);
            marks << QStringLiteral("?");
            binds << boundValue(buffer.at(i));
        }
        const QString sql = cols.isEmpty()
                                ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(target.table)
                                : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                      .arg(target.table,
                                           cols.join(QStringLiteral(", ")),
                                           marks.join(QStringLiteral(", ")));
        runWrite(sql, binds);
        const QVector<QVariant> row = buffer;
        m_state = State::Browse;
        m_store->buffer.clear();
        m_store->modified.clear();
        m_store->appendRow(row);
        const int newRow = recordCount() - 1;
        emit rowInserted(newRow);
        setRow(newRow);
        return;
    }

    // Only the columns whose value really changed are written, and each is written only if
    // it still holds the value read (or already the new one): two workstations editing
    // different fields of a row both keep their change, and the same field is never
    // overwritten unseen.
    const QVector<QVariant> original = m_store->row(m_row);
    QStringList sets;
    QVector<int> changed;
    for (int i : target.columns) {
        if (!m_store->modified.at(i) || sameValue(original.at(i), buffer.at(i)))
            continue;
        sets << names.at(i) + QStringLiteral(" = ?");
        binds << boundValue(buffer.at(i));
        changed << i;
    }
    if (!sets.isEmpty()) {
        // A column another workstation set to the very value written here lost nothing.
        QStringList where{whereClause(target, original, binds)};
        for (int i : std::as_const(changed)) {
            if (target.keys.contains(i))
                continue;
            const QString read = condition(i, original.at(i), binds);
            where << QStringLiteral("(%1 OR %2)").arg(read, condition(i, buffer.at(i), binds));
        }
        const QString sql = QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                                .arg(target.table,
                                     sets.join(QStringLiteral(", ")),
                                     where.join(QStringLiteral(" AND ")));
        if (runWrite(sql, binds) == 0)
            throw conflict();
    }
    m_store->replaceRow(m_row, buffer);
    m_state = State::Browse;
    m_store->buffer.clear();
    m_store->modified.clear();
    emit rowChanged(m_row);
    emit dataChanged();
}

DbError Recordset::conflict() const
{
    return failure(m_connection.data(),
                   tr("The record was changed or deleted on another workstation."),
                   kRowConflictCode);
}

void Recordset::deleteCurrent()
{
    if (m_state == State::Insert || m_state == State::Edit)
        cancel();
    if (m_state == State::Closed || m_row < 0)
        throw DbError(tr("The query has no current row."));
    const WriteTarget target = writeTarget();
    // The row is deleted only as it was read: a row changed meanwhile is the other
    // workstation's to keep until this one has seen it.
    QVariantList binds;
    const QVector<QVariant> original = m_store->row(m_row);
    QStringList where{whereClause(target, original, binds)};
    for (int i : target.columns)
        if (!target.keys.contains(i) && m_store->kinds.at(i) != FieldKind::Blob)
            where << condition(i, original.at(i), binds);
    if (runWrite(QStringLiteral("DELETE FROM %1 WHERE %2")
                     .arg(target.table, where.join(QStringLiteral(" AND "))),
                 binds)
        == 0)
        throw conflict();
    const int removed = m_row;
    m_store->removeRow(removed);
    emit rowRemoved(removed);
    setRow(removed);
}

void Recordset::takeValuesFrom(const Recordset &shown)
{
    if (m_state != State::Browse)
        cancel();
    if (m_row < 0 || shown.m_row < 0 || shown.m_state == State::Closed)
        throw DbError(tr("The query has no current row."));
    QVector<QVariant> row = m_store->row(m_row);
    for (int i = 0; i < fieldCount(); ++i) {
        const int j = shown.fieldIndex(m_store->names.at(i));
        if (j >= 0)
            row[i] = shown.m_store->value(shown.m_row, j);
    }
    m_store->replaceRow(m_row, row);
}

void Recordset::setReadValue(const QString &field, const QVariant &value)
{
    const int i = fieldIndex(field);
    if (i < 0)
        throw DbError(tr("The query has no field %1.").arg(field));
    if (m_state != State::Browse)
        cancel();
    if (m_row < 0)
        throw DbError(tr("The query has no current row."));
    QVector<QVariant> row = m_store->row(m_row);
    row[i] = storedValue(value);
    m_store->replaceRow(m_row, row);
}

bool Recordset::matchesShown(const Recordset &shown) const
{
    if (m_row < 0 || shown.m_row < 0 || shown.m_state == State::Closed)
        return false;
    for (int i = 0; i < fieldCount(); ++i) {
        const int j = shown.fieldIndex(m_store->names.at(i));
        if (j < 0 || m_store->kinds.at(i) == FieldKind::Blob)
            continue;
        if (!sameValue(shown.m_store->value(shown.m_row, j), m_store->value(m_row, i)))
            return false;
    }
    return true;
}

void Recordset::setSort(const QString &sort)
{
    if (m_state == State::Closed) {
        m_sort = sort;
        return;
    }
    if (m_state != State::Browse)
        cancel();
    QVector<SortKey> keys;
    const QStringList parts = sort.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        const QStringList words = part.simplified().split(QLatin1Char(' '));
        if (words.isEmpty() || words.first().isEmpty())
            continue;
        const int i = fieldIndex(words.first());
        if (i < 0)
            throw DbError(tr("The query has no field %1.").arg(words.first()));
        bool descending = false;
        if (words.size() > 1) {
            if (words.at(1).compare(QLatin1String("DESC"), Qt::CaseInsensitive) == 0)
                descending = true;
            else if (words.at(1).compare(QLatin1String("ASC"), Qt::CaseInsensitive) != 0)
                throw DbError(tr("The sort order %1 is not understood.").arg(part.trimmed()));
        }
        keys.append({i, descending});
    }
    const int current = m_row >= 0 ? m_store->sequence.at(m_row) : -1;
    m_store->sortRows(keys);
    m_sort = sort;
    emit rowsReset();
    setRow(current >= 0 ? int(m_store->sequence.indexOf(current)) : 0);
}

} // namespace zq::data
