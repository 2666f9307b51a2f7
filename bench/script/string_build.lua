-- (b) String building of 200,000 numbers: the decimal text of each, comma separated.
-- Lua's idiomatic way (a buffer table and table.concat); repeated `..` would be quadratic.
local t0 = os.clock()
local parts = {}
for i = 1, 200000 do
  parts[#parts + 1] = tostring(i)
  parts[#parts + 1] = ","
end
local s = table.concat(parts)
local t1 = os.clock()
print(#s)
io.stderr:write(string.format("time_ms %.3f\n", (t1 - t0) * 1000))
