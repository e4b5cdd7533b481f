#!/usr/bin/env python3
# Summarises the measurements of run_bench.sh as Markdown tables: one row per
# measured command (median and min-max of wall time, throughput, peak memory)
# and one per ratio, each against its target. Ratios are taken round by round,
# between runs made back to back, and their median and min-max are shown: on a
# shared machine that cancels much of the drift that absolute times suffer.
# Each ratio is given on wall time and on CPU time (user + system): when other
# work competes for the cores, a command waits for a core without using one,
# so the CPU figure is the steadier one and the wall figure the one a user sees.
#
# RUNS (TSV): name, label, input bytes, input lines, definition-file bytes, the
# exit status of a run that succeeds.
# RESULTS (TSV): name, round, wall s, user s, system s, peak RSS KiB, status.
import argparse
import statistics
import sys
from collections import defaultdict

MB = 1e6
MIB = 1 << 20

# (title, numerator, denominator, how, target, at least?)
#   how "speed": throughput of a / throughput of b, per round
#   how "time":  wall time of a / wall time of b, per round
#   how "rate":  throughput of a in MB/s, per round (b is None): for a target
#                that is a speed of its own; the ratio to its floor stands beside it
RATIOS = [
    ("patterntally large-2000 / cat, MB/s", "pt-large2000", "cat", "speed", 0.10, True),
    ("patterntally large-10000 / cat, MB/s", "pt-large10000", "cat", "speed", None, True),
    ("patterntally example / cat, MB/s", "pt-example", "cat", "speed", None, True),
    ("patterntally large-2000 / read_floor, MB/s", "pt-large2000", "read_floor", "speed",
     None, True),
    ("patterntally large-10000 / example, MB/s", "pt-large10000", "pt-example", "speed",
     0.80, True),
    ("patterntally large-2000 one thread / baseline's, MB/s", "pt-large2000", "base-large2000",
     "speed", 1.3, True),
    ("patterntally large-5000 one thread / baseline's, MB/s", "pt-large5000", "base-large5000",
     "speed", 1.3, True),
    ("patterntally example one thread / baseline's, MB/s", "pt-example", "base-example", "speed",
     1.0, True),
    ("patterntally large-100000 (sparse walk) one thread / baseline's, MB/s", "pt-large100000",
     "base-large100000", "speed", 1.0, True),
    ("patterntally large-2000, all threads / one thread, MB/s", "pt-large2000-all", "pt-large2000",
     "speed", 1.7, True),
    ("patterntally large-2000, 2 threads / one thread, MB/s", "pt-large2000-j2", "pt-large2000",
     "speed", None, True),
    ("patterntally large-2000, all threads / cat, MB/s", "pt-large2000-all", "cat", "speed", 0.15, True),
    ("patterntally-mpi 1 rank / patterntally one thread, MB/s", "mpi-1", "pt-large2000", "speed",
     None, True),
    ("patterntally-mpi 2 ranks / 1 rank, MB/s", "mpi-2", "mpi-1", "speed", 1.5, True),
    ("patterntally-mpi 2 ranks / 1 rank, no messages, MB/s (own corpus)", "mpi-quiet-2",
     "mpi-quiet-1", "speed", None, True),
    ("patterntally-mpi 2 ranks / 1 rank, 1% invalid bytes, MB/s (own corpus)", "mpi-invalid-2",
     "mpi-invalid-1", "speed", None, True),
    ("patterntally-mpi 1 rank / patterntally, 1% invalid bytes, MB/s (own corpus)", "mpi-invalid-1",
     "pt-invalid", "speed", None, True),
    ("patterntally-mpi --messages=FILE 1 rank / patterntally -j1 >FILE, MB/s (own corpus)",
     "mpi-messages-1", "pt-messages", "speed", 0.9, True),
    ("patterntally-mpi --messages=FILE 2 ranks / 1 rank, MB/s (own corpus)", "mpi-messages-2",
     "mpi-messages-1", "speed", 1.7, True),
    ("patterntally adversarial / example, MB/s (own corpus)", "pt-adversarial", "pt-example",
     "speed", 0.25, True),
    ("patterntally adversarial / large-2000, MB/s (own corpus)", "pt-adversarial",
     "pt-large2000", "speed", None, True),
    ("varicode encode / patterntally large-2000 one thread, MB/s", "vc-encode", "pt-large2000",
     "speed", 0.25, True),
    ("varicode encode / patterntally large-2000 all threads, MB/s", "vc-encode", "pt-large2000-all",
     "speed", 0.25, True),
    ("varicode encode / cat, MB/s", "vc-encode", "cat", "speed", None, True),
    ("varicode encode, 1% invalid bytes / valid, MB/s (own corpus)", "vc-encode-invalid", "vc-encode",
     "speed", None, True),
    ("varicode decode / cat of the encoded corpus, MB/s", "vc-decode", "cat-encoded", "speed", None,
     True),
    ("varicode decode, MB/s of encoded input", "vc-decode", None, "rate", 200, True),
    ("varicode encode one core to a file: text time / packed time", "vc-encode-text-1",
     "vc-encode-packed-1", "time", 1.0, True),
    ("varicode decode: text time / packed time", "vc-decode", "vc-decode-packed", "time", 1.0, True),
    ("bitladder 1M lines: awk time / bitladder time", "awk-1M", "bitladder-1M", "time",
     3.0, True),
    ("bitladder 100k lines: awk time / bitladder time", "awk-100k", "bitladder-100k", "time",
     None, True),
    ("bitladder 1M lines: gawk time / bitladder time", "gawk-1M", "bitladder-1M", "time",
     None, True),
    ("bitladder time 1M / 100k lines", "bitladder-1M", "bitladder-100k", "time", 12.0, False),
    ("awk time 1M / 100k lines", "awk-1M", "awk-100k", "time", None, False),
    ("gawk time 1M / 100k lines", "gawk-1M", "gawk-100k", "time", None, False),
]


