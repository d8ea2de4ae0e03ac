#!/usr/bin/env python3
"""How the cost grows with the site: ./zq bench --scale.

Generates the sites of each size first (10,000, 100,000 and 1,000,000 holders unless
ZQ_BENCH_SIZES lists others) on both engines, then runs the listing, search, import, export
and report benchmarks on them, one benchmark per process, and writes into the docs folder:
  performance-scale.json  every measurement (time, CPU, peak memory, counters), the site
                          generation times and the machine's load during the run
  performance-scale.png   cost against holders: elapsed time (log-log) and CPU time per holder
                          (flat where the cost is linear)
and the tables between the scale markers of performance.md.

ZQ_SCALE_FILTER (a regular expression) runs only the benchmarks whose name matches; the
others keep their earlier measurements.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

BENCH_DIR, DOCS_DIR = sys.argv[1], sys.argv[2]
# An empty list runs nothing and remakes the tables and plot from the measurements kept.
SIZES = [int(s) for s in os.environ.get("ZQ_BENCH_SIZES", "10000,100000,1000000").split(",")
         if s.strip()]
FILTER = re.compile(os.environ.get("ZQ_SCALE_FILTER", ""))
# No single benchmark process may hold the run longer than this (seconds).
TIMEOUT = int(os.environ.get("ZQ_SCALE_TIMEOUT", "3600"))

# (program, benchmark name without the engine, the work it stands for, how it should grow,
#  iterations at 10,000 / 100,000 / 1,000,000 holders: fewer where one run takes minutes)
BENCHMARKS = [
    ("bench_data", "RecordsetListing", "listing, every holder (Recordset)", "n", (3, 3, 2)),
    ("bench_data", "RecordsetSortByName", "sort of that listing by name", "n log n", (3, 3, 2)),
    ("bench_holder", "RecordsetListing/first_department", "listing, one department", "n",
     (20, 10, 5)),
    ("bench_holder", "ExactSearchHit", "number search that hits", "n", (20, 10, 5)),
    ("bench_holder", "LikeSearch", "name fragment search", "n", (10, 5, 3)),
    ("bench_transfer", "ImportText/new", "text import, new holders", "n", (2, 1, 1)),
    ("bench_transfer", "ExportText", "text export", "n", (3, 1, 1)),
    ("bench_transfer", "ExportWorkbook", "workbook export", "n", (2, 1, 1)),
    ("bench_report", "HolderListToPdf", "holder list report (PDF)", "n", (2, 1, 1)),
]
ENGINES = ["sqlite", "postgres"]
START, END = "<!-- scale table -->", "<!-- end scale table -->"


def log(text):
    print("[scale] " + text, file=sys.stderr, flush=True)


def load():
    with open("/proc/loadavg") as f:
        return [float(x) for x in f.read().split()[:3]]


def iterations_for(counts, size):
    return counts[0] if size <= 10000 else counts[1] if size <= 100000 else counts[2]


def generate(engine, size):
    """Makes the site of `size` holders on `engine` unless the run has it: the seconds the
    generation took, 0 when the site was there, None when it failed."""
    proc = subprocess.run([os.path.join(BENCH_DIR, "generate_site"), engine, str(size)],
                          env=dict(os.environ), stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    sys.stderr.write(proc.stderr)
    if proc.returncode != 0:
        return None
    made = re.search(r"generated \d+ holders on \S+ in ([0-9.]+) s", proc.stderr)
    return float(made.group(1)) if made else 0.0


def run_one(program, name, engine, size, iterations):
    """Runs one benchmark in its own process; its result with the process's peak memory."""
    with tempfile.NamedTemporaryFile(suffix=".json", delete=False) as out:
        path = out.name
    env = dict(os.environ, ZQ_BENCH_HOLDERS=str(size), ZQ_BENCH_ITERATIONS=str(iterations))
    pattern = "^" + re.escape(name + "/" + engine + "/")
    cmd = [os.path.join(BENCH_DIR, program), "--benchmark_filter=" + pattern,
           "--benchmark_out=" + path, "--benchmark_out_format=json"]
    started = time.time()
    result = {"program": program, "name": name, "engine": engine, "holders": size,
              "iterations": iterations, "load_before": load()}
    # The programs' own chatter goes to a log, shown when the benchmark fails.
    chatter = tempfile.TemporaryFile(mode="w+")
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=chatter)
    deadline = started + TIMEOUT
    status = usage = None
    while status is None:
        pid, st, ru = os.wait4(proc.pid, os.WNOHANG)
        if pid == proc.pid:
            status, usage = st, ru
        elif time.time() > deadline:
            proc.kill()
            _, status, usage = os.wait4(proc.pid, 0)
            result["error"] = "timed out after %d s" % TIMEOUT
        else:
            time.sleep(0.2)
    proc.returncode = os.waitstatus_to_exitcode(status)
    result.update(process_peak_MB=usage.ru_maxrss / 1024.0, wall_s=time.time() - started,
                  load_after=load())
    try:
        with open(path) as f:
            runs = json.load(f).get("benchmarks", [])
    except (OSError, ValueError):
        runs = []
    os.unlink(path)
    if not runs or runs[0].get("error_occurred"):
        result.setdefault("error", runs[0].get("error_message", "failed") if runs else
                          "no result (exit %d)" % proc.returncode)
    if "error" in result:
        chatter.seek(0)
        sys.stderr.write("".join(chatter.readlines()[-20:]))
        return result
    r = runs[0]
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[r.get("time_unit", "ns")]
    result["seconds"] = r["real_time"] * scale
    result["counters"] = {k: v for k, v in r.items() if isinstance(v, (int, float))
                          and k not in ("real_time", "cpu_time", "iterations", "repetitions",
                                        "repetition_index", "threads", "family_index",
                                        "per_family_instance_index")}
    if "cpu_ms" in result["counters"]:
        result["cpu_seconds"] = result["counters"]["cpu_ms"] / 1000.0
    return result


