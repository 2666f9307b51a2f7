-- (a) An integer loop of 10 million iterations calling a user function.
local function step(x)
  return (x * 7 + 3) % 1000
end
local t0 = os.clock()
local s = 0
for i = 1, 10000000 do
  s = s + step(i)
end
local t1 = os.clock()
print(s)
io.stderr:write(string.format("time_ms %.3f\n", (t1 - t0) * 1000))
