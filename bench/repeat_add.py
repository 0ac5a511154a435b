# bench/repeat_add.py: a loop of ten million integer additions, the twin of repeat_add.zyl.
x = 0
for i in range(1, 10000001):
    x = x + 1
print(x)
