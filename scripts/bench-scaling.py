#!/usr/bin/env python3
"""How the parallel benchmarks scale: each runs at 1 thread and at N threads
(TREMORA_THREADS), one right after the other, for several rounds.

This machine's speed drifts by tens of per cent within an hour, so a ratio of
two separate runs says little. Pairs taken within seconds of each other do:
the script prints, per benchmark, the median time at each thread count and
the median and range of the rounds' ratios.

    scripts/bench-scaling.py [--build build] [--threads N] [--rounds R]
"""

import argparse
import json
import os
import statistics
import subprocess
import sys

# (program, benchmark): the figures the README gives for two threads.
BENCHMARKS = [
    ("bench_tsplot", "BM_PlotByItems"),
    ("bench_yearplot", "BM_AnnualDaily"),
    ("bench_yearplot", "BM_AnnualHourly"),
    ("bench_fetch", "BM_FetchPreprocessed"),
    ("bench_split_lines", "BM_SplitMinuteYear"),
    ("bench_postprocessing", "BM_MadFilter"),
    ("bench_postprocessing", "BM_MadFilterSeries"),
]


def run_once(program, name, threads):
    """The mean real time in ms of the benchmark `name` (and its arguments)."""
    env = dict(os.environ, TREMORA_THREADS=str(threads))
    # The name is followed by "/" (arguments or min_time) in every run.
    out = subprocess.run(
        [program, f"--benchmark_filter=^{name}/", "--benchmark_format=json"],
        env=env, check=True, capture_output=True, text=True).stdout
    runs = json.loads(out)["benchmarks"]
    if not runs:
        sys.exit(f"{program}: no benchmark named {name}")
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
    # A benchmark with repetitions reports each one and then their median,
    # mean and spread; its median stands for it.
    medians = [r for r in runs if r.get("aggregate_name") == "median"]
    chosen = medians or [r for r in runs if r.get("run_type") != "aggregate"]
    return {r.get("run_name", r["name"]): r["real_time"] * scale[r["time_unit"]]
            for r in chosen}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--threads", type=int, default=len(os.sched_getaffinity(0)))
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--only", help="run only the benchmarks whose name holds this")
    args = parser.parse_args()
    if args.threads < 2:
        sys.exit("--threads: at least 2 threads are needed to compare with 1")
    print(f"threads: 1 against {args.threads}, {args.rounds} rounds, pairs run one right after the other")
    for program, name in BENCHMARKS:
        if args.only and args.only not in name:
            continue
        path = os.path.join(args.build, "bench", program)
        one, many = {}, {}
        for _ in range(args.rounds):
            for runs, threads in ((one, 1), (many, args.threads)):
                for full_name, ms in run_once(path, name, threads).items():
                    runs.setdefault(full_name, []).append(ms)
        for full_name in one:
            ratios = [a / b for a, b in zip(one[full_name], many[full_name])]
            print(f"{full_name:45s} {statistics.median(one[full_name]):9.1f} ms -> "
                  f"{statistics.median(many[full_name]):9.1f} ms   "
                  f"{statistics.median(ratios):.2f}x (rounds {min(ratios):.2f}-{max(ratios):.2f})",
                  flush=True)


if __name__ == "__main__":
    main()
