-- bench/func_values.lua: the twin of func_values.zyl.
local fs = {function(x) return x + 1 end, function(x) return x - 1 end, function(x) return x + 2 end}
local n = 0
for i = 1, 1000000 do
    local f = fs[i % 3 + 1]
    n = f(n)
end
local b = {}
for i = 1, 1000 do b[#b + 1] = i end
local function twice(x) return x * 2 end
local total = 0
for _ = 1, 300 do
    for _, v in ipairs(b) do total = total + twice(v) end
end
print(n + total)
