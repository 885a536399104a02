#!/usr/bin/env python3
"""Reports what scripts/bench.sh measured.

native <google-benchmark.json>: per benchmark family, the median time of each size, the cost
    per item and the growth from each size to the next, against the growth of the work.
wine <times.txt>: lines "<program|floor> <nanoseconds>"; the medians, their ratio and what the
    program spends beyond its floor."""
import json
import statistics
import sys
from collections import defaultdict


def native(path):
    data = json.load(open(path))
    families = defaultdict(list)
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name = b.get("run_name", b["name"])
        family, _, arg = name.partition("/")
        families[family].append((int(arg), b["real_time"], b["time_unit"]))
    scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}
    print("%-20s %10s %14s %16s %12s %12s" % ("benchmark", "size", "time (us)", "per item (ns)", "work x", "time x"))
    worst = 0.0
    for family, rows in families.items():
        rows.sort()
        previous = None
        for size, time, unit in rows:
            us = time * scale[unit]
            line = "%-20s %10d %14.3f %16.3f" % (family.replace("BM_", ""), size, us, us * 1000.0 / size)
            if previous:
                work = size / previous[0]
                grown = us / previous[1]
                line += " %12.1f %12.1f" % (work, grown)
                worst = max(worst, grown / work)
            print(line)
            previous = (size, us)
    print("largest growth of time per growth of work: %.2f" % worst)


def wine(path):
    times = defaultdict(list)
    for line in open(path):
        which, ns = line.split()
        times[which].append(int(ns) / 1e6)
    floor = statistics.median(times["floor"])
    for which in times:
        print("%-8s runs: %s ms, median %.1f ms" % (which, ", ".join("%.0f" % t for t in times[which]),
                                                   statistics.median(times[which])))
    for which in (w for w in times if w != "floor"):
        median = statistics.median(times[which])
        print("ratio %s / floor: %.2f; beyond the floor: %.1f ms" % (which, median / floor, median - floor))


if __name__ == "__main__":
    {"native": native, "wine": wine}[sys.argv[1]](sys.argv[2])
