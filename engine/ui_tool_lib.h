#pragma once

#include "engine/product_config.h"

#include <cstddef>
#include <functional>
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

    // The name of a product whose script gives none (the log files, the quarantine), by its id; empty: none.
    using FallbackName = std::function<std::wstring(const std::wstring& id)>;
    // Told as each selected product's clean-up begins: its place among the selected ones (from 1) and their count.
    using StepObserver = std::function<void(const ProductConfig& product, size_t number, size_t count)>;

    explicit UiToolLib(std::wstring scriptDirectory, FallbackName fallbackName = {})
        : m_scriptDirectory(std::move(scriptDirectory)), m_fallbackName(std::move(fallbackName))
    {
    }
    virtual ~UiToolLib() = default;

    // The full paths of the folder's files whose extension is ".lua" (any case).
    virtual std::vector<std::wstring> ListScripts() const;
    // Lists every product script; a file that fails to load is logged and remembered.
    void DetectProducts(ProductList& products);
    // Removes the selected products in list order. Failed also when a script of the folder did not load:
    // what it describes may still be on the machine.
    RemovalResult RemoveProducts(const ProductList& products, const StepObserver& onStep = {});

private:
    std::wstring m_scriptDirectory;
    FallbackName m_fallbackName;
    std::vector<std::wstring> m_unloadedScripts; // full paths, from the last detection
};
