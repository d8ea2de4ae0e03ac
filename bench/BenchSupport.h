#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <string>

namespace benchmark {
class State;
}

namespace zq::bench {

/// The process's resident high-water mark (VmHWM) in KiB; -1 when it cannot be read.
long peakKiB();
/// Starts the high-water mark again from the current resident size.
void resetPeak();

/// Runs `program` (looked up in PATH) with `args`, its standard output into `output` (or
/// nowhere). Returns the child's peak resident memory in MB, -1 when it failed.
double runTool(const QString &program, const QStringList &args, const QString &output = {});

/// The times of a measured job and of its anchor (the nearest bare job of a tool or library)
/// when both run in turn inside each iteration, so that both see the same load on the
/// machine. Reports `anchor_ms` (per iteration) and `ratio` (job time / anchor time over all
/// iterations) with the lowest and highest ratio of one iteration.
class Paired
{
public:
    void add(double anchorSeconds, double seconds);
    /// The CPU seconds of both, the database server's included: `cpu_ratio`, which the
    /// other work on a shared machine disturbs far less than the elapsed time.
    void addCpu(double anchorSeconds, double seconds);
    /// The counters, each name after `prefix` (for a job measured against several anchors).
    void report(benchmark::State &state, const std::string &prefix = {}) const;

private:
    double m_anchor = 0;
    double m_job = 0;
    double m_low = 0;
    double m_high = 0;
    int m_count = 0;
    double m_anchorCpu = 0;
    double m_jobCpu = 0;
};

/// CPU seconds (user and system) used by this process so far, and by its waited-for
/// children (the tools it ran).
double cpuSeconds();
/// CPU seconds used so far by the process `pid` (a database server's backend), or with
/// `reaped` by its children that have ended (the server's finished sessions); 0 when it
/// cannot be read.
double cpuSecondsOf(long pid, bool reaped = false);
/// The parent of process `pid`; 0 when unknown.
long parentOf(long pid);

/// Seconds since `start` on the steady clock.
double secondsSince(std::chrono::steady_clock::time_point start);

/// The iterations of a benchmark: `standard`, at most ZQ_BENCH_ITERATIONS when that is set
/// (the scale runs keep the large sizes short).
int iterations(int standard);
/// Registers a benchmark timed by hand (SetIterationTime), in milliseconds, with
/// iterations(`standard`) iterations.
void addTimed(const std::string &name,
              std::function<void(benchmark::State &)> fn,
              int standard = 3);

/// A benchmark program's main: an offscreen QApplication, then every registered benchmark.
/// `special` runs first and, when it returns a value >= 0, that value ends the program
/// (for the child processes some benchmarks start).
int runBenchmarks(int argc, char **argv, int (*special)(int, char **) = nullptr);

} // namespace zq::bench
