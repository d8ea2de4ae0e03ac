#pragma once

namespace zq::bench {

/// The process's resident high-water mark (VmHWM) in KiB; -1 when it cannot be read.
long peakKiB();
/// Starts the high-water mark again from the current resident size.
void resetPeak();

/// A benchmark program's main: an offscreen QApplication, then every registered benchmark.
/// `special` runs first and, when it returns a value >= 0, that value ends the program
/// (for the child processes some benchmarks start).
int runBenchmarks(int argc, char **argv, int (*special)(int, char **) = nullptr);

} // namespace zq::bench
