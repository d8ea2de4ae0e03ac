// Holder import and export on a 100,000-holder site against the sqlite3 shell doing the
// nearest bare job: `.import` of the same file into a table of plain columns, and `-csv`
// output of the export statement. Each pair runs in the same process run, so their ratio
// is what to read. Peak memory is the resident high-water mark of the measured work (the
// shell's as a child process).
#include "BenchSupport.h"
#include "Connection.h"
#include "HolderExport.h"
#include "HolderImport.h"
#include "SiteGenerator.h"
#include "TransferFormat.h"
#include "TransferText.h"

#include <QApplication>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

namespace {

constexpr int kHolders = 100000;
const QString kOrder = QStringLiteral("123456789ABCD");

QTemporaryDir &dir()
{
    static QTemporaryDir d;
    return d;
}

QString sitePath()
{
    return dir().filePath("site.db");
}

// The generated site, with the user's rights on every department so that the export of all
// departments takes every holder.
void makeSite()
{
    static bool made = false;
    if (made)
        return;
    made = true;
    zq::data::Connection c;
    c.setSQLiteFile(sitePath());
    c.open();
    QString error;
    if (!zq::bench::generateSite(c, kHolders, error))
        std::fprintf(stderr, "site generation failed: %s\n", qPrintable(error));
    c.begin();
    QSqlQuery q(c.database());
    q.exec("INSERT INTO UserRightDept (UserID, DepartmentNo) SELECT 'admin', DepartmentNo "
           "FROM DepartmentData");
    c.commit();
    c.close();
}

// 100,000 lines of every column; 100 department names, half of them new.
QString importFile(bool existing)
{
    const QString path = dir().filePath(existing ? "existing.txt" : "new.txt");
    if (QFile::exists(path))
        return path;
    zq::transfer::TextLineWriter w(path);
    w.open();
    for (int h = 0; h < kHolders; ++h) {
        const int d = h % 100;
        const QString department = d < 50 ? QStringLiteral("Department %1").arg(d)
                                          : QStringLiteral("Dept %1").arg(d);
        const QString no = existing ? QStringLiteral("H%1").arg(h, 6, 10, QLatin1Char('0'))
                                    : QStringLiteral("N%1").arg(h, 6, 10, QLatin1Char('0'));
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
             department,
             QStringLiteral("Title %1").arg(h % 10),
             QStringLiteral("Type %1").arg(h % 5),
             QStringLiteral("%1").arg(h % 10000, 4, 10, QLatin1Char('0'))}));
    }
    w.commit();
    return path;
}

// A fresh copy of the site for one iteration.
QString freshSite()
{
    const QString copy = dir().filePath("work.db");
    QFile::remove(copy);
    QFile::copy(sitePath(), copy);
    return copy;
}

double peakMb()
{
    return double(zq::bench::peakKiB()) / 1024.0;
}

// Runs the sqlite3 shell; its peak memory in MB, -1 when it could not run.
double runShell(const QStringList &args, const QString &output = {})
{
    QList<QByteArray> bytes;
    bytes << "sqlite3";
    for (const QString &a : args)
        bytes << a.toUtf8();
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray out = output.isEmpty() ? QByteArray("/dev/null") : output.toUtf8();
    posix_spawn_file_actions_addopen(
        &actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, "sqlite3", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss / 1024.0 : -1;
}

// `indexed`: the bare table given the indexes HolderData has, to tell the cost of the
// indexes from the cost of the import.
void ShellImport(benchmark::State &state, bool indexed)
{
    makeSite();
    const QString file = importFile(false);
    double peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString db = dir().filePath("bare.db");
        QFile::remove(db);
        runShell({db,
                  "CREATE TABLE Bare (HolderNo text, HolderName text, Email text, "
                  "Birthday text, StartDate text, ExpiredDate text, Definable1 text, "
                  "Definable2 text, Description text, DepartmentName text, TitleName text, "
                  "TypeName text, PIN text, Trailing text)"});
        if (indexed)
            runShell({db,
                      "CREATE UNIQUE INDEX b1 ON Bare (HolderNo); CREATE INDEX b2 ON Bare "
                      "(DepartmentName); CREATE INDEX b3 ON Bare (TitleName); CREATE INDEX "
                      "b4 ON Bare (TypeName); CREATE INDEX b5 ON Bare (PIN); CREATE INDEX b6 "
                      "ON Bare (HolderName)"});
        state.ResumeTiming();
        peak = runShell({db, ".mode csv", ".import " + file + " Bare"});
    }
    state.counters["peak_MB"] = peak;
}

