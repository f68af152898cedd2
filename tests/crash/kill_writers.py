#!/usr/bin/env python3
"""Kills the tremora program (SIGKILL) at random moments while it replaces a
Parquet file, the metadata cache, a chart and a VUZO file, many times, and
checks after each kill that the file on disk is the old one or the new one,
whole.

Usage: kill_writers.py TREMORA_PROGRAM [ROUNDS]

Each writer runs once uncut first, from an "old" and from a "new" input, to
know both versions; then, from the old version in place, the new write is
started and killed after a random delay within the time an uncut run takes.
Parquet files, cache files and charts are compared byte for byte; a VUZO
file carries its creation time, so it must read back with the old or the
new number of rows.
"""
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

PROGRAM = os.path.abspath(sys.argv[1])
ROUNDS = int(sys.argv[2]) if len(sys.argv) > 2 else 20


def run(args, cwd, env):
    subprocess.run([PROGRAM] + args, cwd=cwd, env=env, check=True, capture_output=True)


def timed(args, cwd, env):
    start = time.perf_counter()
    run(args, cwd, env)
    return time.perf_counter() - start


def killed(args, cwd, env, delay):
    """Starts the program and kills it after `delay` seconds (if still running)."""
    process = subprocess.Popen([PROGRAM] + args, cwd=cwd, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    time.sleep(delay)
    if process.poll() is None:
        os.kill(process.pid, signal.SIGKILL)
    process.wait()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def vuzo_rows(path, cwd, env):
    out = subprocess.run([PROGRAM, "show", path, "--head", "0"], cwd=cwd, env=env, capture_output=True, text=True)
    if out.returncode != 0:
        return None
    found = re.findall(r"\[(\d+) rows x", out.stdout)  # the records first, the rows last
    return int(found[-1]) if found else None


class Case:
    """One writer: the arguments that write the old and the new version of
    its files, and how a file on disk is judged."""

    def __init__(self, name, old_args, new_args, files, whole=None):
        self.name, self.old_args, self.new_args, self.files = name, old_args, new_args, files
        self.whole = whole  # a judge for files that differ run to run

    def check(self, cwd, env):
        uncut = timed(self.old_args, cwd, env)
        old = {f: read(os.path.join(cwd, f)) for f in self.files}
        uncut = max(uncut, timed(self.new_args, cwd, env))
        new = {f: read(os.path.join(cwd, f)) for f in self.files}
        torn = 0
        for _ in range(ROUNDS):
            run(self.old_args, cwd, env)  # the old version in place
            # Mostly late in the run, where the file is written.
            killed(self.new_args, cwd, env, uncut * random.choice([random.uniform(0, 1), random.uniform(0.75, 1.0)]))
            for f in self.files:
                path = os.path.join(cwd, f)
                if self.whole:
                    ok = self.whole(path, cwd, env)
                else:
                    ok = os.path.exists(path) and read(path) in (old[f], new[f])
                if not ok:
                    torn += 1
                    print(f"{self.name}: {f} is neither the old nor the new version"
                          + (f" ({vuzo_rows(path, cwd, env)} rows)" if self.whole else ""))
        print(f"{self.name}: {ROUNDS} kills, uncut run {uncut * 1000:.0f} ms, {torn} torn files")
        return torn == 0


def days_csv(path, days):
    with open(path, "w", encoding="utf-8") as f:
        f.write("STARTDATE,STATIONID,POINTID,ITEMID,OBSVALUE\n")
        for d in range(days):
            values = " ".join(f"{(d * 1440 + i) % 997 / 10:.1f}" for i in range(1440))
            f.write(f"2024-01-{d + 1:02d},37001,1,4112,\"{values}\"\n")


def main():
    random.seed(20240510)
    with tempfile.TemporaryDirectory(prefix="tremora-kill-") as folder:
        env = dict(os.environ, HOME=os.path.join(folder, "home"), TREMORA_LOG_LEVEL="error")
        run(["sample-db", "--station", "37001", "a.db"], folder, env)
        run(["sample-db", "--station", "37001", "--station", "41001", "b.db"], folder, env)
        with open(os.path.join(folder, "default.conf"), "w", encoding="utf-8") as f:
            f.write("[a]\nDRIVER = sqlite\nHOST = cache\nDATABASE = a.db\n"
                    "[b]\nDRIVER = sqlite\nHOST = cache\nDATABASE = b.db\n")
        days_csv(os.path.join(folder, "old.csv"), 3)
        days_csv(os.path.join(folder, "new.csv"), 31)
        run(["split", "--rate", "60", "old.csv", "old_samples.csv"], folder, env)
        run(["split", "--rate", "60", "new.csv", "new_samples.csv"], folder, env)
        rows = {}

        def vuzo_whole(path, cwd, env):
            return vuzo_rows(path, cwd, env) in rows.values()

        cases = [
            Case("Parquet", ["split", "--rate", "60", "old.csv", "out.parquet"],
                 ["split", "--rate", "60", "new.csv", "out.parquet"], ["out.parquet"]),
            Case("metadata cache", ["refresh-cache", "--db", "a"], ["refresh-cache", "--db", "b"],
                 [f"home/.tremo/metastash/cache/{t}.parquet" for t in ("stations", "points", "stationitems")]),
            Case("chart", ["plot", "old_samples.csv", "--db", "a", "--prefix", "k_"],
                 ["plot", "new_samples.csv", "--db", "a", "--prefix", "k_"],
                 ["figures/k_4112_1.png"]),
            Case("VUZO", ["export", "--from", "old_samples.csv", "--db", "a", "--rate", "60", "--out", "x.vuzo"],
                 ["export", "--from", "new_samples.csv", "--db", "a", "--rate", "60", "--out", "x.vuzo"],
                 ["x.vuzo"], whole=vuzo_whole),
        ]
        for name, csv in (("old", "old_samples.csv"), ("new", "new_samples.csv")):
            rows[name] = sum(1 for _ in open(os.path.join(folder, csv), encoding="utf-8")) - 1
        results = [case.check(folder, env) for case in cases]
        shutil.rmtree(os.path.join(folder, "figures"), ignore_errors=True)
    if not all(results):
        sys.exit("a killed writer left a torn file")


if __name__ == "__main__":
    main()
