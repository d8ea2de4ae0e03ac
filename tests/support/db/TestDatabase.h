#pragma once

#include "Connection.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace zq::test {

/// The PostgreSQL server of the test run ("" when none was started).
QString postgresConnInfo();
/// True when the run must not skip PostgreSQL tests (under CI).
bool postgresRequired();

/// The rows `sql` reads, one text per row: each value in brackets, NULL as `<NULL>`, joined
/// by '|', so that two ways of storing the same data compare (and print) row by row.
/// Fails the test when the statement does not run.
QStringList rowTexts(const QSqlDatabase &db, const QString &sql);

/// Makes `connection` take the engine's own backend (`direct`) or the reference one (Qt's
/// driver alone) from now on, whatever ZQ_DATA_BACKEND says; its fallback count starts anew.
void useBackend(zq::data::Connection &connection, bool direct);

/// Printable engine names for parameterised tests.
std::string engineName(const testing::TestParamInfo<zq::data::Engine> &info);

/// A fresh, empty database for one test: an SQLite file in a temporary folder, or a new
/// database on the test run's PostgreSQL server, dropped again afterwards.
class TestDatabase
{
public:
    explicit TestDatabase(zq::data::Engine engine, bool withSchema = true);
    ~TestDatabase();

    /// False when the engine is not available here (then the test skips or fails).
    bool isAvailable() const { return m_available; }
    QString skipReason() const { return m_reason; }
    zq::data::Connection &connection() { return *m_connection; }
    /// A second, independent connection to the same database.
    std::unique_ptr<zq::data::Connection> openAnother() const;
    /// Runs statements one by one; fails the test on the first failure.
    void exec(const QStringList &statements);
    QString folder() const { return m_dir.path(); }
    QString conninfo() const { return m_conninfo; }

private:
    zq::data::Engine m_engine;
    bool m_available = false;
    QString m_reason;
    QTemporaryDir m_dir;
    QString m_dbName;
    QString m_conninfo;
    std::unique_ptr<zq::data::Connection> m_connection;
};

} // namespace zq::test

/// Opens a fresh database for the current engine parameter, skipping (outside CI) or failing
/// (under CI) when the engine is not available.
#define ZQ_OPEN_TEST_DB(var, engine, ...) \
    ::zq::test::TestDatabase var(engine, ##__VA_ARGS__); \
    if (!var.isAvailable()) { \
        if (::zq::test::postgresRequired()) \
            FAIL() << var.skipReason().toStdString(); \
        GTEST_SKIP() << var.skipReason().toStdString(); \
    }
