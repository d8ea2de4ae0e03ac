// Holder import and export on the generated site (100,000 holders unless ZQ_BENCH_HOLDERS
// says otherwise), on SQLite and on PostgreSQL, each next to the nearest bare job done in
// turn inside the same iteration (`ratio` = job / anchor):
// - text import against the engine's own loader filling a table of the file's columns with
//   HolderData's indexes: `sqlite3 .import`, `psql \copy ... FROM`;
// - text export against the engine's own client writing the export statement as CSV:
//   `sqlite3 -csv`, `psql \copy (...) TO`;
// - workbook export against libxlsxwriter alone writing the same cells in constant-memory
//   mode, workbook import against the text import of the same holders.
// `cpu_ratio` compares the CPU time of both, the database server's included: on a machine
// shared with other work it is the steadier figure. Peak memory is the resident high-water
// mark of the measured work.
#include "BenchSite.h"
#include "BenchSupport.h"
#include "HolderExport.h"
#include "HolderImport.h"
#include "HolderImportFile.h"
#include "TransferFormat.h"
#include "TransferText.h"
#include "WorkbookWriter.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <xlsxwriter.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

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

double peakMb()
{
    return double(zq::bench::peakKiB()) / 1024.0;
}

// The values of import line `h`: every column; 100 department names, half of them new.
QStringList importValues(int h, bool existing)
{
    const int d = h % 100;
    const QString department = d < 50 ? QStringLiteral("Department %1").arg(d)
                                      : QStringLiteral("Dept %1").arg(d);
    const QString no = existing ? QStringLiteral("H%1").arg(h, 6, 10, QLatin1Char('0'))
                                : QStringLiteral("N%1").arg(h, 6, 10, QLatin1Char('0'));
    return {no,
            QStringLiteral("Imported holder %1").arg(h),
            QStringLiteral("imported%1@example.com").arg(h),
            "1990-05-17",
            "2025-01-01",
            "2030-12-31",
            "def one",
            "def two",
            "imported",
            department,
            QStringLiteral("Title %1").arg(h % 10),
            QStringLiteral("Type %1").arg(h % 5),
            QStringLiteral("%1").arg(h % 10000, 4, 10, QLatin1Char('0'))};
}

// One line per holder of the site.
QString importFile(bool existing)
{
    const QString path = dir().filePath(existing ? "existing.txt" : "new.txt");
    if (QFile::exists(path))
        return path;
    zq::transfer::TextLineWriter w(path);
    w.open();
    for (int h = 0; h < zq::bench::siteHolders(); ++h)
        w.writeLine(zq::transfer::buildLine(importValues(h, existing)));
    w.commit();
    return path;
}

// The new holders of importFile(false) as a workbook, one row each from A1.
QString importWorkbook()
{
    const QString path = dir().filePath("new.xlsx");
    if (QFile::exists(path))
        return path;
    zq::platform::WorkbookWriter book;
    book.create();
    book.selectFirstSheet();
    for (int h = 0; h < zq::bench::siteHolders(); ++h) {
        const QStringList values = importValues(h, false);
        for (int c = 0; c < values.size(); ++c)
            book.setCell(h, c, values.at(c));
    }
    book.saveAs(path);
    return path;
}

// The bare table the engines' loaders fill: the file's columns with HolderData's types,
// key and indexes (the department, title and type names stand where their numbers are
// indexed, the PIN where the sequence number is).
const QStringList kBareTable{
    "CREATE TABLE Bare (HolderNo varchar(20) NOT NULL PRIMARY KEY, HolderName varchar(40), "
    "Email varchar(40), Birthday timestamp, StartDate timestamp, ExpiredDate timestamp, "
    "Definable1 varchar(20), Definable2 varchar(20), Description varchar(40), "
    "DepartmentName varchar(20), TitleName varchar(20), TypeName varchar(20), PIN "
    "varchar(10), Rest text)",
    "CREATE INDEX b2 ON Bare (DepartmentName)",
    "CREATE INDEX b3 ON Bare (TitleName)",
    "CREATE INDEX b4 ON Bare (TypeName)",
    "CREATE INDEX b5 ON Bare (PIN)",
    "CREATE INDEX b6 ON Bare (HolderName)"};

// The engine's own loader: the file into a fresh bare table. Seconds.
double loadBare(Engine engine, const QString &file, double &cpu)
{
    SiteCopy bare(engine, -1);
    for (const QString &sql : kBareTable)
        if (!bare.connection().execute(sql))
            std::fprintf(stderr,
                         "%s: %s\n",
                         qPrintable(sql),
                         qPrintable(bare.connection().errors().value(0).text));
    bare.connection().close();
    const zq::bench::CpuClock clock;
    const auto start = Clock::now();
    if (engine == Engine::SQLite)
        zq::bench::runTool("sqlite3", {bare.location(), ".mode csv", ".import " + file + " Bare"});
    else
        zq::bench::runTool("psql",
                           {bare.location(),
                            "-q",
                            "-v",
                            "ON_ERROR_STOP=1",
                            "-c",
                            "\\copy Bare FROM '" + file + "' WITH (FORMAT csv)"});
    const double seconds = zq::bench::secondsSince(start);
    cpu = clock.seconds();
    return seconds;
}