def read_tsv(path):
    with open(path, encoding="utf-8") as f:
        return [line.rstrip("\n").split("\t") for line in f if line.strip()]


def fmt(x, digits=3):
    if x >= 100:
        return f"{x:,.0f}"
    if x >= 10:
        return f"{x:.1f}"
    return f"{x:.{digits}g}" if x < 1 else f"{x:.2f}"


def spread(values, digits=3):
    return f"{fmt(min(values), digits)}–{fmt(max(values), digits)}"


def verdict(value, target, at_least):
    if target is None:
        return ""
    return "ok" if (value >= target if at_least else value <= target) else "MISS"


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("runs")
    ap.add_argument("results")
    args = ap.parse_args()

    runs = {}
    for name, label, nbytes, lines, defs, ok_status in read_tsv(args.runs):
        runs[name] = {"label": label, "bytes": int(nbytes), "lines": int(lines), "defs": int(defs),
                      "ok_status": ok_status}
    walls, cpus, rss = defaultdict(dict), defaultdict(dict), defaultdict(dict)
    failed = defaultdict(int)
    for name, rnd, wall, user, system, kib, status in read_tsv(args.results):
        walls[name][int(rnd)] = float(wall)
        cpus[name][int(rnd)] = max(float(user) + float(system), 1e-3)  # rusage ticks are coarse
        rss[name][int(rnd)] = int(kib) / 1024
        if status != runs[name]["ok_status"]:
            failed[name] += 1

    # 1. One row per command.
    print("| run | input | wall s, median (min–max) | CPU s, median | MB/s (wall) "
          "| lines/s (wall) | peak RSS MiB |")
    print("|---|---|---|---|---|---|---|")
    for name, run in runs.items():
        if name not in walls:
            continue
        w = list(walls[name].values())
        med = statistics.median(w)
        size = (f"{run['bytes'] / MIB:,.0f} MiB" if run["bytes"] >= MIB
                else f"{run['bytes'] / 1024:,.0f} KiB")
        note = (f" (exit ≠ {run['ok_status']} in {failed[name]} runs)" if failed[name] else "")
        cpu = statistics.median(cpus[name].values())
        print(f"| {run['label']}{note} | {size}, {run['lines']:,} lines | {fmt(med)} ({spread(w)}) "
              f"| {fmt(cpu)} | {fmt(run['bytes'] / med / MB)} | {run['lines'] / med / 1e6:.2f} M "
              f"| {statistics.median(rss[name].values()):.1f} |")
    print()

    # 2. Ratios of throughput and time, round by round, on wall and CPU time.
    print("| ratio | wall: median (min–max) | CPU: median (min–max) | target | wall | CPU |")
    print("|---|---|---|---|---|---|")
    for title, a, b, how, target, at_least in RATIOS:
        if a not in walls or (b is not None and b not in walls):
            continue
        cells, verdicts = [], []
        for times in (walls, cpus):
            rounds = sorted(set(times[a]) & set(times[a if b is None else b]))
            if how == "rate":
                values = [runs[a]["bytes"] / times[a][r] / MB for r in rounds]
            elif how == "speed":
                values = [(runs[a]["bytes"] / times[a][r]) / (runs[b]["bytes"] / times[b][r])
                          for r in rounds]
            else:
                values = [times[a][r] / times[b][r] for r in rounds]
            med = statistics.median(values)
            cells.append(f"{fmt(med)} ({spread(values)})")
            verdicts.append(verdict(med, target, at_least))
        goal = "" if target is None else ("≥ " if at_least else "≤ ") + fmt(target)
        print(f"| {title} | {cells[0]} | {cells[1]} | {goal} | {verdicts[0]} | {verdicts[1]} |")

    # 3. Peak memory of two threads against one, and of the same definitions
    #    on a small and a large corpus.
    if "pt-large2000-j2" in rss and "pt-large2000" in rss:
        one = statistics.median(rss["pt-large2000"].values())
        two = statistics.median(rss["pt-large2000-j2"].values())
        print(f"| peak RSS, large-2000, 2 threads, MiB (one thread: {fmt(one)}) | {fmt(two)} | "
              f"| ≤ {fmt(2 * one + 8)} | {verdict(two, 2 * one + 8, False)} | |")
    # Peak memory of this build against the baseline's, on the same corpus.
    for new in [n for n in runs if n.startswith("mem-new-")]:
        base = new.replace("mem-new-", "mem-base-")
        if new not in rss or base not in rss:
            continue
        rounds = sorted(set(rss[new]) & set(rss[base]))
        values = [rss[new][r] / rss[base][r] for r in rounds]
        med = statistics.median(values)
        print(f"| peak RSS / baseline's, {new.removeprefix('mem-new-')}, 64 MiB corpus "
              f"(baseline {fmt(statistics.median(rss[base].values()))} MiB) | {fmt(med)} "
              f"({spread(values)}) | | ≤ 1.0 | {verdict(med, 1.0, False)} | |")
    pairs = [(n, n.replace("mem-small-", "mem-large-")) for n in runs if n.startswith("mem-small-")]
    for small, large in pairs:
        if small not in rss or large not in rss:
            continue
        rounds = sorted(set(rss[small]) & set(rss[large]))
        values = [rss[large][r] / rss[small][r] for r in rounds]
        med = statistics.median(values)
        set_name = small.removeprefix("mem-small-")
        sizes = f"{runs[large]['bytes'] / MIB:,.0f} MiB / {runs[small]['bytes'] / MIB:,.0f} MiB"
        print(f"| peak RSS {sizes} corpus, {set_name} | {fmt(med)} ({spread(values)}) | "
              f"| ≤ 1.1 | {verdict(med, 1.1, False)} | |")
        bound = 16 + 4 * runs[large]["defs"] / MIB
        peak = statistics.median(rss[large].values())
        print(f"| peak RSS {runs[large]['bytes'] / MIB:,.0f} MiB corpus, {set_name}, MiB "
              f"(definition files {runs[large]['defs'] / 1024:,.0f} KiB) "
              f"| {fmt(peak)} ({spread(list(rss[large].values()))}) | | ≤ {fmt(bound)} "
              f"| {verdict(peak, bound, False)} | |")
    return 1 if any(failed.values()) else 0


if __name__ == "__main__":
    sys.exit(main())
