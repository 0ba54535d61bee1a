local evidence = require("evidence")

function GetProductId() return "broken" end
function GetPriority() return 1 end
function DetectProduct() return true end
function CleanupProduct()
    evidence.Record("broken")
    error("clean-up of broken failed")
end
