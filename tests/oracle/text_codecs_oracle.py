#!/usr/bin/env python3
# tests/oracle/text_codecs_oracle.py: holds load-json, to-json, load-csv and to-csv against
# python's json and csv modules on documents made here with a fixed seed:
#  - JSON that json.dumps wrote (ASCII or not, indented or not) is decoded by load-json and
#    written back by to-json (plain, /ascii, /pretty); json.loads of that must give the
#    document again, with our 32-bit integers: larger ones come back as floats;
#  - CSV that csv.writer wrote is read by load-csv into the rows csv.reader gives, and the
#    text to-csv writes from those rows is read back by csv.reader into the same rows.
#
#   text_codecs_oracle.py ZYL    ZYL is the zyl program
import csv
import io
import json
import math
import os
import random
import re
import subprocess
import sys
import tempfile

rng = random.Random(43)

PIECES = ["a", "Z", "é", "ß", "中", "\U0001F600", "\U00010348", '"', "\\", "/", "\b", "\f", "\n",
          "\r", "\t", "\x01", "\x1f", "\x7f", "\u00a0", "\u2028", " ", ",", "0", "-"]


def text(n=8):
    return "".join(rng.choice(PIECES) for _ in range(rng.randint(0, n)))


def number():
    k = rng.randint(0, 5)
    if k == 0:
        return rng.randint(-2**31, 2**31 - 1)
    if k == 1:
        return rng.choice([0, -1, 2**31 - 1, -2**31, 2**31, -2**31 - 1, 2**53, 10**18])
    if k == 2:
        return rng.randint(-10**6, 10**6)
    # Floats of at most 15 significant digits: what to-json forms reads back the same.
    return float("%.*g" % (rng.randint(1, 15), rng.uniform(-1e6, 1e6) * 10 ** rng.randint(-30, 30)))


def value(depth):
    k = rng.randint(0, 9 if depth < 20 else 5)
    if k == 0:
        return None
    if k == 1:
        return rng.choice([True, False])
    if k in (2, 3):
        return number()
    if k in (4, 5):
        return text()
    if k in (6, 7):
        return [value(depth + 1) for _ in range(rng.randint(0, 4))]
    keys = [rng.choice(["a", "A", "a-b", "x1", "1a", "a b", "", "ключ", "k\U0001F600"]) + text(2) for _ in range(rng.randint(0, 4))]
    return {k: value(depth + 1) for k in keys}


def deep(depth):
    # A document nested 20 levels, so every case reaches the limit the issue names.
    v = value(19)
    for _ in range(depth):
        v = [v] if rng.random() < 0.5 else {"k": v}
    return v


def as_zyl(v):
    # What comes back through our values: integers past 32 bits are floats.
    if isinstance(v, bool) or v is None:
        return v
    if isinstance(v, int):
        return v if -2**31 <= v < 2**31 else float(v)
    if isinstance(v, list):
        return [as_zyl(x) for x in v]
    if isinstance(v, dict):
        return {k: as_zyl(x) for k, x in v.items()}
    return v


def same(a, b):
    if isinstance(a, float) or isinstance(b, float):
        if type(a) is not type(b):
            return False
        return a == b or math.isclose(a, b, rel_tol=1e-15)
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return a == b


def layout(text):
    # Numbers may be spelled otherwise (5.3e17, 5.3e+17) and escapes in either case.
    return re.sub(r"-?[0-9][0-9.eE+-]*", "N", text).lower()


def run_zyl(zyl, script_text, folder):
    script = os.path.join(folder, "run.zyl")
    with open(script, "w", encoding="utf-8") as f:
        f.write("Zyl []\n" + script_text)
    p = subprocess.run([zyl, script], capture_output=True, cwd=folder, timeout=600)
    out = p.stdout.decode("utf-8", "replace")
    if p.returncode != 0 or "***" in out:
        sys.exit("zyl failed:\n" + out[-3000:] + p.stderr.decode("utf-8", "replace")[-2000:])


