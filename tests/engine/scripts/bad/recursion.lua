local function Deeper(n) return 1 + Deeper(n + 1) end
Deeper(1)