def peak_of(result):
    c = result.get("counters", {})
    return c.get("peak_MB", result.get("process_peak_MB"))


def memory(result):
    """The peak memory; where the benchmark holds its anchor's data meanwhile (the workbook
    export's cells), also the rise over that."""
    peak = peak_of(result) or 0
    baseline = result.get("counters", {}).get("baseline_MB")
    if baseline and baseline > 60:
        return "%.0f MB (%.0f MB over the anchor's data)" % (peak, peak - baseline)
    return "%.0f MB" % peak


def fmt_time(s):
    if s is None:
        return "–"
    if s < 0.01:
        return "%.1f ms" % (s * 1000)
    return "%.0f ms" % (s * 1000) if s < 10 else "%.1f s" % s


def growths(values):
    out = []
    for a, b in zip(values, values[1:]):
        out.append("%.1f×" % (b / a) if a and b else "–")
    return ", ".join(out) if any(v for v in values) else "–"


def table(results, sizes):
    lines = ["| work | engine | " + " | ".join("%s holders" % f"{n:,}" for n in sizes)
             + " | time growth per 10× | CPU growth per 10× | linear would be |",
             "|---|---|" + "---|" * len(sizes) + "---|---|---|"]
    for program, name, label, expected, _ in BENCHMARKS:
        for engine in ENGINES:
            cells, times, cpus = [], [], []
            for n in sizes:
                r = results.get((name, engine, n))
                if not r:
                    cells.append("not run")
                    times.append(None)
                    cpus.append(None)
                elif "error" in r:
                    cells.append("failed")
                    times.append(None)
                    cpus.append(None)
                else:
                    cpu = r.get("cpu_seconds")
                    cell = fmt_time(r["seconds"])
                    if cpu is not None:
                        cell += " (CPU %s)" % fmt_time(cpu)
                    cells.append("%s, %s" % (cell, memory(r)))
                    times.append(r["seconds"])
                    cpus.append(cpu)
            ideal = "10×" if expected == "n" else "11–13×"
            lines.append("| %s | %s | %s | %s | %s | %s |" % (
                label, engine, " | ".join(cells), growths(times), growths(cpus), ideal))
    return "\n".join(lines)


def generation_table(generation, sizes):
    lines = ["| engine | " + " | ".join("%s holders" % f"{n:,}" for n in sizes) + " |",
             "|---|" + "---|" * len(sizes)]
    for engine in ENGINES:
        cells = []
        for n in sizes:
            s = generation.get("%s/%d" % (engine, n))
            cells.append("–" if s is None else "%.1f s" % s)
        lines.append("| %s | %s |" % (engine, " | ".join(cells)))
    return "\n".join(lines)


def plot(results, sizes, png):
    data_dir = tempfile.mkdtemp()
    series = []
    for index, (program, name, label, _, _) in enumerate(BENCHMARKS):
        for engine in ENGINES:
            points = []
            for n in sizes:
                r = results.get((name, engine, n))
                if r and "seconds" in r:
                    cpu = r.get("cpu_seconds")
                    points.append((n, r["seconds"], cpu / n * 1e6 if cpu else None))
            if len(points) < 2:
                continue
            path = os.path.join(data_dir, "%d.dat" % len(series))
            with open(path, "w") as f:
                for n, s, per in points:
                    f.write("%d %g %s\n" % (n, s, "%g" % per if per is not None else "NaN"))
            series.append((path, "%s (%s)" % (label, engine), engine, index + 1))
    if not series:
        shutil.rmtree(data_dir)
        return False
    colors = ["#9400d3", "#009e73", "#56b4e9", "#e69f00", "#b8a800", "#0072b2", "#e51e10",
              "#000000", "#8b4513"]
    script = ["set terminal pngcairo size 1600,800 font 'DejaVu Sans,10'",
              "set output '%s'" % png,
              "set multiplot title 'Cost against the number of holders "
              "(solid: SQLite, dashed: PostgreSQL)'",
              "set logscale x", "set grid", "set xlabel 'holders'",
              "set format x '%.0s%c'", "set xrange [%g:%g]" % (min(sizes) / 1.5, max(sizes) * 1.5),
              "set datafile missing 'NaN'"]

    def lines(column):
        out = []
        for path, title, engine, color in series:
            if column == 3 and "NaN" in open(path).read():
                continue
            dash = 1 if engine == "sqlite" else 2
            out.append("'%s' using 1:%d with linespoints lw 2 lc rgb '%s' dt %d title '%s'"
                       % (path, column, colors[(color - 1) % len(colors)], dash, title))
        return ", ".join(out)

    script += ["set origin 0,0", "set size 0.4,0.95",
               "set logscale y", "set ylabel 'seconds (elapsed)'", "set key off",
               "set title 'Elapsed time (log-log: a slope of 1 is linear)'",
               "plot " + lines(2),
               "set origin 0.4,0", "set size 0.6,0.95",
               "set ylabel 'CPU microseconds per holder'",
               "set key outside right top",
               "set title 'CPU time per holder (flat is linear)'",
               "plot " + lines(3),
               "unset multiplot"]
    subprocess.run(["gnuplot"], input="\n".join(script), text=True, check=True)
    shutil.rmtree(data_dir)
    return True


