#pragma once

#include "Connection.h"

#include <QString>

#include <memory>

class QTemporaryDir;

namespace benchmark {
class State;
}

namespace zq::bench {

using zq::data::Engine;

/// The number of holders of the generated site: ZQ_BENCH_HOLDERS, 100,000 when unset.
int siteHolders();
/// The PostgreSQL server of this run as "key=value" pairs (ZQ_TEST_PG, which ./zq bench sets
/// to its throwaway cluster); "" when there is none.
QString postgresServer();
/// "sqlite" or "postgres", as the benchmarks are named.
const char *engineName(Engine engine);
/// False, and the benchmark skipped with the reason, when `engine` has no server this run.
bool engineAvailable(benchmark::State &state, Engine engine);

/// The generated site of `holders` holders, made now unless this run has it already (see
/// SiteCopy): the SQLite file or the PostgreSQL template database's name; "" and `error` when
/// it cannot be made.
QString siteTemplate(Engine engine, int holders, QString &error);

/// A private copy of the generated site that goes with the object: an SQLite file in a
/// temporary folder, or a PostgreSQL database made from the site's template database.
///
/// The site is generated once per size and engine and kept for the whole ./zq bench run
/// (ZQ_BENCH_SITES names the folder of the SQLite sites, a template database per size holds
/// the PostgreSQL one), so every benchmark program starts from the same rows and a copy costs
/// a file copy or a CREATE DATABASE ... TEMPLATE.
class SiteCopy
{
public:
    /// An empty database (`holders` 0 gives the schema only, < 0 not even that).
    SiteCopy(Engine engine, int holders);
    /// A copy of the site of siteHolders() holders.
    explicit SiteCopy(Engine engine);
    ~SiteCopy();
    SiteCopy(const SiteCopy &) = delete;
    SiteCopy &operator=(const SiteCopy &) = delete;

    bool isValid() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    Engine engine() const { return m_engine; }
    /// The SQLite file, or the PostgreSQL connection string.
    QString location() const { return m_location; }
    /// The database name (PostgreSQL) or the file (SQLite).
    QString name() const { return m_name; }
    /// The open connection to the copy.
    zq::data::Connection &connection() { return *m_connection; }
    /// A second connection to the same database (for child processes: location()).
    std::unique_ptr<zq::data::Connection> openAnother() const;

private:
    void make(int holders);
    Engine m_engine;
    QString m_location;
    QString m_name;
    std::unique_ptr<QTemporaryDir> m_folder;
    QString m_error;
    std::unique_ptr<zq::data::Connection> m_connection;
};

/// The CPU time of a piece of work wherever it runs: this process and the tools it waited
/// for, and on PostgreSQL the server too (the session of `live` while it runs, and every
/// session that ended meanwhile, such as a tool's).
class CpuClock
{
public:
    explicit CpuClock(zq::data::Connection *live = nullptr);
    /// CPU seconds since the start; waits a moment for ended sessions to be counted.
    double seconds() const;

private:
    long m_backend = 0;
    long m_server = 0;
    double m_own = 0;
    double m_session = 0;
    double m_ended = 0;
};

/// The copy of the site shared by the benchmarks of one program and engine, made on first use.
/// The copies are closed by runBenchmarks() while Qt's database registry still exists.
SiteCopy &sharedSite(Engine engine);
/// Closes the shared copies (runBenchmarks() does it at the end of the run).
void releaseSharedSites();

/// The PostgreSQL connection string of the server's database `dbname`.
QString postgresDatabase(const QString &dbname);

} // namespace zq::bench
