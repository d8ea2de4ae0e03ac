// The cost of the static cursor against the bare driver on the generated site, on SQLite and
// on PostgreSQL: opening the holder listing with Recordset (every row fetched into memory)
// against iterating the same statement with a forward-only QSqlQuery reading every value
// (the anchor, run in turn in the same iteration), plus a client-side sort.
#include "BenchSite.h"
#include "BenchSupport.h"
#include "Recordset.h"

#include <QApplication>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <memory>

namespace {

using zq::bench::Engine;
using zq::bench::SiteCopy;
using Clock = std::chrono::steady_clock;

const char *const kListing
    = "SELECT HolderData.*, DepartmentData.DepartmentName FROM (HolderData INNER JOIN "
      "DepartmentData ON HolderData.DepartmentNo = DepartmentData.DepartmentNo)";

SiteCopy *site(benchmark::State &state, Engine engine)
{
    if (!zq::bench::engineAvailable(state, engine))
        return nullptr;
    SiteCopy &s = zq::bench::sharedSite(engine);
    if (!s.isValid()) {
        state.SkipWithError(qPrintable(s.error()));
        return nullptr;
    }
    return &s;
}

int bareRows(zq::data::Connection &c)
{
    QSqlQuery q(c.database());
    q.setForwardOnly(true);
    q.exec(kListing);
    int rows = 0;
    const int columns = q.record().count();
    while (q.next()) {
        for (int i = 0; i < columns; ++i)
            benchmark::DoNotOptimize(q.value(i));
        ++rows;
    }
    return rows;
}

void RecordsetListing(benchmark::State &state, Engine engine)
{
    SiteCopy *s = site(state, engine);
    if (!s)
        return;
    zq::bench::Paired paired;
    for (auto _ : state) {
        const zq::bench::CpuClock anchorClock(&s->connection());
        auto start = Clock::now();
        bareRows(s->connection());
        const double anchor = zq::bench::secondsSince(start);
        const double anchorCpu = anchorClock.seconds();
        zq::bench::resetPeak();
        const zq::bench::CpuClock clock(&s->connection());
        start = Clock::now();
        {
            zq::data::Recordset rs;
            rs.setConnection(&s->connection());
            rs.setStatement(kListing);
            rs.open();
            state.counters["rows"] = rs.recordCount();
            state.counters["peak_MB"] = double(zq::bench::peakKiB()) / 1024.0;
        }
        const double t = zq::bench::secondsSince(start);
        state.SetIterationTime(t);
        paired.add(anchor, t);
        paired.addCpu(anchorCpu, clock.seconds());
    }
    paired.report(state);
}

void RecordsetSortByName(benchmark::State &state, Engine engine)
{
    SiteCopy *s = site(state, engine);
    if (!s)
        return;
    zq::data::Recordset rs;
    rs.setConnection(&s->connection());
    rs.setStatement(kListing);
    rs.open();
    bool descending = false;
    double cpu = 0;
    for (auto _ : state) {
        const zq::bench::CpuClock clock;
        const auto start = Clock::now();
        rs.setSort(descending ? "HolderName DESC" : "HolderName");
        state.SetIterationTime(zq::bench::secondsSince(start));
        cpu += clock.seconds();
        descending = !descending;
    }
    state.counters["rows"] = rs.recordCount();
    state.counters["cpu_ms"] = cpu / double(state.iterations()) * 1000.0;
}

} // namespace

int main(int argc, char **argv)
{
    for (const Engine engine : {Engine::SQLite, Engine::PostgreSQL}) {
        const std::string e = zq::bench::engineName(engine);
        zq::bench::addTimed("RecordsetListing/" + e,
                            [engine](benchmark::State &s) { RecordsetListing(s, engine); });
        zq::bench::addTimed("RecordsetSortByName/" + e,
                            [engine](benchmark::State &s) { RecordsetSortByName(s, engine); });
    }
    return zq::bench::runBenchmarks(argc, argv);
}
