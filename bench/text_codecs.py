#!/usr/bin/env python3
# bench/text_codecs.py: load-json, to-json, load-csv and to-csv against python3's json
# (C accelerated) and csv modules, on a generated 20 MB JSON document (nested objects and
# arrays, strings with escapes and non-ASCII, integers, floats) and a 20 MB CSV file.
#
#   text_codecs.py ZYL [--mb N] [--runs N]
#
# Each side reads its input once, then times only the codec call (wall time of the call
# inside the process, the least of N runs, 3 by default: the figure least disturbed by other
# load); the ratio is zyl's over python's.
import csv
import io
import json
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time


def make_json(mb):
    rng = random.Random(7)
    words = ["alpha", "beta", "gamma", "delta", "é café", "中文", "tab\there", 'quote"d', "line\nfeed", "\U0001F600 smile"]
    def record(i):
        return {
            "id": i,
            "name": rng.choice(words) + str(i),
            "score": rng.uniform(-1000, 1000),
            "big": rng.randint(0, 2**40),
            "tags": [rng.choice(words) for _ in range(rng.randint(0, 5))],
            "nested": {"a": [1, 2.5, None, True, False], "b": {"c": rng.choice(words)}},
        }
    out, size, i = [], 0, 0
    while size < mb * 1_000_000:
        r = record(i)
        out.append(r)
        size += len(json.dumps(r, ensure_ascii=False)) + 2
        i += 1
    return json.dumps({"records": out, "count": i}, ensure_ascii=False)


def make_csv(mb):
    rng = random.Random(8)
    words = ["alpha", "beta", "gamma", "with, comma", 'with "quotes"', "multi\nline", "é café", "中文", ""]
    buf = io.StringIO()
    w = csv.writer(buf, lineterminator="\n")
    i = 0
    while buf.tell() < mb * 1_000_000:
        w.writerow([str(i), rng.choice(words), str(rng.randint(0, 10**6)), "%.3f" % rng.uniform(0, 100), rng.choice(words), "x" * rng.randint(0, 20)])
        i += 1
    return buf.getvalue()


PY = r'''
import csv, io, json, sys, time
kind, path, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
text = open(path, encoding="utf-8", newline="").read()
def timed(f):
    t = time.perf_counter(); r = f(); return time.perf_counter() - t, r
if kind == "json":
    v = json.loads(text)
    a = [timed(lambda: json.loads(text))[0] for _ in range(runs)]
    b = [timed(lambda: json.dumps(v, ensure_ascii=False))[0] for _ in range(runs)]
else:
    rows = list(csv.reader(io.StringIO(text)))
    a = [timed(lambda: list(csv.reader(io.StringIO(text))))[0] for _ in range(runs)]
    def write():
        out = io.StringIO(); csv.writer(out, lineterminator="\n").writerows(rows); return out.getvalue()
    b = [timed(write)[0] for _ in range(runs)]
print(" ".join(map(str, a)))
print(" ".join(map(str, b)))
'''

ZYL = r'''do [
text: read %PATH
runs: RUNS
secs: func [t] [to float! t]
a: copy [] b: copy []
either "KIND" = "json" [
    v: load-json text
    loop runs [append a secs dt [load-json text]]
    loop runs [append b secs dt [to-json v]]
][
    v: load-csv text
    loop runs [append a secs dt [load-csv text]]
    loop runs [append b secs dt [to-csv v]]
]
print a
print b
]
'''


def run(cmd):
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout.split("\n")
    return [min(float(x) for x in line.split()) for line in out[:2]]


def main():
    args = sys.argv[1:]
    zyl = os.path.abspath(args[0])
    mb = int(args[args.index("--mb") + 1]) if "--mb" in args else 20
    runs = args[args.index("--runs") + 1] if "--runs" in args else "3"
    with tempfile.TemporaryDirectory() as d:
        paths = {"json": os.path.join(d, "doc.json"), "csv": os.path.join(d, "doc.csv")}
        with open(paths["json"], "w", encoding="utf-8") as f:
            f.write(make_json(mb))
        with open(paths["csv"], "w", encoding="utf-8", newline="") as f:
            f.write(make_csv(mb))
        pyscript = os.path.join(d, "bench.py")
        with open(pyscript, "w") as f:
            f.write(PY)
        print("%-28s %10s %10s %7s" % ("%d MB" % mb, "zyl s", "python s", "ratio"))
        for kind, names in (("json", ("load-json / json.loads", "to-json / json.dumps")),
                            ("csv", ("load-csv / csv.reader", "to-csv / csv.writer"))):
            script = os.path.join(d, kind + ".zyl")
            with open(script, "w") as f:
                f.write("Zyl []\n" + ZYL.replace("PATH", paths[kind]).replace("RUNS", runs).replace("KIND", kind))
            z = run([zyl, script])
            p = run([sys.executable, pyscript, kind, paths[kind], runs])
            for name, zt, pt in zip(names, z, p):
                print("%-28s %10.3f %10.3f %7.2f" % (name, zt, pt, zt / pt))


if __name__ == "__main__":
    main()