struct ImportRun
{
    int stored = 0;
    double peak = 0;
    int refused = 0;
};

// The import as the import window runs it, from the file's kind on.
ImportRun importHolders(zq::data::Connection &c, const QString &file, bool cover)
{
    zq::transfer::ImportOptions options;
    options.columnOrder = kOrder;
    options.cover = cover;
    options.dateFormat = "yyyy-MM-dd";
    zq::transfer::HolderImport run(&c, options);
    run.start();
    zq::transfer::importFile(run, file, zq::transfer::importFileKind(file));
    return {run.stored(), peakMb(), run.count(zq::transfer::HolderImport::Outcome::Failed)};
}

// `cover` false: the new holders; true: the file's holders all exist and are overwritten.
void ImportText(benchmark::State &state, Engine engine, bool cover)
{
    if (!zq::bench::engineAvailable(state, engine))
        return;
    const QString file = importFile(cover);
    const QString newFile = importFile(false);
    zq::bench::Paired paired;
    ImportRun result;
    for (auto _ : state) {
        double anchorCpu = 0;
        const double anchor = loadBare(engine, newFile, anchorCpu);
        SiteCopy site(engine);
        if (!site.isValid()) {
            state.SkipWithError(qPrintable(site.error()));
            return;
        }
        zq::bench::resetPeak();
        const zq::bench::CpuClock clock(&site.connection());
        const auto start = Clock::now();
        result = importHolders(site.connection(), file, cover);
        const double t = zq::bench::secondsSince(start);
        state.SetIterationTime(t);
        paired.add(anchor, t);
        paired.addCpu(anchorCpu, clock.seconds());
        QSqlQuery count(site.connection().database());
        count.exec(QStringLiteral("SELECT COUNT(*) FROM HolderData"));
        state.counters["holders_after"] = count.next() ? count.value(0).toInt() : -1;
    }
    paired.report(state);
    state.counters["stored"] = result.stored;
    state.counters["refused"] = result.refused;
    state.counters["peak_MB"] = result.peak;
}

// The workbook of the new holders against the text import of the same holders.
void ImportWorkbook(benchmark::State &state, Engine engine)
{
    if (!zq::bench::engineAvailable(state, engine))
        return;
    const QString text = importFile(false);
    const QString book = importWorkbook();
    zq::bench::Paired paired;
    ImportRun result;
    for (auto _ : state) {
        double anchor = 0, anchorCpu = 0;
        {
            SiteCopy site(engine);
            const zq::bench::CpuClock clock(&site.connection());
            const auto start = Clock::now();
            importHolders(site.connection(), text, false);
            anchor = zq::bench::secondsSince(start);
            anchorCpu = clock.seconds();
        }
        SiteCopy site(engine);
        zq::bench::resetPeak();
        const zq::bench::CpuClock clock(&site.connection());
        const auto start = Clock::now();
        result = importHolders(site.connection(), book, false);
        const double t = zq::bench::secondsSince(start);
        state.SetIterationTime(t);
        paired.add(anchor, t);
        paired.addCpu(anchorCpu, clock.seconds());
    }
    paired.report(state);
    state.counters["stored"] = result.stored;
    state.counters["peak_MB"] = result.peak;
}

// One copy of the site per engine for the exports, which only read.
SiteCopy &readSite(Engine engine)
{
    return zq::bench::sharedSite(engine);
}

QString exportSql()
{
    zq::transfer::ExportRequest request;
    request.userId = "admin";
    return zq::transfer::exportStatement(request, zq::transfer::exportSelectList());
}

// psql itself: Debian's `psql` command is a Perl wrapper that picks the cluster's client,
// and its start-up is no part of the export.
QString psqlProgram()
{
    const QString bin = qEnvironmentVariable("ZQ_TEST_PG_BIN");
    return !bin.isEmpty() && QFile::exists(bin + "/psql") ? bin + "/psql" : QStringLiteral("psql");
}

// The engine's own client writing the export statement as CSV.
double shellExport(SiteCopy &site)
{
    const QString out = dir().filePath("shell.csv");
    const auto start = Clock::now();
    if (site.engine() == Engine::SQLite)
        zq::bench::runTool("sqlite3", {"-csv", site.location(), exportSql()}, out);
    else
        zq::bench::runTool(psqlProgram(),
                           {site.location(),
                            "-q",
                            "-v",
                            "ON_ERROR_STOP=1",
                            "-c",
                            "\\copy (" + exportSql() + ") TO '" + out + "' WITH (FORMAT csv)"});
    return zq::bench::secondsSince(start);
}

struct ExportRun
{
    int rows = 0;
    double peak = 0;
    QString error;
};

