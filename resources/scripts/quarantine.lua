-- Quarantined files of every product line. Runs after the product scripts (priority 50) and before the
-- logs, so that nothing a product script moved to the quarantine is left behind.

local function QuarantineFolder()
    local commonAppData = FileSystem.GetSpecialPath(SpecialPath_CommonAppData)
    if commonAppData == "" then
        return nil
    end
    return commonAppData .. "\\Norvane\\Quarantine"
end

function GetProductId()
    return "quarantine"
end

function GetPriority()
    return 99
end

-- An empty quarantine (folders only) is not worth offering.
function DetectProduct()
    local folder = QuarantineFolder()
    return folder ~= nil and FileSystem.ContainsFiles(folder)
end

function CleanupProduct()
    Log.Info("CleanupProduct started")
    local folder = QuarantineFolder()
    if folder then
        FileSystem.RemoveRecursive(folder, true) -- each quarantined file named in the log
    end
    Log.Info("CleanupProduct finished")
end
