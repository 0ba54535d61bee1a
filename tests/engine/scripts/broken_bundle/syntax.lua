function GetProductId() return "syntax" end
function DetectProduct() return true