ExportRun exportHolders(zq::data::Connection &c, bool workbook)
{
    zq::transfer::ExportRequest request;
    request.userId = "admin";
    zq::transfer::HolderExport holders(&c, request, kOrder, "yyyy-MM-dd");
    ExportRun run;
    if (!holders.open()) {
        run.error = holders.errorText();
        return run;
    }
    const QString path = dir().filePath(workbook ? "export.xlsx" : "export.txt");
    const bool ok = workbook ? zq::transfer::writeWorkbook(holders, path, {}, run.error)
                             : zq::transfer::writeTextFile(holders, path, {}, run.error);
    if (ok)
        run.error.clear();
    else if (run.error.isEmpty())
        run.error = QStringLiteral("the export failed");
    run.rows = holders.rowCount();
    run.peak = peakMb();
    return run;
}

// The cells of the export, as UTF-8 in row order, for the bare workbook writer.
struct Cells
{
    std::vector<std::string> texts;
    int columns = 0;
};

const Cells &exportCells(zq::data::Connection &c)
{
    static std::map<QString, Cells> cells;
    Cells &result = cells[c.connectionName()];
    if (!result.texts.empty())
        return result;
    zq::transfer::ExportRequest request;
    request.userId = "admin";
    zq::transfer::HolderExport holders(&c, request, kOrder, "yyyy-MM-dd");
    holders.open();
    holders.forEachRow([&](int, const QStringList &values) {
        result.columns = int(values.size());
        for (const QString &v : values)
            result.texts.push_back(v.toStdString());
        return true;
    });
    return result;
}

// libxlsxwriter alone: the same cells into a constant-memory workbook.
double bareWorkbook(const Cells &cells)
{
    const QByteArray path = QFile::encodeName(dir().filePath("bare.xlsx"));
    const QByteArray tmp = QFile::encodeName(dir().path());
    const auto start = Clock::now();
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = const_cast<char *>(tmp.constData());
    options.use_zip64 = LXW_TRUE;
    lxw_workbook *book = workbook_new_opt(path.constData(), &options);
    lxw_worksheet *sheet = workbook_add_worksheet(book, nullptr);
    const int columns = std::max(1, cells.columns);
    for (size_t i = 0; i < cells.texts.size(); ++i)
        if (!cells.texts[i].empty())
            worksheet_write_string(sheet,
                                   lxw_row_t(i / columns),
                                   lxw_col_t(i % columns),
                                   cells.texts[i].c_str(),
                                   nullptr);
    workbook_close(book);
    return zq::bench::secondsSince(start);
}

void Export(benchmark::State &state, Engine engine, bool workbook)
{
    if (!zq::bench::engineAvailable(state, engine))
        return;
    SiteCopy &site = readSite(engine);
    if (!site.isValid()) {
        state.SkipWithError(qPrintable(site.error()));
        return;
    }
    const Cells *cells = workbook ? &exportCells(site.connection()) : nullptr;
    zq::bench::Paired paired;
    ExportRun run;
    for (auto _ : state) {
        const zq::bench::CpuClock anchorClock;
        const double anchor = workbook ? bareWorkbook(*cells) : shellExport(site);
        const double anchorCpu = anchorClock.seconds();
        zq::bench::resetPeak();
        // The cells the bare workbook writer needs stay resident meanwhile (about 450 MB at a
        // million holders): `baseline_MB` tells them from the export's own memory.
        state.counters["baseline_MB"] = peakMb();
        const zq::bench::CpuClock clock(&site.connection());
        const auto start = Clock::now();
        run = exportHolders(site.connection(), workbook);
        const double t = zq::bench::secondsSince(start);
        state.SetIterationTime(t);
        paired.add(anchor, t);
        paired.addCpu(anchorCpu, clock.seconds());
        if (!run.error.isEmpty())
            state.SkipWithError(qPrintable(run.error));
    }
    paired.report(state);
    state.counters["rows"] = run.rows;
    state.counters["peak_MB"] = run.peak;
}

void registerAll()
{
    for (const Engine engine : {Engine::SQLite, Engine::PostgreSQL}) {
        const std::string e = zq::bench::engineName(engine);
        const auto add = [](const std::string &name, auto &&fn) { zq::bench::addTimed(name, fn); };
        add("ImportText/new/" + e, [engine](benchmark::State &s) { ImportText(s, engine, false); });
        add("ImportText/existing/" + e,
            [engine](benchmark::State &s) { ImportText(s, engine, true); });
        add("ImportWorkbook/" + e, [engine](benchmark::State &s) { ImportWorkbook(s, engine); });
        add("ExportText/" + e, [engine](benchmark::State &s) { Export(s, engine, false); });
        add("ExportWorkbook/" + e, [engine](benchmark::State &s) { Export(s, engine, true); });
    }
}

} // namespace

int main(int argc, char **argv)
{
    registerAll();
    return zq::bench::runBenchmarks(argc, argv);
}
