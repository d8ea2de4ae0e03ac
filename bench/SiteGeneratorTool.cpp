// generate_site ENGINE HOLDERS: makes the generated site of that size for the benchmarks of
// this run (ZQ_BENCH_SITES, ZQ_TEST_PG) unless it is there already, and prints the seconds it
// took. The scale run makes every site with it first, so that no measurement shares its
// process, or its minutes, with the generation.
#include "BenchSite.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    bool ok = false;
    const int holders = args.size() == 3 ? args.at(2).toInt(&ok) : 0;
    const bool sqlite = args.value(1) == QLatin1String("sqlite");
    if (!ok || holders <= 0 || (!sqlite && args.value(1) != QLatin1String("postgres"))) {
        std::fprintf(stderr, "usage: generate_site sqlite|postgres HOLDERS\n");
        return 2;
    }
    const auto engine = sqlite ? zq::bench::Engine::SQLite : zq::bench::Engine::PostgreSQL;
    if (!sqlite && zq::bench::postgresServer().isEmpty()) {
        std::fprintf(stderr, "generate_site: no PostgreSQL server (ZQ_TEST_PG unset)\n");
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    QString error;
    const QString site = zq::bench::siteTemplate(engine, holders, error);
    if (site.isEmpty()) {
        std::fprintf(stderr, "generate_site: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s %.3f\n", qPrintable(site), double(clock.elapsed()) / 1000.0);
    return 0;
}
