# bench/float_mix.py: the twin of float_mix.zyl.
x = 0.0
i = 0
k = 0
while i < 1000000:
    x = x + (i * 0.5) - 0.25
    if x > 1000.0:
        x = x / 4.0
        k = k + 1
    i = i + 1
print(k)
