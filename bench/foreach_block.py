# bench/foreach_block.py: a loop over a million-element list, five times, the twin of
# foreach_block.zyl.
b = []
for i in range(1, 1000001):
    b.append(i)
n = 0
for _ in range(5):
    for v in b:
        n = n + 1
print(n)
