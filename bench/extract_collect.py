# bench/extract_collect.py: the twin of extract_collect.zyl, with slicing and a list
# comprehension.
import os

n = int(1000000 * float(os.environ.get("BENCH_SCALE", "1.0")))
b = list(range(1, n + 1))
e = b[::2]
c = [v for v in b if v % 2 == 0]
print(len(e), len(c), e[-1], c[-1])
