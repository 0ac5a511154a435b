# bench/split.py: the twin of split.zyl, with str.split.
import os

n = int(1000000 * float(os.environ.get("BENCH_SCALE", "1.0")))
text = "abcdefghi," * n
pieces = text.split(",")
print(len(pieces), len(pieces[0]))