void ShellImportBare(benchmark::State &state)
{
    ShellImport(state, false);
}

void ShellImportIndexed(benchmark::State &state)
{
    ShellImport(state, true);
}

void Import(benchmark::State &state, bool cover)
{
    makeSite();
    const QString file = importFile(cover);
    int stored = 0;
    double peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString db = freshSite();
        zq::data::Connection c;
        c.setSQLiteFile(db);
        c.open();
        zq::bench::resetPeak();
        state.ResumeTiming();
        zq::transfer::ImportOptions options;
        options.columnOrder = kOrder;
        options.cover = cover;
        options.dateFormat = "yyyy-MM-dd";
        zq::transfer::HolderImport run(&c, options);
        run.start();
        zq::transfer::TextLineReader reader(file);
        reader.open();
        reader.forEachLine([&](const QString &line) {
            if (!zq::transfer::valueText(line).isEmpty())
                run.importLine(zq::transfer::valueText(line));
            return true;
        });
        run.finish();
        stored = run.count(zq::transfer::HolderImport::Outcome::Inserted)
                 + run.count(zq::transfer::HolderImport::Outcome::Updated);
        peak = peakMb();
    }
    state.counters["stored"] = stored;
    state.counters["peak_MB"] = peak;
}

void ImportNewHolders(benchmark::State &state)
{
    Import(state, false);
}

void ImportOverExistingHolders(benchmark::State &state)
{
    Import(state, true);
}

QString exportSql()
{
    zq::transfer::ExportRequest request;
    request.userId = "admin";
    return zq::transfer::exportStatement(request, zq::transfer::exportSelectList());
}

void ShellExportCsv(benchmark::State &state)
{
    makeSite();
    double peak = 0;
    for (auto _ : state)
        peak = runShell({"-csv", sitePath(), exportSql()}, dir().filePath("shell.csv"));
    state.counters["peak_MB"] = peak;
}

void Export(benchmark::State &state, bool workbook)
{
    makeSite();
    zq::data::Connection c;
    c.setSQLiteFile(sitePath());
    c.open();
    int rows = 0;
    double peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        zq::bench::resetPeak();
        state.ResumeTiming();
        zq::transfer::ExportRequest request;
        request.userId = "admin";
        zq::transfer::HolderExport holders(&c, request, kOrder, "yyyy-MM-dd");
        holders.open();
        QString error;
        const QString path = dir().filePath(workbook ? "export.xlsx" : "export.txt");
        const bool ok = workbook ? zq::transfer::writeWorkbook(holders, path, {}, error)
                                 : zq::transfer::writeTextFile(holders, path, {}, error);
        if (!ok)
            state.SkipWithError(qPrintable(error));
        rows = holders.rowCount();
        peak = peakMb();
    }
    state.counters["rows"] = rows;
    state.counters["peak_MB"] = peak;
}

void ExportText(benchmark::State &state)
{
    Export(state, false);
}

void ExportWorkbook(benchmark::State &state)
{
    Export(state, true);
}

} // namespace

BENCHMARK(ShellImportBare)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(ShellImportIndexed)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(ImportNewHolders)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(ImportOverExistingHolders)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(ShellExportCsv)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(ExportText)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(ExportWorkbook)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char **argv)
{
    return zq::bench::runBenchmarks(argc, argv);
}
