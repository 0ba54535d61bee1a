local settings = nil
local name = settings.name
