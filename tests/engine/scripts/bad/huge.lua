error(string.rep("x", 50 * 1024 * 1024))
