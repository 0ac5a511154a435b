# bench/object_field.py: the twin of object_field.zyl.
class O:
    def __init__(self):
        self.x = 0
        self.y = 3

    def bump(self, k):
        self.x = self.x + k


o = O()
for i in range(1, 1000001):
    o.x = o.x + o.y
    o.bump(1)
print(o.x)
