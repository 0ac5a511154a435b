-- bench/select_small.lua: the twin of select_small.zyl.
local b = {a = 1, b = 2, c = 3, d = 4}
local o = {a = 1, b = 2, c = 3, d = 4}
local n = 0
for i = 1, 1000000 do n = n + (b["c"]) + o["d"] end
print(n)
