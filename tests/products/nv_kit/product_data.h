// A product's description from the kit's data file (products.ini), followed by what its installation recorded in
// the kit's state folder, with "[INSTALLDIR]" replaced by the folder the product was installed to.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace NvKit {

using Fields = std::vector<std::wstring>;

struct ProductLine {
    std::wstring kind;
    Fields fields;
};

struct Product {
    std::wstring id;
    std::vector<ProductLine> lines;

    // The first field of the kind's last line; empty when the product has none.
    std::wstring Get(const std::wstring& kind) const;
    std::vector<Fields> All(const std::wstring& kind) const;
};

// Parses "[id]" sections of "kind = field | field" lines; '#' begins a comment line. Lines before the first
// section belong to every product (a state file has no section).
std::vector<ProductLine> ParseSection(const std::wstring& text, const std::wstring& id);

// The product's lines from the data file, with those of its section "[<id> hooks]" when withHooks is set, then
// those of its state file (which may be missing); nothing when the data file does not describe the product.
std::optional<Product> LoadProduct(const std::wstring& dataFile, const std::wstring& stateFile, const std::wstring& id,
                                   bool withHooks = true);

// The ids of the data file's products, in file order (a "[<id> hooks]" section is part of its product).
std::vector<std::wstring> ProductIds(const std::wstring& dataFile);

std::optional<std::wstring> ReadTextFile(const std::wstring& path);

} // namespace NvKit
