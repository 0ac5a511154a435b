#!/usr/bin/env python3
# bench/zylbin_save.py: Zylbin save and load (save/as and load/as with 'zylbin, compact
# layout) beside python3's pickle and json, on the data of the Zylbin load benchmark: 200,000
# items (integer, float, short string, word (a string in Python), 3-integer block) in turn.
#
#   zylbin_save.py ZYL [--runs N] [--reps N]
#
# Each figure is CPU time (user + system) of child processes: one child makes the data and
# encodes it REPS times, another only makes the data (and, for loading, encodes it once), and
# the difference over REPS is one call. The children of all three run in turn, round after
# round, so that a change of load on the machine falls on each; the median of N rounds is kept.
import os
import resource
import statistics
import subprocess
import sys
import tempfile

ITEMS = 200000

ZYL = r'''Zyl []
do [
bin: back: none
data: make block! ITEMS
i: 0
loop ITEMS [
    append/only data switch remainder i 5 [
        0 [(remainder i * 7919 16777213) - 8388606]
        1 [i * 0.25 + 0.1]
        2 [rejoin ["item" remainder i 1000]]
        3 [to word! rejoin ["word" remainder i 100]]
        4 [copy [1 2 3]]
    ]
    i: i + 1
]
either "MODE" = "save" [
    loop REPS [bin: save/as none data 'zylbin]
][
    bin: save/as none data 'zylbin
    loop REPS [back: load/as bin 'zylbin]
]
none
]
'''

PY = r'''
import json, pickle, sys
kind, mode, reps = sys.argv[1], sys.argv[2], int(sys.argv[3])
def item(i):
    k = i % 5
    if k == 0: return (i * 7919) % 16777213 - 8388606
    if k == 1: return i * 0.25 + 0.1
    if k == 2: return "item" + str(i % 1000)
    if k == 3: return "word" + str(i % 100)
    return [1, 2, 3]
data = [item(i) for i in range(ITEMS)]
dumps, loads = (pickle.dumps, pickle.loads) if kind == "pickle" else (json.dumps, json.loads)
if mode == "save":
    for _ in range(reps): blob = dumps(data)
else:
    blob = dumps(data)
    for _ in range(reps): back = loads(blob)
'''


def cpu_of_children():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def timed(cmd):
    start = cpu_of_children()
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=900)
    if p.returncode != 0:
        raise RuntimeError(f"{' '.join(cmd)} exited with {p.returncode}: {p.stdout.decode()[-300:]}")
    return cpu_of_children() - start


def main():
    args = sys.argv[1:]
    zyl = os.path.abspath(args[0])
    runs = int(args[args.index("--runs") + 1]) if "--runs" in args else 5
    reps = int(args[args.index("--reps") + 1]) if "--reps" in args else 10
    with tempfile.TemporaryDirectory() as d:
        def zyl_script(mode, n):
            path = os.path.join(d, f"{mode}{n}.zyl")
            with open(path, "w") as f:
                f.write(ZYL.replace("ITEMS", str(ITEMS)).replace("MODE", mode).replace("REPS", str(n)))
            return [zyl, path]
        pyscript = os.path.join(d, "codec.py")
        with open(pyscript, "w") as f:
            f.write(PY.replace("ITEMS", str(ITEMS)))
        cases = []  # (label, op, command with reps, command without)
        for mode in ("save", "load"):
            cases.append(("zylbin", mode, zyl_script(mode, reps), zyl_script(mode, 0)))
            for kind in ("pickle", "json"):
                cases.append((kind, mode, [sys.executable, pyscript, kind, mode, str(reps)],
                              [sys.executable, pyscript, kind, mode, "0"]))
        times = {(c[0], c[1]): [] for c in cases}
        for _ in range(runs):
            for label, mode, full, empty in cases:
                times[(label, mode)].append((timed(full) - timed(empty)) / reps * 1000)
        print(f"{ITEMS} items, CPU ms a call, median of {runs} rounds of {reps} calls")
        print(f"{'':8} {'zylbin':>9} {'pickle':>9} {'json':>9} {'zyl/pickle':>11} {'zyl/json':>9}")
        for mode in ("save", "load"):
            z, p, j = (statistics.median(times[(k, mode)]) for k in ("zylbin", "pickle", "json"))
            print(f"{mode:8} {z:9.2f} {p:9.2f} {j:9.2f} {z / p:11.2f} {z / j:9.2f}")


if __name__ == "__main__":
    main()
