#include "tests/products/nv_kit/product_data.h"

#include "base/unique_resource.h"

#include <windows.h>

#include <algorithm>

namespace NvKit {

namespace {

std::wstring Trim(const std::wstring& text)
{
    const size_t first = text.find_first_not_of(L" \t\r");
    if (first == std::wstring::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(L" \t\r") - first + 1);
}

Fields SplitFields(const std::wstring& text)
{
    Fields fields;
    size_t start = 0;
    for (size_t bar = text.find(L'|'); bar != std::wstring::npos; bar = text.find(L'|', start)) {
        fields.push_back(Trim(text.substr(start, bar - start)));
        start = bar + 1;
    }
    fields.push_back(Trim(text.substr(start)));
    return fields;
}

// Calls visit(section, line) for each line that is not blank or a comment; section is empty before the first.
template <typename Visit> void ForEachLine(const std::wstring& text, Visit visit)
{
    std::wstring section;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        const std::wstring line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == L'#') {
            continue;
        }
        if (line.front() == L'[' && line.back() == L']') {
            section = line.substr(1, line.size() - 2);
            visit(section, std::wstring());
        } else {
            visit(section, line);
        }
    }
}

void ReplaceAll(std::wstring& text, const std::wstring& what, const std::wstring& with)
{
    for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + with.size())) {
        text.replace(at, what.size(), with);
    }
}

} // namespace

std::wstring Product::Get(const std::wstring& kind) const
{
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (line->kind == kind) {
            return line->fields.front();
        }
    }
    return {};
}

std::vector<Fields> Product::All(const std::wstring& kind) const
{
    std::vector<Fields> all;
    for (const ProductLine& line : lines) {
        if (line.kind == kind) {
            all.push_back(line.fields);
        }
    }
    return all;
}

std::vector<ProductLine> ParseSection(const std::wstring& text, const std::wstring& id)
{
    std::vector<ProductLine> lines;
    ForEachLine(text, [&](const std::wstring& section, const std::wstring& line) {
        const size_t equals = line.find(L'=');
        if ((section.empty() || section == id) && equals != std::wstring::npos) {
            lines.push_back({Trim(line.substr(0, equals)), SplitFields(line.substr(equals + 1))});
        }
    });
    return lines;
}

std::vector<std::wstring> ProductIds(const std::wstring& dataFile)
{
    std::vector<std::wstring> ids;
    ForEachLine(ReadTextFile(dataFile).value_or(L""), [&](const std::wstring& section, const std::wstring& line) {
        if (line.empty() && section.find(L' ') == std::wstring::npos) {
            ids.push_back(section);
        }
    });
    return ids;
}

std::optional<Product> LoadProduct(const std::wstring& dataFile, const std::wstring& stateFile, const std::wstring& id,
                                   bool withHooks)
{
    const std::vector<std::wstring> ids = ProductIds(dataFile);
    if (id.empty() || std::find(ids.begin(), ids.end(), id) == ids.end()) {
        return std::nullopt;
    }
    const std::wstring data = ReadTextFile(dataFile).value_or(L"");
    Product product{id, ParseSection(data, id)};
    const auto add = [&](std::vector<ProductLine> lines) {
        std::move(lines.begin(), lines.end(), std::back_inserter(product.lines));
    };
    if (withHooks) {
        add(ParseSection(data, id + L" hooks"));
    }
    add(ParseSection(ReadTextFile(stateFile).value_or(L""), L""));
    const std::wstring dir = product.Get(L"dir");
    for (ProductLine& line : product.lines) {
        for (std::wstring& field : line.fields) {
            ReplaceAll(field, L"[INSTALLDIR]", dir);
        }
    }
    return product;
}

std::optional<std::wstring> ReadTextFile(const std::wstring& path)
{
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        return std::nullopt;
    }
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    std::wstring text(bytes.size(), L'\0');
    text.resize(static_cast<size_t>(::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                          text.data(), static_cast<int>(text.size()))));
    return text;
}

} // namespace NvKit
