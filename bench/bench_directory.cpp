// zqtransfer sync-ldap against the run's directory server (100,000 people unless
// ZQ_BENCH_HOLDERS says otherwise), on SQLite and on PostgreSQL, each next to its anchor
// done in turn inside the same iteration (`ratio` = job / anchor):
// - the sync of every person into an empty site against the file sync (zqtransfer import
//   --overwrite) of the same people in the same columns (goal: at most 1.5);
// - a second sync of the unchanged directory against that first sync (goal: at most 0.3).
#include "BenchSite.h"
#include "BenchSupport.h"
#include "Connection.h"
#include "TransferFormat.h"
#include "TransferText.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

namespace {

using zq::bench::Engine;
using zq::bench::SiteCopy;
using Clock = std::chrono::steady_clock;

QTemporaryDir &dir()
{
    static QTemporaryDir d;
    return d;
}

QString env(const char *name)
{
    return qEnvironmentVariable(name);
}

QString base()
{
    return QStringLiteral("ou=bench,") + env("ZQ_TEST_LDAP_SUFFIX");
}

QString passwordFile()
{
    const QString path = dir().filePath("password");
    QFile f(path);
    if (!f.exists() && f.open(QIODevice::WriteOnly)) {
        f.write(env("ZQ_TEST_LDAP_SECRET").toUtf8());
        f.close();
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    return path;
}

// The people of the directory and the lines of the same people for the file sync: number,
// name, e-mail, department (100), title (10), type (5).
QString person(int h, int field)
{
    switch (field) {
    case 0:
        return QStringLiteral("P%1").arg(h, 6, 10, QLatin1Char('0'));
    case 1:
        return QStringLiteral("員工 %1").arg(h);
    case 2:
        return QStringLiteral("person%1@example.com").arg(h);
    case 3:
        return QStringLiteral("部門 %1").arg(h % 100);
    case 4:
        return QStringLiteral("Title %1").arg(h % 10);
    default:
        return QStringLiteral("Type %1").arg(h % 5);
    }
}

// Fills the directory once per run; "" when that worked.
QString loadDirectory()
{
    static QString error = [] {
        if (env("ZQ_TEST_LDAP").isEmpty())
            return QStringLiteral("no directory server for this run");
        // Filled already by an earlier program of the same run.
        QProcess probe;
        probe.setStandardOutputFile(QProcess::nullDevice());
        probe.start(QStringLiteral("ldapsearch"),
                    {"-x",
                     "-H",
                     env("ZQ_TEST_LDAP"),
                     "-D",
                     env("ZQ_TEST_LDAP_MANAGER"),
                     "-y",
                     passwordFile(),
                     "-b",
                     base(),
                     "-s",
                     "base",
                     "dn"});
        if (probe.waitForFinished(60000) && probe.exitCode() == 0)
            return QString();
        QByteArray ldif = "dn: " + base().toUtf8()
                          + "\nobjectClass: organizationalUnit\nou: bench\n\n";
        for (int h = 0; h < zq::bench::siteHolders(); ++h)
            ldif += QStringLiteral("dn: uid=p%1,%2\nobjectClass: inetOrgPerson\nuid: p%1\ncn: %3\n"
                                   "sn: x\nemployeeNumber: %4\nmail: %5\ndepartmentNumber: %6\n"
                                   "title: %7\nemployeeType: %8\n\n")
                        .arg(QString::number(h),
                             base(),
                             person(h, 1),
                             person(h, 0),
                             person(h, 2),
                             person(h, 3),
                             person(h, 4),
                             person(h, 5))
                        .toUtf8();
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start(QStringLiteral("ldapadd"),
                {"-x",
                 "-H",
                 env("ZQ_TEST_LDAP"),
                 "-D",
                 env("ZQ_TEST_LDAP_MANAGER"),
                 "-y",
                 passwordFile()});
        p.write(ldif);
        p.closeWriteChannel();
        if (!p.waitForFinished(-1) || p.exitCode() != 0)
            return QStringLiteral("ldapadd failed: ") + QString::fromUtf8(p.readAllStandardError());
        return QString();
    }();
    return error;
}

QString peopleFile()
{
    const QString path = dir().filePath("people.txt");
    if (QFile::exists(path))
        return path;
    zq::transfer::TextLineWriter w(path);
    w.open();
    for (int h = 0; h < zq::bench::siteHolders(); ++h)
        w.writeLine(zq::transfer::buildLine(
            {person(h, 0), person(h, 1), person(h, 2), person(h, 3), person(h, 4), person(h, 5)}));
    w.commit();
    return path;
}

QStringList siteArgs(const SiteCopy &site)
{
    return QStringList{
        site.engine() == Engine::SQLite ? "--db" : "--pg", site.location(), "--user", "admin"};
}

// An empty site whose administrator may import.
std::unique_ptr<SiteCopy> emptySite(Engine engine)
{
    auto site = std::make_unique<SiteCopy>(engine, 0);
    site->connection().execute(QStringLiteral(
        "INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('admin', 'A', 1)"));
    return site;
}

// Seconds of one run of the tool; -1 when it did not end with status 0.
double timed(const QStringList &args)
{
    const auto start = Clock::now();
    const double peak = zq::bench::runTool(QStringLiteral(ZQ_TRANSFER_BINARY), args);
    return peak < 0 ? -1 : zq::bench::secondsSince(start);
}

double fileSync(SiteCopy &site)
{
    return timed(QStringList{"import", peopleFile(), "--columns", "123ABC", "--overwrite"}
                 + siteArgs(site));
}

double directorySync(SiteCopy &site)
{
    return timed(QStringList{"sync-ldap",
                             "--uri",
                             env("ZQ_TEST_LDAP"),
                             "--base",
                             base(),
                             "--bind-dn",
                             env("ZQ_TEST_LDAP_READER"),
                             "--password-file",
                             passwordFile()}
                 + siteArgs(site));
}

void Sync(benchmark::State &state, Engine engine, bool unchanged)
{
    if (!zq::bench::engineAvailable(state, engine))
        return;
    const QString error = loadDirectory();
    if (!error.isEmpty()) {
        state.SkipWithError(error.toStdString().c_str());
        return;
    }
    zq::bench::Paired paired;
    for (auto _ : state) {
        double anchor = 0;
        double t = 0;
        if (unchanged) {
            auto site = emptySite(engine);
            anchor = directorySync(*site);
            t = directorySync(*site);
        } else {
            {
                auto site = emptySite(engine);
                anchor = fileSync(*site);
            }
            auto site = emptySite(engine);
            t = directorySync(*site);
        }
        if (anchor < 0 || t < 0) {
            state.SkipWithError("zqtransfer did not store every person");
            return;
        }
        state.SetIterationTime(t);
        paired.add(anchor, t);
    }
    paired.report(state);
}

void registerAll()
{
    for (const Engine engine : {Engine::SQLite, Engine::PostgreSQL}) {
        const std::string e = zq::bench::engineName(engine);
        zq::bench::addTimed("DirectorySync/first/" + e,
                            [engine](benchmark::State &s) { Sync(s, engine, false); });
        zq::bench::addTimed("DirectorySync/unchanged/" + e,
                            [engine](benchmark::State &s) { Sync(s, engine, true); });
    }
}

} // namespace

int main(int argc, char **argv)
{
    registerAll();
    return zq::bench::runBenchmarks(argc, argv);
}
