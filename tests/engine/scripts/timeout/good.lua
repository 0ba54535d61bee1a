local evidence = require("evidence")

function GetProductId() return "good" end
function GetPriority() return 60 end
function DetectProduct() return true end
function CleanupProduct() evidence.Record("good") return true end
