-- A library script: log lines written from its functions carry its own file name.
local Caller = {}

function Caller.LogInfo(message)
    Log.Info(message)
end

return Caller
