local evidence = require("evidence")

function GetProductId() return "last" end
function GetPriority() return 100 end
function DetectProduct() return true end
function CleanupProduct() evidence.Record("last") return true end