def read_kept(json_path):
    """The measurements of earlier runs: (results by key, generation times, run notes)."""
    results, generation, runs = {}, {}, []
    if not os.path.exists(json_path):
        return results, generation, runs
    with open(json_path) as f:
        kept = json.load(f)
    if isinstance(kept, list):  # the first runs kept only the measurements
        kept = {"results": kept}
    for r in kept.get("results", []):
        results[(r["name"], r["engine"], r["holders"])] = r
    return results, kept.get("generation", {}), kept.get("runs", [])


def write_kept(json_path, results, generation, runs):
    with open(json_path, "w") as f:
        json.dump({"results": list(results.values()), "generation": generation, "runs": runs},
                  f, indent=1)


def main():
    json_path = os.path.join(DOCS_DIR, "performance-scale.json")
    results, generation, runs = read_kept(json_path)
    started = time.time()
    run = {"started": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime(started)),
           "sizes": SIZES, "filter": FILTER.pattern, "load_start": load()}
    chosen = [b for b in BENCHMARKS if FILTER.search(b[1])]
    if SIZES and chosen:
        runs.append(run)
    peak_load = run["load_start"][0]
    for size in SIZES:
        for engine in ENGINES:
            seconds = generate(engine, size)
            log("site of %d holders on %s: %s" % (size, engine, "failed" if seconds is None
                                                   else "%.1f s" % seconds))
            if seconds:
                generation["%s/%d" % (engine, size)] = seconds
        for program, name, _, _, counts in chosen:
            for engine in ENGINES:
                n = iterations_for(counts, size)
                log("%s/%s at %d holders, %d iteration(s)" % (name, engine, size, n))
                r = run_one(program, name, engine, size, n)
                results[(name, engine, size)] = r
                peak_load = max(peak_load, r["load_before"][0], r["load_after"][0])
                extra = "" if r.get("cpu_seconds") is None else \
                    " (CPU %s)" % fmt_time(r["cpu_seconds"])
                log("  %s%s, process %.0f s" % (r.get("error") or fmt_time(r.get("seconds")),
                                                extra, r["wall_s"]))
                run.update(minutes=(time.time() - started) / 60.0, load_end=load(),
                           load_peak=peak_load)
                write_kept(json_path, results, generation, runs)
    sizes = sorted({n for (_, _, n) in results} | set(SIZES))
    png = os.path.join(DOCS_DIR, "performance-scale.png")
    plot(results, sizes, png)
    doc = os.path.join(DOCS_DIR, "performance.md")
    text = open(doc).read() if os.path.exists(doc) else START + "\n" + END + "\n"
    notes = ["", "Sites generated for the run (`bench/generate_site`, holders and cards made by "
             "the engine, indexes built afterwards):", "", generation_table(generation, sizes)]
    for r in runs[-3:]:
        notes.append("")
        notes.append("Run of %s: sizes %s%s, %.0f minutes; load average (1 min) %.1f at the "
                     "start, %.1f at the end, %.1f at most between benchmarks." % (
                         r["started"], ", ".join(f"{n:,}" for n in r["sizes"]),
                         " (benchmarks matching `%s`)" % r["filter"] if r["filter"] else "",
                         r.get("minutes", 0), r["load_start"][0],
                         r.get("load_end", r["load_start"])[0],
                         r.get("load_peak", r["load_start"][0])))
    if START in text and END in text:
        head, rest = text.split(START, 1)
        _, tail = rest.split(END, 1)
        text = head + START + "\n" + table(results, sizes) + "\n" + "\n".join(notes) + "\n" \
            + END + tail
        with open(doc, "w") as f:
            f.write(text)
    print(table(results, sizes))
    print("\n".join(notes))


if __name__ == "__main__":
    main()
