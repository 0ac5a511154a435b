# bench/reactivity_relations.py: the twin of reactivity_relations.zyl: reactivity.py (20,000 sets) with
# 1,000 unrelated relations in the flat list before the one that fires.
import os

relations = []


class Reactor:
    def __setattr__(self, name, value):
        object.__setattr__(self, name, value)
        for i in range(0, len(relations), 3):
            if relations[i] is self and relations[i + 1] == name:
                relations[i + 2]()


n = int(20000 * float(os.environ.get("BENCH_SCALE", "1")))
others = []
for _ in range(1000):
    o = Reactor()
    o.v = 0
    others.append(o)
    relations += [o, "v", lambda: None]
r = Reactor()
r.x = 0
r.y = 0


def reaction():
    r.y = r.x + 1


relations += [r, "x", reaction]
for i in range(1, n + 1):
    r.x = i
print(r.y)
