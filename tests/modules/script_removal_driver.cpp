// Drives the removal engine over a folder of scripts the way the tool does, but with every product selected,
// the "logs" entry included, which the silent driver never selects. Prints the product list and returns the
// removal result (0 done, 1 done with a restart needed, 2 failed; 3 when the folder holds no product).
#include "engine/ui_tool_lib.h"
#include "logging/nv_qor_log.h"

#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::printf("usage: script_removal_driver SCRIPT_FOLDER\n");
        return 3;
    }
    NvQorLogging::OpenLog(L"UninstallationTool", L"UninstallationTool", NvQorLogging::Info, 0);
    UiToolLib engine(argv[1]);
    ProductList products;
    engine.DetectProducts(products);
    for (const auto& product : products) {
        std::printf("%ls priority %d%s\n", product->GetId().c_str(), product->GetPriority(),
                    product->IsDetected() ? " found" : "");
        product->SetSelected(true);
    }
    const int result = products.empty() ? 3 : engine.RemoveProducts(products);
    NvQorLogging::CloseLog();
    std::printf("result %d\n", result);
    return result;
}
