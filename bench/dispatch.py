# bench/dispatch.py: if/else and an if chain in a loop, the twin of dispatch.zyl.
n = 0
for i in range(1, 1000001):
    k = i % 4
    if k < 2:
        n = n + 1
    else:
        n = n - 1
    if k == 0:
        n = n + 1
    elif k == 1:
        n = n + 2
    elif k == 2:
        n = n + 3
    else:
        n = n + 4
print(n)
