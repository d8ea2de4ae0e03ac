// zqtransfer as a site runs it: its own process, the suite loaded and every audit entry
// written, on the generated site (100,000 holders unless ZQ_BENCH_HOLDERS says otherwise).
// Each iteration runs the anchors and the tool in turn, each on a fresh copy of the site:
// - SQLite: `sqlite3 .import` of the rows the tool stores into HolderData with its indexes
//   (`ratio`), and anchor_insert, the C API's one prepared INSERT in one transaction, of
//   the same rows and columns (`c_ratio`);
// - PostgreSQL: `psql \copy` of those rows into a table LIKE HolderData INCLUDING ALL.
// ToolImport/new imports 100,000 new holders, ToolImport/existing overwrites as many
// existing ones (--overwrite) against the same loads of new holders. EngineImport is the
// window's import engine in this process with the suite bound as the host binds it (no
// window), against the tool.
#include "BenchSite.h"
#include "BenchSupport.h"
#include "HolderImport.h"
#include "HolderImportFile.h"
#include "Schema.h"
#include "Services.h"
#include "SuiteLoader.h"
#include "TransferFormat.h"
#include "TransferText.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

using zq::bench::Engine;
using zq::bench::SiteCopy;
using Clock = std::chrono::steady_clock;

const QString kOrder = QStringLiteral("123456789ABCD");

QTemporaryDir &dir()
{
    static QTemporaryDir d;
    return d;
}

