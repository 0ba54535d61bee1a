local evidence = require("evidence")

function GetProductId() return "first" end
function GetProductDisplayName() return "First product" end
function GetPriority() return -5 end
function DetectProduct() return true end
function CleanupProduct() evidence.Record("first") return true end
