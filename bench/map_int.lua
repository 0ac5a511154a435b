-- bench/map_int.lua: the twin of map_int.zyl, on a table.
local m = {}
for i = 1, 1000000 do m[i] = i end
local n = 0
for i = 1, 1000000 do if m[i] == i then n = n + 1 end end
for i = 1, 500000 do m[i * 2] = nil end
for i = 1, 500000 do m[i * 2] = i end
for i = 1, 1000000 do if m[i] == i then n = n + 1 end end
print(n)
