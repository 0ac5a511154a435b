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


def run(sets, others):
    """Registers [others] unrelated relations, then sets a watched field [sets] times."""
    for _ in range(others):
        o = Reactor()
        o.v = 0
        relations.extend([o, "v", lambda: None])
    r = Reactor()
    r.x = 0
    r.y = 0

    def reaction():
        r.y = r.x + 1

    relations.extend([r, "x", reaction])
    for i in range(1, int(sets * float(os.environ.get("BENCH_SCALE", "1"))) + 1):
        r.x = i
    print(r.y)


if __name__ == "__main__":
    run(200000, 0)
