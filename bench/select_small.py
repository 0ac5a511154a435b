# bench/select_small.py: the twin of select_small.zyl.
b = {"a": 1, "b": 2, "c": 3, "d": 4}


class O:
    def __init__(self):
        self.a, self.b, self.c, self.d = 1, 2, 3, 4


o = O()
n = 0
for i in range(1, 1000001):
    n = n + (b.get("c")) + getattr(o, "d")
print(n)
