#pragma once

#include <string>
#include <vector>

// Ids of the PROPERTIES resources compiled into the ui test program (settings_test.rc).
enum TestResource : unsigned {
    ShippedLocalizations = 101,
    ShippedCustomizations = 102,
    WithByteOrderMark = 201,
    WithInvalidUtf8 = 202,
    WithoutValues = 203,
    MissingResource = 299,
};

// The language codes the tool ships, in ordinal order.
inline const std::vector<std::wstring> ShippedLanguages = {
    L"bg",    L"cs", L"da", L"de", L"el", L"en", L"es", L"es-MX", L"et",    L"fi",   L"fr",
    L"fr-CA", L"hr", L"hu", L"it", L"ja", L"ko", L"lt", L"nl",    L"no",    L"pl",   L"pt",
    L"pt-BR", L"ro", L"ru", L"sl", L"sv", L"tr", L"vi", L"zh",    L"zh-HK", L"zh-TW"};
