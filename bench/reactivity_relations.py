# bench/reactivity_relations.py: the twin of reactivity_relations.zyl: reactivity.py's
# observer, 20,000 sets with 1,000 unrelated relations in the flat list before the one that
# fires.
from reactivity import run

run(20000, 1000)
