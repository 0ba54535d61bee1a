-- Has no CleanupProduct, so it is a library, not a product.
function GetProductId() return "partial" end
function DetectProduct() return true end
