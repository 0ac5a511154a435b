# bench/vector_math.py: the twin of vector_math.zyl: an array of integers rebuilt by a list
# comprehension for each scalar multiply-add.
from array import array
v = array('i', range(1, 1000001))
for _ in range(100):
    v = array('i', [(x * 3 + 1) % 1000003 for x in v])
w = array('i', [a + b for a, b in zip(v, v)])
print(w[0] + w[499999] + w[-1])
