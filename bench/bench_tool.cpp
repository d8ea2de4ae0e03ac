// zqtransfer on the generated site (100,000 holders unless ZQ_BENCH_HOLDERS says otherwise),
// on SQLite and on PostgreSQL, each next to its anchor done in turn inside the same iteration
// (`ratio` = job / anchor):
// - the tool's import of 100,000 new holders (its own process: start, suite, database)
//   against the window's engine importing the same file in this process, with the suite
//   bound as the host binds it, so that both write the same rows and audit entries;
// - the tool's dry run of that file against the tool's import of it.
#include "BenchSite.h"
#include "BenchSupport.h"
#include "HolderImport.h"
#include "HolderImportFile.h"
#include "Services.h"
#include "SuiteLoader.h"
#include "TransferFormat.h"
#include "TransferText.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

using zq::bench::Engine;
using zq::bench::SiteCopy;
using Clock = std::chrono::steady_clock;

QTemporaryDir &dir()
{
    static QTemporaryDir d;
    return d;
}

// One line per holder of the site, every column, all holders new; 100 department names,
// half of them new.
QString importFile()
{
    const QString path = dir().filePath("new.txt");
    if (QFile::exists(path))
        return path;
    zq::transfer::TextLineWriter w(path);
    w.open();
    for (int h = 0; h < zq::bench::siteHolders(); ++h) {
        const int d = h % 100;
        w.writeLine(zq::transfer::buildLine(
            {QStringLiteral("N%1").arg(h, 6, 10, QLatin1Char('0')),
             QStringLiteral("Imported holder %1").arg(h),
             QStringLiteral("imported%1@example.com").arg(h),
             "1990-05-17",
             "2025-01-01",
             "2030-12-31",
             "def one",
             "def two",
             "imported",
             d < 50 ? QStringLiteral("Department %1").arg(d) : QStringLiteral("Dept %1").arg(d),
             QStringLiteral("Title %1").arg(h % 10),
             QStringLiteral("Type %1").arg(h % 5),
             QStringLiteral("%1").arg(h % 10000, 4, 10, QLatin1Char('0'))}));
    }
    w.commit();
    return path;
}

QStringList siteArgs(const SiteCopy &site)
{
    return site.engine() == Engine::SQLite ? QStringList{"--db", site.location()}
                                           : QStringList{"--pg", site.location()};
}

// The tool's import (or dry run) of `file`; seconds, -1 when it did not end with status 0.
double toolImport(SiteCopy &site, const QString &file, bool dryRun)
{
    // The copy's own connection stays open but idle, as another workstation's would.
    QStringList args{"import", file, "--user", "admin"};
    args << siteArgs(site);
    if (dryRun)
        args << "--dry-run";
    const auto start = Clock::now();
    const double peak = zq::bench::runTool(QStringLiteral(ZQ_TRANSFER_BINARY), args);
    const double t = zq::bench::secondsSince(start);
    return peak < 0 ? -1 : t;
}

// The window's engine in this process, with the suite bound to the copy as the host binds it.
double engineImport(SiteCopy &site, const QString &file, int &stored)
{
    static SuiteLoader suite;
    static const QByteArray folder = dir().path().toUtf8() + '/';
    const ZQSuiteContext context{ZQ_SUITE_CONTEXT_VERSION,
                                 &site.connection(),
                                 folder.constData(),
                                 "admin",
                                 "en",
                                 ZQ_LANG_DIR,
                                 "",
                                 ""};
    if (!suite.loadSuite(QString(), context))
        std::fprintf(stderr, "suite: %s\n", qPrintable(suite.error()));
    intptr_t handles[6];
    suite.handles(handles);
    zq::services::bind(handles);
    const auto start = Clock::now();
    zq::transfer::ImportOptions options;
    options.columnOrder = QStringLiteral("123456789ABCD");
    options.dateFormat = zq::transfer::transferDateFormat();
    zq::transfer::HolderImport run(&site.connection(), options);
    run.start();
    zq::transfer::importFile(run, file, zq::transfer::ImportFileKind::Text);
    stored = run.stored();
    return zq::bench::secondsSince(start);
}

void ToolImport(benchmark::State &state, Engine engine)
{
    if (!zq::bench::engineAvailable(state, engine))
        return;
    const QString file = importFile();
    zq::bench::Paired paired;
    int stored = 0;
    for (auto _ : state) {
        double anchor = 0;
        {
            SiteCopy site(engine);
            anchor = engineImport(site, file, stored);
        }
        SiteCopy site(engine);
        const double t = toolImport(site, file, false);
        if (t < 0) {
            state.SkipWithError("zqtransfer did not store every line");
            return;
        }
        state.SetIterationTime(t);
        paired.add(anchor, t);
    }
    paired.report(state);
    state.counters["stored"] = stored;
}

void ToolDryRun(benchmark::State &state, Engine engine)
{
    if (!zq::bench::engineAvailable(state, engine))
        return;
    const QString file = importFile();
    zq::bench::Paired paired;
    for (auto _ : state) {
        SiteCopy site(engine);
        const double dry = toolImport(site, file, true);
        const double anchor = toolImport(site, file, false);
        if (dry < 0 || anchor < 0) {
            state.SkipWithError("zqtransfer did not judge every line good");
            return;
        }
        state.SetIterationTime(dry);
        paired.add(anchor, dry);
    }
    paired.report(state);
}

void registerAll()
{
    for (const Engine engine : {Engine::SQLite, Engine::PostgreSQL}) {
        const std::string e = zq::bench::engineName(engine);
        const auto add = [](const std::string &name, auto &&fn) { zq::bench::addTimed(name, fn); };
        add("ToolImport/new/" + e, [engine](benchmark::State &s) { ToolImport(s, engine); });
        add("ToolDryRun/new/" + e, [engine](benchmark::State &s) { ToolDryRun(s, engine); });
    }
}

} // namespace

int main(int argc, char **argv)
{
    registerAll();
    return zq::bench::runBenchmarks(argc, argv);
}
