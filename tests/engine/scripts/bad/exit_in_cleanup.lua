local evidence = require("evidence")

function GetProductId() return "exit_in_cleanup" end
function DetectProduct() return true end
function CleanupProduct()
    evidence.Record("exit_in_cleanup")
    os.exit(0)
end
