#include "BenchSupport.h"
#include "BenchSite.h"

#include <QApplication>
#include <QFile>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace zq::bench {

long peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

double runTool(const QString &program, const QStringList &args, const QString &output)
{
    QList<QByteArray> bytes{program.toUtf8()};
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
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss / 1024.0 : -1;
}

void Paired::add(double anchorSeconds, double seconds)
{
    m_anchor += anchorSeconds;
    m_job += seconds;
    const double r = anchorSeconds > 0 ? seconds / anchorSeconds : 0;
    m_low = m_count == 0 ? r : std::min(m_low, r);
    m_high = m_count == 0 ? r : std::max(m_high, r);
    ++m_count;
}

void Paired::addCpu(double anchorSeconds, double seconds)
{
    m_anchorCpu += anchorSeconds;
    m_jobCpu += seconds;
}

void Paired::report(benchmark::State &state, const std::string &prefix) const
{
    if (m_count == 0)
        return;
    if (m_anchorCpu > 0) {
        state.counters[prefix + "cpu_ratio"] = m_jobCpu / m_anchorCpu;
        state.counters[prefix + "anchor_cpu_ms"] = m_anchorCpu / m_count * 1000.0;
        state.counters[prefix + "cpu_ms"] = m_jobCpu / m_count * 1000.0;
    }
    state.counters[prefix + "anchor_ms"] = m_anchor / m_count * 1000.0;
    state.counters[prefix + "ratio"] = m_anchor > 0 ? m_job / m_anchor : 0;
    state.counters[prefix + "ratio_min"] = m_low;
    state.counters[prefix + "ratio_max"] = m_high;
}

double cpuSeconds()
{
    double total = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage u{};
        getrusage(who, &u);
        total += double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
                 + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

namespace {
QList<QByteArray> statFields(long pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return {};
    // The fields after the command name, which is in parentheses and may hold blanks; the
    // first of them is field 3 of the line.
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2).split(' ');
}
} // namespace

long parentOf(long pid)
{
    const QList<QByteArray> fields = statFields(pid);
    return fields.size() > 1 ? fields.at(1).toLong() : 0;
}

double cpuSecondsOf(long pid, bool reaped)
{
    const QList<QByteArray> fields = statFields(pid);
    if (fields.size() < 15)
        return 0;
    // utime, stime are fields 14 and 15; cutime, cstime 16 and 17.
    const int at = reaped ? 13 : 11;
    return double(fields.at(at).toLongLong() + fields.at(at + 1).toLongLong())
           / double(sysconf(_SC_CLK_TCK));
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int iterations(int standard)
{
    bool ok = false;
    const int most = qEnvironmentVariableIntValue("ZQ_BENCH_ITERATIONS", &ok);
    return ok && most > 0 ? std::min(most, standard) : standard;
}

void addTimed(const std::string &name, std::function<void(benchmark::State &)> fn, int standard)
{
    benchmark::RegisterBenchmark(name.c_str(), std::move(fn))
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(iterations(standard));
}

int runBenchmarks(int argc, char **argv, int (*special)(int, char **))
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform's notes about window features it lacks would bury the table.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type != QtWarningMsg || !text.startsWith(QLatin1String("This plugin does not")))
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    QApplication app(argc, argv);
    if (special) {
        const int result = special(argc, argv);
        if (result >= 0)
            return result;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // A connection closed after QApplication and the driver registry are gone crashes.
    releaseSharedSites();
    return 0;
}

} // namespace zq::bench
