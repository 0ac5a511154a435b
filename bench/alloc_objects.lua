-- bench/alloc_objects.lua: 800,000 one-field tables made and kept in a table, the twin of
-- alloc_objects.zyl.
local n = math.floor(800000 * (tonumber(os.getenv("BENCH_SCALE")) or 1.0))
local b = {}
for _ = 1, n do
    b[#b + 1] = {x = 1}
end
print(#b)
