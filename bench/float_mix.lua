-- bench/float_mix.lua: the twin of float_mix.zyl.
local x, i, k = 0.0, 0, 0
while i < 1000000 do
    x = x + (i * 0.5) - 0.25
    if x > 1000.0 then x = x / 4.0; k = k + 1 end
    i = i + 1
end
print(k)
