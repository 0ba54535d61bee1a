local evidence = require("evidence")

function GetProductId() return "middle" end
function DetectProduct() return false end
function CleanupProduct() evidence.Record("middle") end
