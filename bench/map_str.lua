-- bench/map_str.lua: the twin of map_str.zyl; a table keyed by lower-cased text.
local keys, upper = {}, {}
for i = 1, 200000 do
  local k = "key-" .. i
  keys[#keys + 1] = k
  upper[#upper + 1] = string.upper(k)
end
local m = {}
for _, k in ipairs(keys) do m[string.lower(k)] = #k end
local n = 0
for _ = 1, 5 do
  for _, k in ipairs(upper) do n = n + m[string.lower(k)] end
end
print(n)
