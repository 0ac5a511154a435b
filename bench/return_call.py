# bench/return_call.py: calls of a small function that leaves by return, the twin of
# return_call.zyl.
def f(x):
    if x > 0:
        return x + 1
    return x


n = 1
for i in range(1, 1000001):
    n = f(n)
print(n)
