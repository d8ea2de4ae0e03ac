#include "BenchSite.h"

#include "BenchSupport.h"
#include "Schema.h"
#include "SiteGenerator.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>

namespace zq::bench {

using zq::data::Connection;

int siteHolders()
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("ZQ_BENCH_HOLDERS", &ok);
    return ok && n > 0 ? n : 100000;
}

QString postgresServer()
{
    return qEnvironmentVariable("ZQ_TEST_PG");
}

const char *engineName(Engine engine)
{
    return engine == Engine::SQLite ? "sqlite" : "postgres";
}

bool engineAvailable(benchmark::State &state, Engine engine)
{
    if (engine == Engine::PostgreSQL && postgresServer().isEmpty()) {
        state.SkipWithError("no PostgreSQL server in this run (ZQ_TEST_PG unset; ./zq bench "
                            "starts one)");
        return false;
    }
    return true;
}

QString postgresDatabase(const QString &dbname)
{
    QStringList out;
    for (const QString &pair : postgresServer().split(QLatin1Char(' '), Qt::SkipEmptyParts))
        if (!pair.startsWith(QLatin1String("dbname=")))
            out << pair;
    out << QStringLiteral("dbname=") + dbname;
    return out.join(QLatin1Char(' '));
}

namespace {

QAtomicInt g_copies;

// The server's maintenance database, for creating and dropping the others.
bool administer(const QString &sql, QString &error)
{
    Connection admin;
    admin.setPostgres(postgresDatabase(QStringLiteral("postgres")));
    if (admin.open() && admin.execute(sql))
        return true;
    error = admin.errors().value(0).text;
    return false;
}

bool databaseExists(const QString &name)
{
    Connection admin;
    admin.setPostgres(postgresDatabase(QStringLiteral("postgres")));
    if (!admin.open())
        return false;
    QSqlQuery q(admin.database());
    return q.exec(QStringLiteral("SELECT 1 FROM pg_database WHERE datname = ")
                  + Connection::quoted(name))
           && q.next();
}

QString sitesFolder()
{
    static QTemporaryDir own;
    const QString shared = qEnvironmentVariable("ZQ_BENCH_SITES");
    if (!shared.isEmpty() && QDir().mkpath(shared))
        return shared;
    return own.path();
}

bool generate(Connection &c, int holders, QString &error)
{
    const char *engine = c.engine() == Engine::SQLite ? "SQLite" : "PostgreSQL";
    std::fprintf(stderr, "[bench] generating a site of %d holders on %s\n", holders, engine);
    QElapsedTimer clock;
    clock.start();
    if (!c.open()) {
        error = c.errors().value(0).text;
        return false;
    }
    // The index builds sort in memory rather than in temporary files; the setting belongs to
    // this connection, not to the site.
    if (c.engine() == Engine::SQLite)
        c.execute(QStringLiteral("PRAGMA cache_size = -262144"));
    if (!generateSite(c, holders, error))
        return false;
    std::fprintf(stderr,
                 "[bench] generated %d holders on %s in %.1f s\n",
                 holders,
                 engine,
                 double(clock.elapsed()) / 1000.0);
    return true;
}

} // namespace

QString siteTemplate(Engine engine, int holders, QString &error)
{
    if (engine == Engine::SQLite) {
        const QString file = QDir(sitesFolder())
                                 .filePath(QStringLiteral("site-%1.db").arg(holders));
        if (QFile::exists(file))
            return file;
        const QString part = file + QStringLiteral(".part");
        QFile::remove(part);
        {
            Connection c;
            c.setSQLiteFile(part);
            if (!generate(c, holders, error))
                return QString();
        }
        return QFile::rename(part, file) ? file : QString();
    }
    const QString name = QStringLiteral("zqb_site_%1").arg(holders);
    if (databaseExists(name))
        return name;
    const QString part = name + QStringLiteral("_part");
    if (!administer(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(part), error)
        || !administer(QStringLiteral("CREATE DATABASE %1").arg(part), error))
        return QString();
    {
        Connection c;
        c.setPostgres(postgresDatabase(part));
        if (!generate(c, holders, error))
            return QString();
    }
    if (!administer(QStringLiteral("ALTER DATABASE %1 RENAME TO %2").arg(part, name), error))
        return QString();
    return name;
}

