#include "AuditEntries.h"

#include "UserRights.h"

#include "Connection.h"
#include "Schema.h"

#include <QDateTime>
#include <QLoggingCategory>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <limits>
#include <map>
#include <memory>
#include <vector>

Q_LOGGING_CATEGORY(lcAudit, "zq.suite.audit")

namespace zq::suite {

using zq::data::Connection;

namespace {

// An import writes one entry per holder; at 256 rows a statement, 100,000 entries take 391
// statements instead of 100,000 (each a round trip to a PostgreSQL server).
constexpr int kRowsPerStatement = 256;

AuditWrites initialWrites()
{
    const QByteArray plain = qgetenv("ZQ_AUDIT_PLAIN");
    return plain.isEmpty() || plain == "0" ? AuditWrites::Deferred : AuditWrites::AtOnce;
}

AuditWrites &writesInForce()
{
    static AuditWrites writes = initialWrites();
    return writes;
}

int g_fallbacks = 0;

struct KeptEntry
{
    QString runTime, userId, rightKey, entry;
};

// The entries kept for a connection's open transaction, and its statement of many rows.
struct Kept
{
    std::vector<KeptEntry> entries;
    std::unique_ptr<QSqlQuery> fullInsert;
    QList<QMetaObject::Connection> links;
};

std::map<const Connection *, Kept> &keptOf()
{
    static std::map<const Connection *, Kept> kept;
    return kept;
}

QString insertOfRows(int rows)
{
    QString sql = QStringLiteral("INSERT INTO ProgramRunEdit (RunTime, UserID, RightKey, Entry) "
                                 "VALUES ");
    for (int r = 0; r < rows; ++r)
        sql += r == 0 ? QStringLiteral("(?, ?, ?, ?)") : QStringLiteral(", (?, ?, ?, ?)");
    return sql;
}

std::unique_ptr<QSqlQuery> prepared(Connection &connection, int rows)
{
    auto query = std::make_unique<QSqlQuery>(connection.database());
    if (!query->prepare(insertOfRows(rows))) {
        ++g_fallbacks;
        qCWarning(lcAudit) << "a statement of" << rows
                           << "audit entries could not be prepared, writing them one by one:"
                           << query->lastError().text();
        return nullptr;
    }
    return query;
}

// `rows` entries from `first` by the statement of as many rows, else one by one through the
// statement of one row. False with the connection's errors filled when the database refused
// them.
bool writeRows(Connection &connection, QSqlQuery *query, const KeptEntry *first, int rows)
{
    if (!query) {
        for (const KeptEntry *e = first; e != first + rows; ++e)
            if (!addProgramRunEditAt(connection, e->runTime, e->userId, e->rightKey, e->entry))
                return false;
        return true;
    }
    int at = 0;
    for (const KeptEntry *e = first; e != first + rows; ++e)
        for (const QString *value : {&e->runTime, &e->userId, &e->rightKey, &e->entry})
            query->bindValue(at++, *value);
    if (query->exec())
        return true;
    connection.setErrorsFrom(query->lastError());
    return false;
}

void dropKept(const Connection *connection)
{
    auto &all = keptOf();
    const auto it = all.find(connection);
    if (it == all.end())
        return;
    for (const QMetaObject::Connection &link : std::as_const(it->second.links))
        QObject::disconnect(link);
    all.erase(it);
}

// Writes the kept entries inside the transaction that is about to commit.
void writeKept(Connection &connection)
{
    auto &all = keptOf();
    const auto it = all.find(&connection);
    if (it == all.end() || it->second.entries.empty())
        return;
    Kept &kept = it->second;
    const std::vector<KeptEntry> entries = std::exchange(kept.entries, {});
    for (std::size_t at = 0; at < entries.size();) {
        const int rows = int(std::min<std::size_t>(kRowsPerStatement, entries.size() - at));
        std::unique_ptr<QSqlQuery> rest;
        QSqlQuery *query = nullptr;
        if (rows == kRowsPerStatement) {
            if (!kept.fullInsert)
                kept.fullInsert = prepared(connection, rows);
            query = kept.fullInsert.get();
        } else if (rows > 1) {
            rest = prepared(connection, rows);
            query = rest.get();
        } // one entry alone goes by the statement of one row prepared once per connection
        if (!writeRows(connection, query, entries.data() + at, rows)) {
            connection.refuseCommit(connection.errors());
            return;
        }
        at += std::size_t(rows);
    }
}

Kept &keptFor(Connection &connection)
{
    auto &all = keptOf();
    const auto found = all.find(&connection);
    if (found != all.end())
        return found->second;
    Kept &kept = all[&connection];
    const Connection *key = &connection;
    kept.links << QObject::connect(&connection, &Connection::committing, &connection, [key] {
        writeKept(*const_cast<Connection *>(key));
    });
    kept.links << QObject::connect(
        &connection, &Connection::transactionDropped, &connection, [key] {
            const auto it = keptOf().find(key);
            if (it != keptOf().end())
                it->second.entries.clear();
        });
    // The prepared statement goes with the handle it was prepared on, and a lost link takes
    // the transaction's writes with it.
    kept.links << QObject::connect(
        &connection, &Connection::closing, &connection, [key] { dropKept(key); });
    kept.links << QObject::connect(&connection, &QObject::destroyed, [key] { dropKept(key); });
    return kept;
}

// True when the engine would refuse the entry for a value wider than its column: such an
// entry is written at once, so that it fails where it is made, as it always has.
bool tooWide(const Connection &connection, const std::initializer_list<const QString *> &values)
{
    if (connection.engine() != zq::data::Engine::PostgreSQL)
        return false;
    static const zq::data::TableDef *table = zq::data::findTable(QStringLiteral("ProgramRunEdit"));
    if (!table)
        return true;
    int column = 1; // after RunTime
    for (const QString *value : values) {
        const int width = table->columns.value(column++).width;
        if (width > 0 && value->size() > width)
            return true;
    }
    return false;
}

} // namespace

AuditWrites auditWrites()
{
    return writesInForce();
}

void setAuditWrites(AuditWrites writes)
{
    writesInForce() = writes;
}

int auditFallbacks()
{
    return g_fallbacks;
}

int keptAuditEntries(const Connection &connection)
{
    const auto &all = keptOf();
    const auto it = all.find(&connection);
    return it == all.end() ? 0 : int(it->second.entries.size());
}

QString runTimeText(qint64 msecsSinceEpoch)
{
    const auto plain = [](qint64 msecs) {
        return Connection::dateTimeText(QDateTime::fromMSecsSinceEpoch(msecs));
    };
    if (auditWrites() == AuditWrites::AtOnce)
        return plain(msecsSinceEpoch);
    // Converting to local time asks the C library for the zone, which stats the zone file
    // each time: once per holder of an import. A second's text is the same all through it.
    thread_local qint64 second = std::numeric_limits<qint64>::min();
    thread_local QString text;
    const qint64 now = msecsSinceEpoch >= 0 ? msecsSinceEpoch / 1000
                                            : (msecsSinceEpoch - 999) / 1000;
    if (now != second) {
        text = plain(now * 1000);
        second = now;
    }
    return text;
}

bool recordAuditEntry(Connection &connection,
                      const QString &userId,
                      const QString &rightKey,
                      const QString &entry)
{
    // A text holding NUL is refused as its literal was.
    for (const QString *text : {&userId, &rightKey, &entry})
        if (text->contains(QChar(0)))
            Connection::quoted(*text);
    const QString at = runTimeText(QDateTime::currentMSecsSinceEpoch());
    if (auditWrites() == AuditWrites::AtOnce || !connection.inTransaction()
        || !connection.isConnected() || tooWide(connection, {&userId, &rightKey, &entry}))
        return addProgramRunEditAt(connection, at, userId, rightKey, entry);
    // A null text was written as '', never as NULL.
    const auto text = [](const QString &t) { return t.isNull() ? QStringLiteral("") : t; };
    keptFor(connection).entries.push_back({at, text(userId), text(rightKey), text(entry)});
    return true;
}

} // namespace zq::suite
