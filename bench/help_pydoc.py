#!/usr/bin/env python3
# bench/help_pydoc.py: help-string of `append` against pydoc.render_doc(list.append), 1,000 of each
# in one run, side by side, and one what/with/spec/buffer "pri" over the global context.
#
#   help.py ZYL [--runs N]
#
# Each round runs the Zyl script and then the Python loop; times are taken inside each
# program, so start-up is left out. Prints the median of N rounds (5 by default).
import os
import pydoc
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PAGES = 1000


def zyl_round(zyl):
    p = subprocess.run([zyl, os.path.join(HERE, "help.zyl")], stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, timeout=600,
                       env=dict(os.environ, BENCH_RUNS=str(PAGES)))
    last = p.stdout.decode("utf-8", "replace").strip().split("\n")[-1]
    if p.returncode != 0:
        raise RuntimeError(f"help.zyl exited with {p.returncode}: {last}")
    page_us, search_ms = last.split()
    return float(page_us), float(search_ms)


def python_round():
    start = time.perf_counter()
    for _ in range(PAGES):
        pydoc.render_doc(list.append)
    return (time.perf_counter() - start) * 1e6 / PAGES


def main():
    zyl = sys.argv[1]
    runs = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 5
    pages, searches, py = [], [], []
    for _ in range(runs):
        page_us, search_ms = zyl_round(zyl)
        pages.append(page_us)
        searches.append(search_ms)
        py.append(python_round())
    z, p, s = statistics.median(pages), statistics.median(py), statistics.median(searches)
    print(f"{'help, median of ' + str(runs):<34}{'zyl':>12}{'python3':>12}{'ratio':>8}")
    print(f"{'page of append (us a page)':<34}{z:>12.1f}{p:>12.1f}{z / p:>8.2f}")
    label = 'what/with/spec/buffer "pri" (ms)'
    print(f"{label:<34}{s:>12.2f}")


if __name__ == "__main__":
    main()