namespace {

long backendPid(Connection *c)
{
    if (!c || c->engine() != Engine::PostgreSQL || !c->isConnected())
        return 0;
    QSqlQuery q(c->database());
    return q.exec(QStringLiteral("SELECT pg_backend_pid()")) && q.next() ? q.value(0).toLongLong()
                                                                         : 0;
}

// The server's main process, parent of every session.
long serverPid()
{
    static const long pid = [] {
        if (postgresServer().isEmpty())
            return 0L;
        Connection c;
        c.setPostgres(postgresDatabase(QStringLiteral("postgres")));
        return c.open() ? parentOf(backendPid(&c)) : 0L;
    }();
    return pid;
}

} // namespace

CpuClock::CpuClock(Connection *live)
    : m_backend(backendPid(live))
    , m_server(serverPid())
    , m_own(cpuSeconds())
    , m_session(cpuSecondsOf(m_backend))
    , m_ended(cpuSecondsOf(m_server, true))
{}

double CpuClock::seconds() const
{
    double total = cpuSeconds() - m_own;
    if (m_backend)
        total += cpuSecondsOf(m_backend) - m_session;
    if (m_server) {
        // A session's process ends a moment after its client does.
        QThread::msleep(100);
        total += cpuSecondsOf(m_server, true) - m_ended;
    }
    return total;
}

SiteCopy::SiteCopy(Engine engine, int holders)
    : m_engine(engine)
    , m_connection(std::make_unique<Connection>())
{
    make(holders);
}

SiteCopy::SiteCopy(Engine engine)
    : SiteCopy(engine, siteHolders())
{}

void SiteCopy::make(int holders)
{
    QString source;
    if (holders > 0) {
        source = siteTemplate(m_engine, holders, m_error);
        if (source.isEmpty()) {
            if (m_error.isEmpty())
                m_error = QStringLiteral("the site could not be generated");
            return;
        }
    }
    if (m_engine == Engine::SQLite) {
        m_folder = std::make_unique<QTemporaryDir>();
        m_name = m_folder->filePath(QStringLiteral("site.db"));
        if (!source.isEmpty() && !QFile::copy(source, m_name)) {
            m_error = QStringLiteral("the site could not be copied");
            return;
        }
        m_location = m_name;
        m_connection->setSQLiteFile(m_name);
    } else {
        if (postgresServer().isEmpty()) {
            m_error = QStringLiteral("no PostgreSQL server");
            return;
        }
        m_name = QStringLiteral("zqb_%1_%2")
                     .arg(QCoreApplication::applicationPid())
                     .arg(g_copies.fetchAndAddRelaxed(1));
        QString sql = QStringLiteral("CREATE DATABASE %1").arg(m_name);
        // A copy of the files, not of every page through the write-ahead log: a million
        // holders copy in seconds and leave no log behind.
        if (!source.isEmpty())
            sql += QStringLiteral(" TEMPLATE ") + source + QStringLiteral(" STRATEGY FILE_COPY");
        if (!administer(sql, m_error)) {
            m_name.clear();
            return;
        }
        m_location = postgresDatabase(m_name);
        m_connection->setPostgres(m_location);
    }
    if (!m_connection->open()) {
        m_error = m_connection->errors().value(0).text;
        return;
    }
    if (holders == 0 && !zq::data::createSchema(*m_connection))
        m_error = m_connection->errors().value(0).text;
}

SiteCopy::~SiteCopy()
{
    m_connection.reset();
    if (m_engine == Engine::PostgreSQL && !m_name.isEmpty()) {
        QString error;
        administer(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_name), error);
    }
}

std::unique_ptr<Connection> SiteCopy::openAnother() const
{
    auto c = std::make_unique<Connection>();
    if (m_engine == Engine::SQLite)
        c->setSQLiteFile(m_location);
    else
        c->setPostgres(m_location);
    c->open();
    return c;
}

namespace {
std::map<Engine, std::unique_ptr<SiteCopy>> &sharedSites()
{
    static std::map<Engine, std::unique_ptr<SiteCopy>> sites;
    return sites;
}
} // namespace

SiteCopy &sharedSite(Engine engine)
{
    std::unique_ptr<SiteCopy> &site = sharedSites()[engine];
    if (!site)
        site = std::make_unique<SiteCopy>(engine);
    return *site;
}

void releaseSharedSites()
{
    sharedSites().clear();
}

} // namespace zq::bench
