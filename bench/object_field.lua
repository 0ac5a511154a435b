-- bench/object_field.lua: the twin of object_field.zyl.
local o = {x = 0, y = 3}
function o.bump(self, k) self.x = self.x + k end
for i = 1, 1000000 do
    o.x = o.x + o.y
    o:bump(1)
end
print(o.x)
