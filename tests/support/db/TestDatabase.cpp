#include "TestDatabase.h"

#include "Backend.h"

#include "Schema.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace zq::test {

void useBackend(zq::data::Connection &connection, bool direct)
{
    connection.setBackendKind(direct ? zq::data::Backend::ownKind(connection.engine())
                                     : zq::data::BackendKind::Reference);
}

using zq::data::Connection;
using zq::data::Engine;

QString postgresConnInfo()
{
    return qEnvironmentVariable("ZQ_TEST_PG");
}

bool postgresRequired()
{
    return !qEnvironmentVariable("CI").isEmpty();
}

QStringList rowTexts(const QSqlDatabase &db, const QString &sql)
{
    QStringList result;
    QSqlQuery q(db);
    EXPECT_TRUE(q.exec(sql)) << sql.toStdString() << ": " << q.lastError().text().toStdString();
    while (q.next()) {
        QStringList values;
        for (int i = 0; i < q.record().count(); ++i)
            values << (q.isNull(i) ? QStringLiteral("<NULL>")
                                   : QLatin1Char('[') + q.value(i).toString() + QLatin1Char(']'));
        result << values.join(QLatin1Char('|'));
    }
    return result;
}

std::string engineName(const testing::TestParamInfo<Engine> &info)
{
    return info.param == Engine::SQLite ? "SQLite" : "PostgreSQL";
}

namespace {
QString replaceDbName(const QString &conninfo, const QString &dbname)
{
    QStringList out;
    for (const QString &pair : conninfo.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        if (!pair.startsWith(QLatin1String("dbname=")))
            out << pair;
    out << QStringLiteral("dbname=") + dbname;
    return out.join(QLatin1Char(' '));
}
} // namespace

TestDatabase::TestDatabase(Engine engine, bool withSchema)
    : m_engine(engine)
    , m_connection(std::make_unique<Connection>())
{
    if (engine == Engine::SQLite) {
        m_connection->setSQLiteFile(m_dir.filePath(QStringLiteral("site.db")));
    } else {
        const QString admin = postgresConnInfo();
        if (admin.isEmpty()) {
            m_reason = QStringLiteral("no PostgreSQL server for this run (ZQ_TEST_PG is unset)");
            return;
        }
        m_dbName = QStringLiteral("zqt_%1_%2")
                       .arg(QCoreApplication::applicationPid())
                       .arg(QRandomGenerator::global()->generate64() % 1000000000000ULL);
        Connection adminConnection;
        adminConnection.setPostgres(admin);
        if (!adminConnection.open()
            || !adminConnection.execute(QStringLiteral("CREATE DATABASE %1").arg(m_dbName))) {
            m_reason = QStringLiteral("cannot create a PostgreSQL test database: ")
                       + (adminConnection.errors().isEmpty()
                              ? QString()
                              : adminConnection.errors().first().text);
            m_dbName.clear();
            return;
        }
        m_conninfo = replaceDbName(admin, m_dbName);
        m_connection->setPostgres(m_conninfo);
    }
    if (!m_connection->open()) {
        m_reason = QStringLiteral("cannot open the test database: ")
                   + m_connection->errors().value(0).text;
        return;
    }
    if (withSchema && !zq::data::createSchema(*m_connection)) {
        m_reason = QStringLiteral("cannot create the schema: ")
                   + m_connection->errors().value(0).text;
        return;
    }
    m_available = true;
}

TestDatabase::~TestDatabase()
{
    m_connection.reset();
    if (!m_dbName.isEmpty()) {
        Connection adminConnection;
        adminConnection.setPostgres(postgresConnInfo());
        if (adminConnection.open())
            adminConnection.execute(
                QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_dbName));
    }
}

std::unique_ptr<Connection> TestDatabase::openAnother() const
{
    auto c = std::make_unique<Connection>();
    if (m_engine == Engine::SQLite)
        c->setSQLiteFile(m_dir.filePath(QStringLiteral("site.db")));
    else
        c->setPostgres(m_conninfo);
    c->open();
    return c;
}

void TestDatabase::exec(const QStringList &statements)
{
    for (const QString &sql : statements) {
        if (!m_connection->execute(sql)) {
            ADD_FAILURE() << "statement failed: " << sql.toStdString() << ": "
                          << m_connection->errors().value(0).text.toStdString();
            return;
        }
    }
}

} // namespace zq::test
