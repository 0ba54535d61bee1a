local evidence = require("evidence")

function GetProductId() return "looping" end
function DetectProduct() while true do end end
function CleanupProduct() evidence.Record("looping") return true end
