#!/usr/bin/env python3
"""How the cost grows with the site: ./zq bench --scale.

Runs the listing, search, import, export and report benchmarks on generated sites of each
size (10,000, 100,000 and 1,000,000 holders unless ZQ_BENCH_SIZES lists others), on both
engines, one benchmark per process, and writes into the docs folder:
  performance-scale.json  every measurement (time, peak memory, counters)
  performance-scale.png   time against holders, log-log, one line per benchmark and engine
and the table between the scale markers of performance.md.
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import time

BENCH_DIR, DOCS_DIR = sys.argv[1], sys.argv[2]
# An empty list runs nothing and remakes the table and plot from the measurements kept.
SIZES = [int(s) for s in os.environ.get("ZQ_BENCH_SIZES", "10000,100000,1000000").split(",")
         if s.strip()]

# (program, benchmark name without the engine, the work it stands for)
BENCHMARKS = [
    ("bench_data", "RecordsetListing", "listing, every holder (Recordset)"),
    ("bench_data", "RecordsetSortByName", "sort of that listing by name"),
    ("bench_holder", "RecordsetListing/first_department", "listing, one department"),
    ("bench_holder", "ExactSearchHit", "number search that hits"),
    ("bench_holder", "LikeSearch", "name fragment search"),
    ("bench_transfer", "ImportText/new", "text import, new holders"),
    ("bench_transfer", "ExportText", "text export"),
    ("bench_transfer", "ExportWorkbook", "workbook export"),
    ("bench_report", "HolderListToPdf", "holder list report (PDF)"),
]
ENGINES = ["sqlite", "postgres"]
START, END = "<!-- scale table -->", "<!-- end scale table -->"


def log(text):
    print("[scale] " + text, file=sys.stderr, flush=True)


def run_one(program, name, engine, size):
    """Runs one benchmark in its own process; its result with the process's peak memory."""
    with tempfile.NamedTemporaryFile(suffix=".json", delete=False) as out:
        path = out.name
    env = dict(os.environ, ZQ_BENCH_HOLDERS=str(size), ZQ_BENCH_ITERATIONS="1" if size > 10000 else "3")
    pattern = "^" + re.escape(name + "/" + engine + "/")
    cmd = [os.path.join(BENCH_DIR, program), "--benchmark_filter=" + pattern,
           "--benchmark_out=" + path, "--benchmark_out_format=json"]
    started = time.time()
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    result = {"program": program, "name": name, "engine": engine, "holders": size,
              "process_peak_MB": usage.ru_maxrss / 1024.0, "wall_s": time.time() - started}
    try:
        with open(path) as f:
            runs = json.load(f).get("benchmarks", [])
    except (OSError, ValueError):
        runs = []
    os.unlink(path)
    if not runs or runs[0].get("error_occurred"):
        result["error"] = runs[0].get("error_message", "failed") if runs else "no result"
        return result
    r = runs[0]
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[r.get("time_unit", "ns")]
    result["seconds"] = r["real_time"] * scale
    result["counters"] = {k: v for k, v in r.items() if isinstance(v, (int, float))
                          and k not in ("real_time", "cpu_time", "iterations", "repetitions",
                                        "repetition_index", "threads", "family_index",
                                        "per_family_instance_index")}
    return result


def peak_of(result):
    c = result.get("counters", {})
    return c.get("peak_MB", result.get("process_peak_MB"))


def fmt_time(s):
    if s is None:
        return "–"
    return "%.0f ms" % (s * 1000) if s < 10 else "%.1f s" % s


def table(results):
    sizes = sorted({n for (_, _, n) in results} | set(SIZES))
    lines = ["| work | engine | " + " | ".join("%s holders" % f"{n:,}" for n in sizes)
             + " | growth per 10× |",
             "|---|---|" + "---|" * len(sizes) + "---|"]
    for program, name, label in BENCHMARKS:
        for engine in ENGINES:
            cells, times = [], []
            for n in sizes:
                r = results.get((name, engine, n))
                if not r:
                    cells.append("not run")
                    times.append(None)
                elif "error" in r:
                    cells.append("failed")
                    times.append(None)
                else:
                    peak = peak_of(r)
                    cells.append("%s, %.0f MB" % (fmt_time(r["seconds"]), peak or 0))
                    times.append(r["seconds"])
            growth = []
            for a, b in zip(times, times[1:]):
                if a and b:
                    growth.append("%.1f×" % (b / a))
            lines.append("| %s | %s | %s | %s |" % (label, engine, " | ".join(cells),
                                                   ", ".join(growth) or "–"))
    return "\n".join(lines)


def plot(results, png):
    sizes = sorted({n for (_, _, n) in results})
    data_dir = tempfile.mkdtemp()
    series = []
    for program, name, label in BENCHMARKS:
        for engine in ENGINES:
            points = [(n, results[(name, engine, n)]["seconds"]) for n in sizes
                      if (name, engine, n) in results and "seconds" in results[(name, engine, n)]]
            if len(points) < 2:
                continue
            path = os.path.join(data_dir, "%d.dat" % len(series))
            with open(path, "w") as f:
                for n, s in points:
                    f.write("%d %g\n" % (n, s))
            series.append((path, "%s (%s)" % (label, engine), engine))
    if not series:
        return False
    script = ["set terminal pngcairo size 1200,800 font 'DejaVu Sans,10'",
              "set output '%s'" % png,
              "set logscale xy", "set grid",
              "set xlabel 'holders'", "set ylabel 'seconds'",
              "set format x '%.0s%c'",
              "set key outside right top",
              "set title 'Cost against the number of holders (log-log; a line of slope 1 is linear)'"]
    plots = []
    for i, (path, title, engine) in enumerate(series):
        dash = 1 if engine == "sqlite" else 2
        plots.append("'%s' using 1:2 with linespoints lw 2 dt %d title '%s'" % (path, dash, title))
    script.append("plot " + ", ".join(plots))
    subprocess.run(["gnuplot"], input="\n".join(script), text=True, check=True)
    return True


def main():
    json_path = os.path.join(DOCS_DIR, "performance-scale.json")
    # Sizes run before (ZQ_BENCH_SIZES of an earlier run) stay in the table.
    results = {}
    if os.path.exists(json_path):
        with open(json_path) as f:
            for r in json.load(f):
                results[(r["name"], r["engine"], r["holders"])] = r
    for size in SIZES:
        for program, name, _ in BENCHMARKS:
            for engine in ENGINES:
                log("%s/%s at %d holders" % (name, engine, size))
                r = run_one(program, name, engine, size)
                results[(name, engine, size)] = r
                log("  " + (r.get("error") or fmt_time(r.get("seconds"))))
                with open(json_path, "w") as f:
                    json.dump(list(results.values()), f, indent=1)
    png = os.path.join(DOCS_DIR, "performance-scale.png")
    plot(results, png)
    doc = os.path.join(DOCS_DIR, "performance.md")
    text = open(doc).read() if os.path.exists(doc) else START + "\n" + END + "\n"
    if START in text and END in text:
        head, rest = text.split(START, 1)
        _, tail = rest.split(END, 1)
        text = head + START + "\n" + table(results) + "\n" + END + tail
        with open(doc, "w") as f:
            f.write(text)
    print(table(results))


if __name__ == "__main__":
    main()
