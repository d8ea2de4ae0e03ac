#include "Connection.h"

#include "Backend.h"
#include "SqlText.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <utility>

namespace zq::data {

namespace {

QAtomicInt g_connectionCounter;

QString joinErrors(const QList<DbErrorItem> &errors)
{
    QStringList parts;
    for (const DbErrorItem &e : errors)
        parts << QStringLiteral("[%1] %2").arg(e.sqlState, e.text);
    return parts.join(QLatin1Char('\n'));
}

// SQLSTATE classes and codes after which the PostgreSQL link cannot be used any more:
// connection exceptions (08xxx), the server shutting down or the backend killed (57P01-03).
bool isLostLinkState(const QString &state)
{
    return state.isEmpty() || state.startsWith(QLatin1String("08"))
           || state == QLatin1String("57P01") || state == QLatin1String("57P02")
           || state == QLatin1String("57P03");
}

// SQLite result codes after which the database file is unusable through this handle.
bool isLostLinkSQLite(int extendedCode)
{
    const int primary = extendedCode & 0xff;
    return primary == 10 /* IOERR family */ || primary == 11 /* CORRUPT */
           || primary == 14 /* CANTOPEN */ || primary == 26  /* NOTADB */
           || extendedCode == 1032 /* READONLY_DBMOVED */;
}

} // namespace

bool isRowConflict(const QList<DbErrorItem> &errors)
{
    for (const DbErrorItem &e : errors)
        if (e.nativeCode == kRowConflictCode)
            return true;
    return false;
}

DbError::DbError(const QList<DbErrorItem> &errors)
    : std::runtime_error(joinErrors(errors).toStdString())
    , m_errors(errors)
{}

DbError::DbError(const QString &message)
    : std::runtime_error(message.toStdString())
    , m_errors({DbErrorItem{-1, QString(), message}})
{}

Connection::Connection(QObject *parent)
    : QObject(parent)
    , m_name(QStringLiteral("zq-connection-%1").arg(g_connectionCounter.fetchAndAddRelaxed(1)))
    , m_backend(Backend::make(m_engine, *this))
{}

Connection::~Connection()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        if (db.isValid() && db.isOpen())
            emit closing();
        if (db.isValid())
            db.close();
    }
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase Connection::database() const
{
    return QSqlDatabase::database(m_name, false);
}

void Connection::setSQLiteFile(const QString &path)
{
    close();
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::removeDatabase(m_name);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    m_engine = Engine::SQLite;
    m_backend = Backend::make(m_engine, *this, m_backendKind);
}

void Connection::setBackendKind(BackendKind kind)
{
    m_backendKind = kind;
    m_backend = Backend::make(m_engine, *this, m_backendKind);
}

int Connection::fallbacks() const
{
    return m_backend->fallbacks();
}

void Connection::setPostgres(const QString &conninfo)
{
    close();
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::removeDatabase(m_name);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
    QStringList options{QStringLiteral("connect_timeout=10")};
    const QStringList pairs = conninfo.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &pair : pairs) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = pair.left(eq).trimmed().toLower();
        const QString value = pair.mid(eq + 1).trimmed();
        if (key == QLatin1String("host") || key == QLatin1String("hostaddr"))
            db.setHostName(value);
        else if (key == QLatin1String("port"))
            db.setPort(value.toInt());
        else if (key == QLatin1String("user"))
            db.setUserName(value);
        else if (key == QLatin1String("password"))
            db.setPassword(value);
        else if (key == QLatin1String("dbname"))
            db.setDatabaseName(value);
        else
            options << key + QLatin1Char('=') + value;
    }
    db.setConnectOptions(options.join(QLatin1Char(';')));
    m_engine = Engine::PostgreSQL;
    m_backend = Backend::make(m_engine, *this, m_backendKind);
}

bool Connection::open()
{
    QSqlDatabase db = database();
    if (!db.isValid()) {
        m_errors = {DbErrorItem{-1, QString(), tr("No database is configured.")}};
        return false;
    }
    if (db.isOpen())
        return true;
    m_inTransaction = false;
    if (!db.open()) {
        // A connection that cannot be made is a lost link by the module's rule.
        QList<DbErrorItem> items = translate(db.lastError());
        for (DbErrorItem &item : items)
            item.nativeCode = 0;
        m_errors = items;
        return false;
    }
    m_errors.clear();
    m_closedByHost = false;
    if (m_engine == Engine::PostgreSQL) {
        QSqlQuery q(db);
        q.exec(QStringLiteral("SET standard_conforming_strings = on"));
        q.exec(QStringLiteral("SET client_min_messages = warning"));
    }
    emit connectedChanged(true);
    return true;
}

bool Connection::closeHandle()
{
    QSqlDatabase db = database();
    if (!db.isValid())
        return false;
    const bool wasOpen = db.isOpen();
    if (wasOpen)
        emit closing();
    db.close();
    return wasOpen;
}

void Connection::close()
{
    if (!database().isValid())
        return;
    const bool wasOpen = closeHandle();
    m_inTransaction = false;
    m_closedByHost = true;
    if (wasOpen)
        emit connectedChanged(false);
}

void Connection::closeLostLink()
{
    if (!database().isValid())
        return;
    const bool wasOpen = closeHandle();
    // A transaction the link took with it stays marked until its owner rolls back, so that
    // no statement of it reconnects and runs on its own outside the transaction.
    if (wasOpen)
        emit connectedChanged(false);
}

bool Connection::ensureOpen()
{
    if (isConnected())
        return true;
    // Also a link the driver found gone while a statement ran on the handle directly.
    if (!isLinkLost() || m_inTransaction)
        return false;
    const QList<DbErrorItem> before = m_errors;
    if (open())
        return true;
    // Still unreachable: the next command tries again.
    if (m_errors.isEmpty())
        m_errors = before;
    return false;
}

