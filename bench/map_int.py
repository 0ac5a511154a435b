# bench/map_int.py: the twin of map_int.zyl, on a dict.
m = {}
for i in range(1, 1000001):
    m[i] = i
n = 0
for i in range(1, 1000001):
    if m.get(i) == i:
        n += 1
for i in range(1, 500001):
    del m[i * 2]
for i in range(1, 500001):
    m[i * 2] = i
for i in range(1, 1000001):
    if m.get(i) == i:
        n += 1
print(n)
