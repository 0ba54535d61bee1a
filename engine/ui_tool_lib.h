#pragma once

#include "engine/product_config.h"

#include <string>
#include <vector>

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

    virtual std::vector<std::wstring> ListScripts() const;
    void DetectProducts(ProductList& products);
    RemovalResult RemoveProducts(const ProductList& products);

private:
    std::wstring m_scriptDirectory;
};
