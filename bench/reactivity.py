# bench/reactivity.py: the twin of reactivity.zyl: a plain observer, __setattr__ looking the
# (object, field) pair up in a flat list of relations and running the reaction.
import os

relations = []


class Reactor:
    def __setattr__(self, name, value):
        object.__setattr__(self, name, value)
        for i in range(0, len(relations), 3):
            if relations[i] is self and relations[i + 1] == name:
                relations[i + 2]()


n = int(200000 * float(os.environ.get("BENCH_SCALE", "1")))
r = Reactor()
r.x = 0
r.y = 0


def reaction():
    r.y = r.x + 1


relations += [r, "x", reaction]
for i in range(1, n + 1):
    r.x = i
print(r.y)