def json_cases(zyl, folder):
    docs = [deep(20) for _ in range(30)] + [value(0) for _ in range(120)]
    variants = [dict(ensure_ascii=True), dict(ensure_ascii=False), dict(indent=2), dict(indent=1, ensure_ascii=False)]
    count = 0
    for i, d in enumerate(docs):
        for j, kw in enumerate(variants):
            with open(os.path.join(folder, "d%d_%d.json" % (i, j)), "w", encoding="utf-8") as f:
                f.write(json.dumps(d, **kw))
            count += 1
    run_zyl(zyl, """
foreach name sort read %%./ [
    if all [%%.json = suffix? name  find/match name "d"] [
        v: load-json read name
        if error? v [print [name form v] quit/return 1]
        write rejoin [%%p- name] to-json v
        write rejoin [%%a- name] to-json/ascii v
        write rejoin [%%i- name] to-json/pretty v "  "
    ]
]
""".replace("%%", "%"), folder)
    failures = 0
    for i, d in enumerate(docs):
        want = as_zyl(d)
        for j in range(len(variants)):
            for prefix in ("p-", "a-", "i-"):
                name = os.path.join(folder, "%sd%d_%d.json" % (prefix, i, j))
                with open(name, encoding="utf-8") as f:
                    written = f.read()
                if prefix == "a-" and any(ord(c) > 127 for c in written):
                    print("to-json/ascii left a character above 127 in", name)
                    failures += 1
                if prefix == "i-" and layout(written) != layout(json.dumps(json.loads(written), indent=2, ensure_ascii=False)):
                    print("to-json/pretty lays out", name, "otherwise than json.dumps(indent=2)")
                    failures += 1
                if not same(json.loads(written), want):
                    print("round trip differs:", name)
                    failures += 1
    return count, failures


def csv_field():
    return "".join(rng.choice(["a", "b", " ", ",", '"', "\r", "\n", "\r\n", "é", "中", "\U0001F600", ";", "x y"])
                   for _ in range(rng.randint(0, 5)))


def csv_cases(zyl, folder):
    tables = []
    for _ in range(60):
        width = rng.randint(1, 6)
        rows = [[csv_field() for _ in range(width)] for _ in range(rng.randint(1, 12))]
        # A line of one empty field: csv.writer writes "", which we read; we write it as an
        # empty line, which csv.reader reads as no field at all.
        if width == 1:
            rows = [r for r in rows if r != [""]] or [["a"]]
        tables.append(rows)
    for i, rows in enumerate(tables):
        with open(os.path.join(folder, "t%d.csv" % i), "w", encoding="utf-8", newline="") as f:
            csv.writer(f).writerows(rows)
        with open(os.path.join(folder, "r%d.json" % i), "w", encoding="utf-8") as f:
            json.dump(rows, f)
    run_zyl(zyl, """
foreach name sort read %%./ [
    if %%.csv = suffix? name [
        v: load-csv read name
        if error? v [print [name form v] quit/return 1]
        write rejoin [name %%.json] to-json v
    ]
    if all [%%.json = suffix? name  find/match name "r"] [
        write rejoin [name %%.csv] to-csv load-json read name
    ]
]
""".replace("%%", "%"), folder)
    failures = 0
    for i, rows in enumerate(tables):
        with open(os.path.join(folder, "t%d.csv.json" % i), encoding="utf-8") as f:
            ours = json.load(f)
        with open(os.path.join(folder, "t%d.csv" % i), encoding="utf-8", newline="") as f:
            theirs = list(csv.reader(f))
        if ours != theirs:
            print("load-csv reads t%d.csv otherwise than csv.reader:" % i, ours, theirs)
            failures += 1
        with open(os.path.join(folder, "r%d.json.csv" % i), encoding="utf-8", newline="") as f:
            back = list(csv.reader(f))
        if back != rows:
            print("csv.reader reads our to-csv of r%d.json otherwise:" % i, back, rows)
            failures += 1
    return len(tables) * 2, failures


def main():
    zyl = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as folder:
        n1, f1 = json_cases(zyl, folder)
    with tempfile.TemporaryDirectory() as folder:
        n2, f2 = csv_cases(zyl, folder)
    print("%d JSON documents, %d CSV checks, %d failures" % (n1, n2, f1 + f2))
    sys.exit(1 if f1 + f2 else 0)


if __name__ == "__main__":
    main()
