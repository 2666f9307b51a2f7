-- (c) 1 million calls of a host (library) routine with one argument: math.abs, a C function.
local abs = math.abs
local t0 = os.clock()
local s = 0
for i = 1, 1000000 do
  s = s + abs(-i)
end
local t1 = os.clock()
print(s)
io.stderr:write(string.format("time_ms %.3f\n", (t1 - t0) * 1000))
