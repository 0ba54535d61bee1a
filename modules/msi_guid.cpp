#include "modules/msi_guid.h"

#include <array>
#include <cstddef>

namespace {

constexpr size_t kTextLength = 38;
constexpr size_t kPackedLength = 32;
constexpr wchar_t kTextTemplate[] = L"{00000000-0000-0000-0000-000000000000}";
static_assert(sizeof(kTextTemplate) / sizeof(wchar_t) == kTextLength + 1);

// Each group of the text form and how its digits are laid down in the packed form.
struct Group {
    size_t textStart;
    size_t length;
    bool reversed; // otherwise each pair of digits is swapped
};

constexpr Group kGroups[] = {{1, 8, true}, {10, 4, true}, {15, 4, true}, {20, 4, false}, {25, 12, false}};

// The index in the text form of every character of the packed form; serves both directions.
constexpr std::array<size_t, kPackedLength> BuildTextIndexes()
{
    std::array<size_t, kPackedLength> indexes{};
    size_t packed = 0;
    for (const Group& group : kGroups) {
        for (size_t k = 0; k < group.length; ++k) {
            indexes[packed++] = group.textStart + (group.reversed ? group.length - 1 - k : (k ^ 1));
        }
    }
    return indexes;
}

constexpr std::array<size_t, kPackedLength> kTextIndexes = BuildTextIndexes();

// Not iswxdigit: the locale must not widen what reaches a registry path.
bool IsHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

} // namespace

std::wstring PackGuid(const std::wstring& text)
{
    if (text.size() != kTextLength) {
        return {};
    }
    for (size_t i = 0; i < kTextLength; ++i) {
        const bool digit = kTextTemplate[i] == L'0';
        if (digit ? !IsHexDigit(text[i]) : text[i] != kTextTemplate[i]) {
            return {};
        }
    }
    std::wstring packed(kPackedLength, L'\0');
    for (size_t i = 0; i < kPackedLength; ++i) {
        packed[i] = text[kTextIndexes[i]];
    }
    return packed;
}

std::wstring UnpackGuid(const std::wstring& packed)
{
    if (packed.size() != kPackedLength) {
        return {};
    }
    std::wstring text(kTextTemplate);
    for (size_t i = 0; i < kPackedLength; ++i) {
        if (!IsHexDigit(packed[i])) {
            return {};
        }
        text[kTextIndexes[i]] = packed[i];
    }
    return text;
}
