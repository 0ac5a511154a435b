# bench/func_values.py: the twin of func_values.zyl.
fs = [lambda x: x + 1, lambda x: x - 1, lambda x: x + 2]
n = 0
for i in range(1, 1000001):
    f = fs[i % 3]
    n = f(n)
b = []
for i in range(1, 1001):
    b.append(i)


def twice(x):
    return x * 2


total = 0
for _ in range(300):
    for v in b:
        total = total + twice(v)
print(n + total)