// One line per holder of the site, every column; 100 department names, half of them new.
// `existing`: the site's own holders, else new ones.
QString importFile(bool existing)
{
    const QString path = dir().filePath(existing ? "existing.txt" : "new.txt");
    if (QFile::exists(path))
        return path;
    zq::transfer::TextLineWriter w(path);
    w.open();
    for (int h = 0; h < zq::bench::siteHolders(); ++h) {
        const int d = h % 100;
        const QString no = QStringLiteral("%1%2")
                               .arg(existing ? 'H' : 'N')
                               .arg(h, 6, 10, QLatin1Char('0'));
        w.writeLine(zq::transfer::buildLine(
            {no,
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

// The tool's import of `file`; seconds, -1 when it did not end with status 0.
double toolImport(SiteCopy &site, const QString &file, bool overwrite)
{
    // The copy's own connection stays open but idle, as another workstation's would.
    QStringList args{"import", file, "--user", "admin", "--columns", kOrder};
    args << siteArgs(site);
    if (overwrite)
        args << "--overwrite";
    const auto start = Clock::now();
    const double peak = zq::bench::runTool(QStringLiteral(ZQ_TRANSFER_BINARY), args);
    const double t = zq::bench::secondsSince(start);
    return peak < 0 ? -1 : t;
}

// The columns the tool writes for a new holder, in its order.
const QStringList kStored{"HolderNo",
                          "HolderName",
                          "Email",
                          "Definable1",
                          "Definable2",
                          "Description",
                          "Birthday",
                          "StartDate",
                          "ExpiredDate",
                          "PIN",
                          "DepartmentNo",
                          "TitleNo",
                          "TypeNo",
                          "SequenceNo"};

struct AnchorFiles
{
    QString allColumns; ///< every column of HolderData, as CSV; empty fields where unset
    QString stored;     ///< the columns of kStored, for anchor_insert
    QString error;
};

QString csvField(const QVariant &value)
{
    const QString text = value.isNull() ? QString() : value.toString();
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')))
        return text;
    return QLatin1Char('"') + QString(text).replace("\"", "\"\"") + QLatin1Char('"');
}

// The rows the tool stores for the new holders, as it stored them in a first run on SQLite
// (the date texts, the created codes' numbers and the sequence numbers included).
const AnchorFiles &anchorFiles()
{
    static const AnchorFiles files = [] {
        AnchorFiles f;
        SiteCopy site(Engine::SQLite);
        if (toolImport(site, importFile(false), false) < 0) {
            f.error = QStringLiteral("zqtransfer did not store every line");
            return f;
        }
        QStringList all;
        for (const auto &column : zq::data::findTable(QStringLiteral("HolderData"))->columns)
            all << QLatin1String(column.name);
        QSqlQuery q(site.connection().database());
        q.setForwardOnly(true);
        if (!q.exec(QStringLiteral("SELECT %1 FROM HolderData WHERE HolderNo LIKE 'N%' "
                                   "ORDER BY HolderNo")
                        .arg(all.join(", ")))) {
            f.error = q.lastError().text();
            return f;
        }
        f.allColumns = dir().filePath("anchor-all.csv");
        f.stored = dir().filePath("anchor-stored.csv");
        QFile allFile(f.allColumns), storedFile(f.stored);
        allFile.open(QIODevice::WriteOnly);
        storedFile.open(QIODevice::WriteOnly);
        QList<int> storedAt;
        for (const QString &c : kStored)
            storedAt << int(all.indexOf(c));
        while (q.next()) {
            QStringList row;
            for (int c = 0; c < all.size(); ++c)
                row << csvField(q.value(c));
            allFile.write(row.join(QLatin1Char(',')).toUtf8() + '\n');
            QStringList stored;
            for (const int c : storedAt)
                stored << row.at(c);
            storedFile.write(stored.join(QLatin1Char(',')).toUtf8() + '\n');
        }
        return f;
    }();
    return files;
}

// `sqlite3 .import` into HolderData, or `psql \copy` into a copy of its definition.
double engineToolLoad(SiteCopy &site)
{
    const QString file = anchorFiles().allColumns;
    const auto start = Clock::now();
    if (site.engine() == Engine::SQLite) {
        zq::bench::runTool("sqlite3",
                           {site.location(), ".mode csv", ".import " + file + " HolderData"});
        return zq::bench::secondsSince(start);
    }
    zq::bench::runTool("psql",
                       {site.location(),
                        "-q",
                        "-v",
                        "ON_ERROR_STOP=1",
                        "-c",
                        "\\copy HolderAnchor FROM '" + file + "' WITH (FORMAT csv)"});
    return zq::bench::secondsSince(start);
}

double cApiLoad(SiteCopy &site)
{
    const auto start = Clock::now();
    zq::bench::runTool(QStringLiteral(ZQ_ANCHOR_INSERT),
                       {site.location(), "HolderData", kStored.join(','), anchorFiles().stored});
    return zq::bench::secondsSince(start);
}

// The rows a load left in the table it filled (a load that failed leaves fewer).
int rowsOf(SiteCopy &site, const QString &table, const QString &where)
{
    QSqlQuery count(site.connection().database());
    return count.exec(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2").arg(table, where))
                   && count.next()
               ? count.value(0).toInt()
               : -1;
}

void ToolImport(benchmark::State &state, Engine engine, bool overwrite)
{
    if (!zq::bench::engineAvailable(state, engine))
        return;
    if (!anchorFiles().error.isEmpty()) {
        state.SkipWithError(qPrintable(anchorFiles().error));
        return;
    }
    const QString file = importFile(overwrite);
    const int holders = zq::bench::siteHolders();
    zq::bench::Paired byTool, byC;
    const bool pg = engine == Engine::PostgreSQL;
    for (auto _ : state) {
        double anchor = 0, anchorCpu = 0, cAnchor = 0, cAnchorCpu = 0;
        {
            SiteCopy site(engine);
            if (pg)
                site.connection().execute(
                    QStringLiteral("CREATE TABLE HolderAnchor (LIKE HolderData INCLUDING ALL)"));
            const zq::bench::CpuClock clock;
            anchor = engineToolLoad(site);
            anchorCpu = clock.seconds();
            if (rowsOf(site, pg ? "HolderAnchor" : "HolderData", "HolderNo LIKE 'N%'") != holders) {
                state.SkipWithError("the engine's own tool did not load every row");
                return;
            }
        }
        if (!pg) {
            SiteCopy site(engine);
            const zq::bench::CpuClock clock;
            cAnchor = cApiLoad(site);
            cAnchorCpu = clock.seconds();
            if (rowsOf(site, "HolderData", "HolderNo LIKE 'N%'") != holders) {
                state.SkipWithError("anchor_insert did not load every row");
                return;
            }
        }
        SiteCopy job(engine);
        const zq::bench::CpuClock jobClock(&job.connection());
        const double t = toolImport(job, file, overwrite);
        const double cpu = jobClock.seconds();
        if (t < 0) {
            state.SkipWithError("zqtransfer did not store every line");
            return;
        }
        state.SetIterationTime(t);
        byTool.add(anchor, t);
        byTool.addCpu(anchorCpu, cpu);
        if (!pg) {
            byC.add(cAnchor, t);
            byC.addCpu(cAnchorCpu, cpu);
        }
        state.counters["audit_entries"] = rowsOf(
            job, "ProgramRunEdit", overwrite ? "Entry LIKE 'E H%'" : "Entry LIKE 'A N%'");
    }
    byTool.report(state);
    byC.report(state, "c_");
}

// The window's engine in this process, with the suite bound to the copy as the host binds it.
double engineImport(SiteCopy &site, const QString &file)
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
    options.columnOrder = kOrder;
    options.userId = QStringLiteral("admin");
    options.dateFormat = zq::transfer::transferDateFormat();
    zq::transfer::HolderImport run(&site.connection(), options);
    run.start();
    zq::transfer::importFile(run, file, zq::transfer::ImportFileKind::Text);
    return zq::bench::secondsSince(start);
}

void EngineImport(benchmark::State &state, Engine engine)
{
    if (!zq::bench::engineAvailable(state, engine))
        return;
    const QString file = importFile(false);
    zq::bench::Paired paired;
    for (auto _ : state) {
        double tool = 0;
        {
            SiteCopy site(engine);
            tool = toolImport(site, file, false);
        }
        SiteCopy site(engine);
        const double t = engineImport(site, file);
        if (tool < 0) {
            state.SkipWithError("zqtransfer did not store every line");
            return;
        }
        state.SetIterationTime(t);
        paired.add(tool, t);
        state.counters["audit_entries"] = rowsOf(site, "ProgramRunEdit", "Entry LIKE 'A N%'");
    }
    paired.report(state);
}

void registerAll()
{
    for (const Engine engine : {Engine::SQLite, Engine::PostgreSQL}) {
        const std::string e = zq::bench::engineName(engine);
        const auto add = [](const std::string &name, auto &&fn) { zq::bench::addTimed(name, fn); };
        add("ToolImport/new/" + e, [engine](benchmark::State &s) { ToolImport(s, engine, false); });
        add("ToolImport/existing/" + e,
            [engine](benchmark::State &s) { ToolImport(s, engine, true); });
        add("EngineImport/new/" + e, [engine](benchmark::State &s) { EngineImport(s, engine); });
    }
}

} // namespace

int main(int argc, char **argv)
{
    registerAll();
    return zq::bench::runBenchmarks(argc, argv);
}