bool Connection::reconnect()
{
    close();
    return open();
}

bool Connection::isConnected() const
{
    const QSqlDatabase db = database();
    return db.isValid() && db.isOpen();
}

QStringList Connection::userTables() const
{
    QStringList result;
    if (!isConnected())
        return result;
    const QStringList all = database().tables(QSql::Tables);
    for (const QString &name : all) {
        if (name.startsWith(QLatin1String("sqlite_"), Qt::CaseInsensitive))
            continue;
        result << name;
    }
    return result;
}

bool Connection::hasTable(const QString &name) const
{
    return userTables().contains(name, Qt::CaseInsensitive);
}

bool Connection::begin()
{
    QSqlDatabase db = database();
    if (!ensureOpen()) {
        m_errors = {DbErrorItem{0, QString(), tr("Not connected.")}};
        return false;
    }
    // SQLite: a transaction that reads before it writes would be upgraded to a writer
    // without the busy handler and fail at once while another workstation writes. Every
    // transaction of this code writes, so each takes the write lock at its start, waiting
    // for it as long as the busy timeout allows.
    if (m_engine == Engine::SQLite) {
        QSqlQuery immediate(db);
        if (!immediate.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
            setErrorsFrom(immediate.lastError());
            return false;
        }
    } else if (!db.transaction()) {
        setErrorsFrom(db.lastError());
        return false;
    }
    m_inTransaction = true;
    return true;
}

bool Connection::commit()
{
    QSqlDatabase db = database();
    if (!isConnected()) {
        m_inTransaction = false;
        m_errors = {DbErrorItem{0, QString(), tr("Not connected.")}};
        emit transactionDropped();
        return false;
    }
    m_commitRefusal.clear();
    emit committing();
    if (!m_commitRefusal.isEmpty()) {
        const QList<DbErrorItem> refusal = std::exchange(m_commitRefusal, {});
        db.rollback();
        m_inTransaction = false;
        m_errors = refusal;
        emit transactionDropped();
        return false;
    }
    // SQLite's own COMMIT keeps the result code (a full disk, a lock) that the driver's
    // commit() drops from its error.
    QSqlQuery sqliteCommit(db);
    const bool committed = m_engine == Engine::SQLite ? sqliteCommit.exec(QStringLiteral("COMMIT"))
                                                      : db.commit();
    if (!committed) {
        setErrorsFrom(m_engine == Engine::SQLite ? sqliteCommit.lastError() : db.lastError());
        // A failed COMMIT ends the transaction on both engines; roll back what is left.
        db.rollback();
        m_inTransaction = false;
        emit transactionDropped();
        return false;
    }
    m_inTransaction = false;
    return true;
}

bool Connection::rollback()
{
    QSqlDatabase db = database();
    m_inTransaction = false;
    emit transactionDropped();
    if (!isConnected())
        return false;
    if (!db.rollback()) {
        setErrorsFrom(db.lastError());
        return false;
    }
    return true;
}

bool Connection::execute(const QString &sql)
{
    m_rowsAffected = -1;
    if (!ensureOpen()) {
        m_errors = {DbErrorItem{0, QString(), tr("Not connected.")}};
        return false;
    }
    const QString refusal = sqltext::singleStatementRefusal(sql);
    if (!refusal.isEmpty()) {
        m_errors = {DbErrorItem{-1, QString(), refusal}};
        return false;
    }
    QSqlQuery q(database());
    if (!q.exec(sql)) {
        setErrorsFrom(q.lastError());
        return false;
    }
    m_rowsAffected = q.numRowsAffected();
    m_errors.clear();
    return true;
}

void Connection::setErrorsFrom(const QSqlError &error)
{
    m_errors = translate(error);
    // A failed write or transaction step tells of a lost link as a query does: the link is
    // closed, and the next command connects again.
    for (const DbErrorItem &e : std::as_const(m_errors)) {
        if (e.nativeCode == 0 && !database().isOpen()) {
            closeLostLink();
            break;
        }
    }
}

QList<DbErrorItem> Connection::translate(const QSqlError &error) const
{
    DbErrorItem item;
    item.sqlState = error.nativeErrorCode();
    item.text = error.text();
    if (m_engine == Engine::PostgreSQL) {
        if (isLostLinkState(item.sqlState) || !isConnected()) {
            item.nativeCode = 0;
        } else {
            // SQLSTATE is five digits and capitals: base 36 keeps each state distinct and
            // nonzero (the success state 00000 never reaches an error).
            bool ok = false;
            item.nativeCode = item.sqlState.toInt(&ok, 36);
            if (!ok || item.nativeCode == 0)
                item.nativeCode = 1;
        }
    } else {
        bool ok = false;
        const int code = item.sqlState.toInt(&ok);
        if (ok && isLostLinkSQLite(code))
            item.nativeCode = 0;
        else if (ok && code != 0)
            item.nativeCode = code;
        else
            // Errors of the driver itself (no SQLite code) are statement errors while the
            // file is open.
            item.nativeCode = isConnected() ? -1 : 0;
    }
    return {item};
}

QString Connection::quoted(const QString &text)
{
    if (text.contains(QChar(0)))
        throw std::invalid_argument("a text holding NUL cannot be stored");
    QString result;
    result.reserve(text.size() + 2);
    result += QLatin1Char('\'');
    for (const QChar c : text) {
        if (c == QLatin1Char('\''))
            result += QLatin1Char('\'');
        result += c;
    }
    result += QLatin1Char('\'');
    return result;
}

QString Connection::dateTimeText(const QDateTime &value)
{
    return value.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace zq::data
