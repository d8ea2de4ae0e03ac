// The cost of the static cursor against the bare driver on a 100,000-holder site: opening
// the holder listing with Recordset (fetch every row into memory) versus iterating the same
// statement with a forward-only QSqlQuery (the baseline), plus a client-side sort.
#include "BenchSupport.h"
#include "Connection.h"
#include "Recordset.h"
#include "SiteGenerator.h"

#include <QApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QVariant>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

constexpr int kHolders = 100000;
const char *const kListing
    = "SELECT HolderData.*, DepartmentData.DepartmentName FROM (HolderData INNER JOIN "
      "DepartmentData ON HolderData.DepartmentNo = DepartmentData.DepartmentNo)";

zq::data::Connection *site()
{
    static QTemporaryDir dir;
    static zq::data::Connection *connection = [] {
        auto *c = new zq::data::Connection;
        c->setSQLiteFile(dir.filePath("bench.db"));
        c->open();
        QString error;
        if (!zq::bench::generateSite(*c, kHolders, error))
            std::fprintf(stderr, "site generation failed: %s\n", qPrintable(error));
        return c;
    }();
    return connection;
}

void BareDriverListing(benchmark::State &state)
{
    zq::data::Connection *c = site();
    for (auto _ : state) {
        QSqlQuery q(c->database());
        q.setForwardOnly(true);
        q.exec(kListing);
        int rows = 0;
        const int columns = q.record().count();
        while (q.next()) {
            for (int i = 0; i < columns; ++i)
                benchmark::DoNotOptimize(q.value(i));
            ++rows;
        }
        state.counters["rows"] = rows;
    }
}

void RecordsetListing(benchmark::State &state)
{
    zq::data::Connection *c = site();
    for (auto _ : state) {
        zq::data::Recordset rs;
        rs.setConnection(c);
        rs.setStatement(kListing);
        rs.open();
        state.counters["rows"] = rs.recordCount();
    }
}

void RecordsetSortByName(benchmark::State &state)
{
    zq::data::Recordset rs;
    rs.setConnection(site());
    rs.setStatement(kListing);
    rs.open();
    bool descending = false;
    for (auto _ : state) {
        rs.setSort(descending ? "HolderName DESC" : "HolderName");
        descending = !descending;
    }
}

} // namespace

BENCHMARK(BareDriverListing)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(RecordsetListing)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(RecordsetSortByName)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char **argv)
{
    return zq::bench::runBenchmarks(argc, argv);
}
