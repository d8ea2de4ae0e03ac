// The holder list of a 100,000-holder site rendered to PDF by the report engine, through the
// utilities library's ShowReport as the host calls it. Reports pages per second and the peak
// resident memory of the process, which stays flat when pages are streamed out as they fill.
#include "BenchSupport.h"
#include "Connection.h"
#include "ServiceAbi.h"
#include "SiteGenerator.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <cstdio>

namespace {

constexpr int kHolders = 100000;
const char *const kHolderList
    = " SELECT T2.DepartmentName,T3.TitleName,T4.TypeName,T1.* "
      "   FROM UserRightDept T5, OccupationType T4,OccupationTitle T3,           "
      "        DepartmentData T2,HolderData T1                 "
      "  WHERE T1.DepartmentNo = T2.DepartmentNo               "
      "    AND T1.TitleNo = T3.TitleNo                         "
      "    AND T1.TypeNo  = T4.TypeNo                          "
      " AND T5.DepartmentNo = T1.DepartmentNo  "
      " AND T5.UserID = 'admin'          "
      " ORDER BY T1.DepartmentNo,T1.HolderNo,T1.HolderName       ";

double peakMegabytes()
{
    return double(zq::bench::peakKiB()) / 1024.0;
}

struct Site
{
    QTemporaryDir dir;
    zq::data::Connection connection;
    ShowReportFn showReport = nullptr;
    double peakBeforeReports = 0;
};

Site &site()
{
    static Site *s = [] {
        auto *result = new Site;
        result->connection.setSQLiteFile(result->dir.filePath(QStringLiteral("bench.db")));
        result->connection.open();
        QString error;
        if (!zq::bench::generateSite(result->connection, kHolders, error))
            std::fprintf(stderr, "site generation failed: %s\n", qPrintable(error));
        void *library = dlopen(ZQ_LIB_UTILITY, RTLD_NOW | RTLD_LOCAL);
        auto init = library ? reinterpret_cast<int32_t (*)(const ZQSuiteContext *)>(
                        dlsym(library, "ZQSuiteInit"))
                            : nullptr;
        result->showReport = library ? reinterpret_cast<ShowReportFn>(dlsym(library, "ShowReport"))
                                     : nullptr;
        const QByteArray out = QFile::encodeName(result->dir.filePath(QStringLiteral("out")));
        const ZQSuiteContext context{ZQ_SUITE_CONTEXT_VERSION,
                                     &result->connection,
                                     "",
                                     "admin",
                                     "en",
                                     ZQ_LANG_DIR,
                                     ZQ_REPORT_DIR,
                                     out.constData()};
        if (!init || !init(&context))
            std::fprintf(stderr, "the utilities library did not start: %s\n", dlerror());
        result->peakBeforeReports = peakMegabytes();
        return result;
    }();
    return *s;
}

int countPages(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![s\\w])"));
    return int(QString::fromLatin1(file.readAll()).count(page));
}

void HolderListToPdf(benchmark::State &state)
{
    Site &s = site();
    if (!s.showReport) {
        state.SkipWithError("ShowReport not found");
        return;
    }
    const QDir out(s.dir.filePath(QStringLiteral("out")));
    int pages = 0;
    qint64 bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QDir(out).removeRecursively();
        state.ResumeTiming();
        s.showReport("HolderData.frf", kHolderList);
        state.PauseTiming();
        const QString pdf = out.filePath(QStringLiteral("HolderData-1.pdf"));
        pages = countPages(pdf);
        bytes = QFileInfo(pdf).size();
        state.ResumeTiming();
    }
    state.counters["pages"] = pages;
    state.counters["pages/s"] = benchmark::Counter(double(pages) * state.iterations(),
                                                   benchmark::Counter::kIsRate);
    state.counters["pdf_MB"] = double(bytes) / (1024.0 * 1024.0);
    state.counters["peak_MB_before"] = s.peakBeforeReports;
    state.counters["peak_MB"] = peakMegabytes();
}

BENCHMARK(HolderListToPdf)->Unit(benchmark::kSecond)->Iterations(2);

} // namespace

int main(int argc, char **argv)
{
    return zq::bench::runBenchmarks(argc, argv);
}
