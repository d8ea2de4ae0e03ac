#pragma once

#include "zqdata_export.h"

#include "Dialect.h"

#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <stdexcept>

namespace zq::data {

class Backend;
enum class BackendKind;

/// One entry of the error list of the last failure.
///
/// `nativeCode` follows one rule on both engines: 0 means the link to the database is
/// gone (the caller closes the connection), anything else is a plain statement error.
struct DbErrorItem
{
    int nativeCode = 0;
    QString sqlState; ///< SQLSTATE on PostgreSQL, the SQLite result code as text otherwise
    QString text;
};

/// `DbErrorItem::nativeCode` of a write that matched no row because another connection
/// changed or deleted the row after it was read. Nothing was written; the caller keeps its
/// input and tells the user.
inline constexpr int kRowConflictCode = -2;

/// True when `errors` report such a conflict.
ZQDATA_EXPORT bool isRowConflict(const QList<DbErrorItem> &errors);

/// Thrown by `Recordset` and `Connection` operations that fail; carries the error list.
class ZQDATA_EXPORT DbError : public std::runtime_error
{
public:
    explicit DbError(const QList<DbErrorItem> &errors);
    explicit DbError(const QString &message);
    const QList<DbErrorItem> &errors() const { return m_errors; }
    /// True for a write that found its row changed or deleted meanwhile.
    bool isConflict() const { return isRowConflict(m_errors); }

private:
    QList<DbErrorItem> m_errors;
    QList<DbErrorItem> m_commitRefusal;
};

/// The host's database connection: one `QSqlDatabase` under a unique connection name.
///
/// The host creates and owns it; the module opens it, reads its table list, runs its
/// statements through `Recordset` and closes it only when a statement reports a lost link.
class ZQDATA_EXPORT Connection : public QObject
{
    Q_OBJECT
public:
    explicit Connection(QObject *parent = nullptr);
    ~Connection() override;

    /// Use an SQLite database file (created when missing).
    void setSQLiteFile(const QString &path);
    /// Use a PostgreSQL server; `conninfo` is "key=value" pairs: host, port, user,
    /// password, dbname (as libpq writes them).
    void setPostgres(const QString &conninfo);

    Engine engine() const { return m_engine; }
    /// The engine seam: the one way to the engine's own client library, or to Qt's driver
    /// alone (see `Backend`). Made anew when the engine is set.
    Backend &backend() const { return *m_backend; }
    const Dialect &dialect() const { return Dialect::of(m_engine); }
    /// Makes this connection take a backend of `kind` from now on, whatever ZQ_DATA_BACKEND
    /// says (for comparing the ways side by side).
    void setBackendKind(BackendKind kind);
    /// How often a direct way handed a statement to Qt's driver on this connection.
    int fallbacks() const;
    QString connectionName() const { return m_name; }
    /// The underlying database handle (valid between construction and destruction).
    QSqlDatabase database() const;

    /// Connects. Returns true when connected (also when it already was); on failure
    /// `errors()` holds the reason.
    bool open();
    /// Disconnects; open recordsets keep their fetched rows but can no longer post.
    void close();
    /// True while the link is usable. Reflects a link that broke underneath (PostgreSQL
    /// server gone) only after a statement has failed on it.
    bool isConnected() const;

    /// Closes a connection whose link is gone (a native code 0). Unlike `close()`, the next
    /// command that needs the database (`ensureOpen()`) connects again, except while a
    /// transaction that the lost link ended is still to be rolled back by its owner.
    void closeLostLink();
    /// True when the connection was open and is no longer, without `close()`: the link was
    /// lost (`closeLostLink()`, or the driver found it gone) and is not open again yet.
    bool isLinkLost() const { return !m_closedByHost && !isConnected(); }
    /// True when connected; reconnects first after a lost link (see `closeLostLink()`).
    /// A connection closed by `close()` stays closed.
    bool ensureOpen();
    /// Closes and opens again (the host's Reconnect command); false with `errors()` filled
    /// when the database cannot be reached.
    bool reconnect();

    /// The user tables of the connected database (system tables excluded), as the engine
    /// reports them (PostgreSQL folds them to lower case).
    QStringList userTables() const;
    /// Case-insensitive look-up in `userTables()`.
    bool hasTable(const QString &name) const;

    bool begin();
    /// Emits `committing()`, then commits; a refused commit (`refuseCommit()`) rolls the
    /// transaction back and fails with the refusal's errors.
    bool commit();
    bool rollback();
    /// Called by a handler of `committing()` whose writes failed: the transaction must not
    /// commit without them.
    void refuseCommit(const QList<DbErrorItem> &errors) { m_commitRefusal = errors; }
    bool inTransaction() const { return m_inTransaction; }

    /// Runs one statement without rows. Returns false and fills `errors()` on failure.
    bool execute(const QString &sql);
    /// The rows the last successful `execute` changed (-1 when the engine cannot tell).
    int rowsAffected() const { return m_rowsAffected; }

    /// The error list of the last failure (empty after a success that cleared it).
    const QList<DbErrorItem> &errors() const { return m_errors; }
    void clearErrors() { m_errors.clear(); }
    /// Replaces the error list (for failures found by the data layer itself).
    void setErrors(const QList<DbErrorItem> &errors) { m_errors = errors; }
    /// Replaces the error list by the translation of `error`; a link the driver found gone
    /// is closed as by `closeLostLink()`.
    void setErrorsFrom(const class QSqlError &error);
    /// The error list `error` translates to, by the rule of `DbErrorItem::nativeCode`.
    QList<DbErrorItem> translate(const class QSqlError &error) const;

    /// The SQL string literal of `text`: enclosed in single quotes, each quote doubled.
    /// Backslashes and every other character stay as they are (standard conforming
    /// strings on both engines). Throws `std::invalid_argument` for a text holding NUL,
    /// which neither engine can store in a text column.
    static QString quoted(const QString &text);

    /// The zone-free text form in which date-time values are written: yyyy-MM-dd HH:mm:ss.
    static QString dateTimeText(const class QDateTime &value);

signals:
    void connectedChanged(bool connected);
    /// Just before the database handle closes (by `close()`, `closeLostLink()` or the
    /// destructor): statements prepared on the engine's own handle must go now.
    void closing();
    /// Just before `commit()` asks the engine to commit: writes kept back for the end of the
    /// transaction go now, through this connection, inside the transaction.
    void committing();
    /// The transaction ended without committing: `rollback()`, or a commit that failed or
    /// was refused. (A handle that closes tells `closing()` instead.)
    void transactionDropped();

private:
    // Tells closing() and closes the driver's handle; whether it was open.
    bool closeHandle();
    QString m_name;
    Engine m_engine = Engine::SQLite;
    std::optional<BackendKind> m_backendKind;
    std::unique_ptr<Backend> m_backend;
    bool m_inTransaction = false;
    int m_rowsAffected = -1;
    bool m_closedByHost = true; // also before the first open()
    QList<DbErrorItem> m_errors;
    QList<DbErrorItem> m_commitRefusal;
};

} // namespace zq::data
