# bench/zylbin_load.py: pickle.loads and json.loads on the data of bench/zylbin_bench.cpp's load
# case (200,000 items: integer, float, short string, word as a string, 3-integer list, in
# turn), for comparison with BM_ZylbinLoad. Prints the median of 7 runs of each, wall and CPU
# time in ms.
import json
import pickle
import statistics
import time

RECORDS = 200000


def item(i):
    k = i % 5
    if k == 0:
        v = ((i * 2654435761) & 0xFFFFFFFF) >> 8
        return (v >> 1) ^ -(v & 1)
    if k == 1:
        return i * 0.25 + 0.1
    if k == 2:
        return "item" + str(i % 1000)
    if k == 3:
        return "word" + str(i % 100)
    return [1, 2, 3]


data = [item(i) for i in range(RECORDS)]
for name, dumps, loads in (("pickle.loads", pickle.dumps, pickle.loads), ("json.loads", json.dumps, json.loads)):
    blob = dumps(data)
    wall, cpu = [], []
    for _ in range(7):
        t, c = time.perf_counter(), time.process_time()
        loads(blob)
        wall.append((time.perf_counter() - t) * 1000)
        cpu.append((time.process_time() - c) * 1000)
    print(f"{name:14} {statistics.median(wall):8.2f} ms wall {statistics.median(cpu):8.2f} ms CPU  ({len(blob)} bytes)")
