-- bench/vector_math.lua: the twin of vector_math.zyl, on a table of integers.
local v = {}
for i = 1, 1000000 do v[i] = i end
for _ = 1, 100 do
  for i = 1, 1000000 do v[i] = (v[i] * 3 + 1) % 1000003 end
end
local w = {}
for i = 1, 1000000 do w[i] = v[i] + v[i] end
print(w[1] + w[500000] + w[1000000])
