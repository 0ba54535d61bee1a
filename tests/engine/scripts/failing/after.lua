local evidence = require("evidence")

function GetProductId() return "after" end
function GetPriority() return 2 end
function DetectProduct() return true end
function CleanupProduct() evidence.Record("after") return true end
