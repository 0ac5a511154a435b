# bench/map_str.py: the twin of map_str.zyl; a dict keyed by lower-cased text stands for
# selects without regard to case.
keys = ["key-" + str(i) for i in range(1, 200001)]
upper = [k.upper() for k in keys]
m = {}
for k in keys:
    m[k.lower()] = len(k)
n = 0
for _ in range(5):
    for k in upper:
        n += m[k.lower()]
print(n)
