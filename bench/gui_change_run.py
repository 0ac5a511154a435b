#!/usr/bin/env python3
# bench/gui_change_run.py: gui_change.zyl beside its Python twin, in turn round after round,
# with the recording backend of tests/gui. Each prints the microseconds one operation takes;
# the table shows the medians, their ratio and, for the 1,000-face window against the 10-face
# one, how far the cost follows the tree.
#
#   gui_change_run.py ZYL [--runs N]
import os
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.join(HERE, "..", "tests")


def figures(cmd):
    env = dict(os.environ, ZYL_TESTS=os.path.abspath(TESTS))
    out = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env,
                         timeout=600, check=True).stdout.decode()
    got = {}
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 2:
            try:
                got[parts[0]] = float(parts[1])
            except ValueError:
                pass
    return got


def main():
    zyl = sys.argv[1]
    runs = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 5
    zs, ps = [], []
    for _ in range(runs):
        zs.append(figures([zyl, os.path.join(HERE, "gui_change.zyl")]))
        ps.append(figures([sys.executable, os.path.join(HERE, "gui_change_twin.py")]))
    med = lambda rows, k: statistics.median(r[k] for r in rows)
    print(f"{'case (µs an operation)':<24} {'zyl':>10} {'python':>10} {'ratio':>7}   (median of {runs})")
    for k in ("assign-big", "assign-small", "show-big", "show-small"):
        z, p = med(zs, k), med(ps, k)
        print(f"{k:<24} {z:>10.2f} {p:>10.2f} {z / p:>7.2f}")
    print(f"{'assign big / small':<24} {med(zs, 'assign-big') / med(zs, 'assign-small'):>10.2f}"
          f" {med(ps, 'assign-big') / med(ps, 'assign-small'):>10.2f}")


if __name__ == "__main__":
    main()
