// The reference ways of reading text rows and writing rows in bulk: Qt's SQL driver alone.
// Every backend falls back to them, and ZQ_DATA_BACKEND=reference takes them always.
#include "Backend.h"
#include "Connection.h"
#include "TextRows.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace zq::data {

namespace {

class PlainTextCursor final : public TextCursor
{
public:
    PlainTextCursor(Connection &connection, TextRowBuffer &rows)
        : m_connection(connection)
        , m_rows(rows)
    {}

    bool exec(const QByteArray &sql, bool &declined) override
    {
        declined = false;
        m_query = QSqlQuery(m_connection.database());
        m_query.setForwardOnly(true);
        if (!m_query.exec(QString::fromUtf8(sql))) {
            fail();
            return false;
        }
        m_record = m_query.record();
        m_rows.cells.resize(m_record.count());
        m_values.resize(m_record.count());
        m_active = true;
        return true;
    }

    int next() override
    {
        if (!m_active)
            return 0;
        if (!m_query.next()) {
            m_active = false;
            if (m_query.lastError().isValid()) {
                fail();
                return -1;
            }
            return 0;
        }
        m_rows.row.clear();
        for (int i = 0; i < m_rows.cells.size(); ++i) {
            const QVariant v = m_query.value(i);
            m_values[i] = v;
            TextCell &c = m_rows.cells[i];
            c.offset = qsizetype(m_rows.row.size());
            c.size = 0;
            c.null = v.isNull();
            c.text = c.null || v.metaType().id() == QMetaType::QString;
            if (c.text && !c.null) {
                const QByteArray utf8 = v.toString().toUtf8();
                c.text = isPlainUtf8(utf8);
                if (c.text) {
                    m_rows.row.append(utf8.constData(), size_t(utf8.size()));
                    c.size = utf8.size();
                }
            }
            m_rows.row.push_back('\0');
        }
        return 1;
    }

    void finish() override
    {
        m_active = false;
        m_query.finish();
    }

    QVariant value(int column) const override { return m_values.value(column); }
    QString name(int column) const override { return m_record.fieldName(column); }

private:
    void fail()
    {
        m_connection.setErrorsFrom(m_query.lastError());
        m_rows.fail(m_query.lastError().databaseText());
    }

    Connection &m_connection;
    TextRowBuffer &m_rows;
    QSqlQuery m_query;
    QSqlRecord m_record;
    QList<QVariant> m_values;
    bool m_active = false;
};

// One prepared statement run per row.
class PlainBulkTarget final : public BulkTarget
{
public:
    PlainBulkTarget(Connection &connection, const BulkSpec &spec)
        : m_connection(connection)
        , m_spec(spec)
    {}

    bool prepare(QString &error) override
    {
        m_query = QSqlQuery(m_connection.database());
        m_prepared = m_query.prepare(m_spec.rowStatement());
        if (!m_prepared)
            error = m_query.lastError().databaseText();
        return m_prepared;
    }

    bool isPrepared() const override { return m_prepared; }

    bool send(const BulkRows &rows, qsizetype &written, QString &error, bool &ended) override
    {
        // PostgreSQL's own ways write a batch whole or not at all (COPY, one update): so
        // does this one there, in a savepoint of the caller's transaction or else in one of
        // its own. SQLite's own way keeps the rows before a refused one, as this one does.
        const bool whole = m_connection.engine() == Engine::PostgreSQL;
        QSqlQuery control(m_connection.database());
        bool own = false;
        if (whole && !control.exec(QStringLiteral("SAVEPOINT zq_bulk"))) {
            own = true;
            control.exec(QStringLiteral("BEGIN"));
        }
        const bool ok = writeRows(rows, written, error);
        // Qt's driver does not tell whether SQLite ended the transaction itself (on a full
        // disk): the caller's next statement finds out.
        ended = false;
        if (whole) {
            if (ok)
                control.exec(own ? QStringLiteral("COMMIT")
                                 : QStringLiteral("RELEASE SAVEPOINT zq_bulk"));
            else
                control.exec(own ? QStringLiteral("ROLLBACK")
                                 : QStringLiteral("ROLLBACK TO SAVEPOINT zq_bulk"));
            if (!ok)
                written = 0;
        }
        return ok;
    }

    void release() override
    {
        m_query = QSqlQuery();
        m_prepared = false;
    }

private:
    bool writeRows(const BulkRows &rows, qsizetype &written, QString &error)
    {
        const int count = rows.columns();
        for (qsizetype row = 0; row < rows.rows; ++row) {
            // The key comes first in the rows of an update, last in its statement.
            for (int c = 0; c < count; ++c) {
                const int place = m_spec.key.isEmpty() ? c : (c == 0 ? count - 1 : c - 1);
                m_query.bindValue(place, valueOf(rows, rows.values[size_t(row * count + c)]));
            }
            if (!m_query.exec()) {
                error = m_query.lastError().databaseText();
                return false;
            }
            ++written;
        }
        return true;
    }

    static QVariant valueOf(const BulkRows &rows, const BulkRows::Value &v)
    {
        if (v.isInteger)
            return QVariant(qlonglong(v.integer));
        if (v.size < 0)
            return QVariant(QMetaType::fromType<QString>());
        // An empty text is written as '', not as NULL (a null QString).
        if (v.size == 0)
            return QStringLiteral("");
        return QString::fromUtf8(rows.bytes.constData() + v.begin, v.size);
    }

    Connection &m_connection;
    BulkSpec m_spec;
    QSqlQuery m_query;
    bool m_prepared = false;
};

} // namespace

std::unique_ptr<TextCursor> makePlainTextCursor(Connection &connection, TextRowBuffer &rows)
{
    return std::make_unique<PlainTextCursor>(connection, rows);
}

std::unique_ptr<BulkTarget> makePlainBulkTarget(Connection &connection, const BulkSpec &spec)
{
    return std::make_unique<PlainBulkTarget>(connection, spec);
}

} // namespace zq::data
