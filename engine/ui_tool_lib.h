#pragma once

#include "engine/product_config.h"

#include <string>
#include <vector>

class Product;

// The removal engine: turns a directory of scripts into an ordered product list and removes the selection.
class UiToolLib {
public:
    enum RemovalResult : int {
        Done = 0,
        DoneRebootNeeded = 1,
        Failed = 2,
    };

    explicit UiToolLib(std::wstring scriptDirectory) : m_scriptDirectory(std::move(scriptDirectory)) {}
    virtual ~UiToolLib() = default;

    // The full paths of the folder's files whose extension is ".lua" (any case).
    virtual std::vector<std::wstring> ListScripts() const;
    // Lists every product script; a file that fails to load is logged and remembered.
    void DetectProducts(ProductList& products);
    // Removes the selected products in list order. Failed also when a script of the folder did not load:
    // what it describes may still be on the machine.
    RemovalResult RemoveProducts(const ProductList& products);

private:
    // The clean-up of one selected product, from its log line to the script's return.
    void RemoveProduct(Product& product);

    std::wstring m_scriptDirectory;
    std::vector<std::wstring> m_unloadedScripts; // full paths, from the last detection
};
