# bench/alloc_objects.py: 800,000 one-attribute instances made and kept in a list, the twin of
# alloc_objects.zyl.
import os


class O:
    def __init__(self):
        self.x = 1


n = int(800000 * float(os.environ.get("BENCH_SCALE", "1.0")))
b = []
for _ in range(n):
    b.append(O())
print(len(b))
