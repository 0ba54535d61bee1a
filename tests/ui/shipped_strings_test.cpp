#include "base/text_conversion.h"
#include "ui/settings.h"

#include "tests/ui/test_resources.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <map>
#include <set>
#include <string_view>

namespace {

const std::vector<std::wstring> LocalizedKeys = {L"Title",
                                                 L"Welcome",
                                                 L"Start",
                                                 L"CopyrightNV",
                                                 L"RadioAll",
                                                 L"RadioSelect",
                                                 L"Name",
                                                 L"Detected",
                                                 L"ProductId_logs",
                                                 L"ProductId_quarantine",
                                                 L"Next",
                                                 L"Cancel",
                                                 L"Removing",
                                                 L"Finished",
                                                 L"FinishedReboot",
                                                 L"ErrorGeneric",
                                                 L"ErrorPrivileges",
                                                 L"Reboot",
                                                 L"Close",
                                                 L"RemovingProduct",
                                                 L"ResultRemoved",
                                                 L"ResultRemovedReboot",
                                                 L"ResultFailed",
                                                 L"NextSteps",
                                                 L"ShowLog"};

struct Line {
    std::wstring language; // "GLOBAL" when the line has no prefix
    std::wstring key;
    std::wstring value;
};

std::string_view ResourceBytes(unsigned id)
{
    const HMODULE module = GetModuleHandleW(nullptr);
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), L"PROPERTIES");
    if (resource == nullptr) {
        return {};
    }
    HGLOBAL loaded = LoadResource(module, resource);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    return bytes != nullptr ? std::string_view(static_cast<const char*>(bytes), SizeofResource(module, resource))
                            : std::string_view();
}

// Checks the file's encoding and line ends, then cuts it into lines the way the tool reads them.
std::vector<Line> ReadShippedLines(unsigned id)
{
    const std::string_view bytes = ResourceBytes(id);
    EXPECT_FALSE(bytes.empty()) << id;
    EXPECT_FALSE(bytes.starts_with("\xEF\xBB\xBF")) << id << ": byte-order mark";
    const std::wstring text = Utf8ToWide(std::string_view(bytes.data(), bytes.size()));
    EXPECT_FALSE(text.empty()) << id << ": not valid UTF-8";
    EXPECT_TRUE(text.ends_with(L"\r\n")) << id;

    std::vector<Line> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        const std::wstring line = text.substr(start, end - start);
        start = end + 2;
        EXPECT_EQ(std::wstring::npos, line.find_first_of(L"\r\n")) << id << ": bare line end in " << line;
        EXPECT_FALSE(line.empty()) << id << ": blank line " << lines.size() + 1;
        const size_t equals = line.find(L'=');
        if (equals == std::wstring::npos) {
            ADD_FAILURE() << id << ": line without '=': " << line;
            continue;
        }
        const size_t colon = line.substr(0, equals).find(L':');
        if (colon == std::wstring::npos) {
            lines.push_back({L"GLOBAL", line.substr(0, equals), line.substr(equals + 1)});
        } else {
            lines.push_back(
                {line.substr(0, colon), line.substr(colon + 1, equals - colon - 1), line.substr(equals + 1)});
        }
    }
    return lines;
}

size_t Count(const std::wstring& text, std::wstring_view part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

TEST(ShippedStrings, EveryLanguageHasEveryTextOnce)
{
    std::map<std::wstring, std::vector<std::wstring>> keysByLanguage;
    for (const Line& line : ReadShippedLines(ShippedLocalizations)) {
        keysByLanguage[line.language].push_back(line.key);
        const std::wstring where = line.language + L":" + line.key;
        if (line.value.empty()) {
            ADD_FAILURE() << where << ": empty";
            continue;
        }
        // Stray blanks are typing slips, except the one value that ships with a trailing blank.
        EXPECT_FALSE(iswspace(line.value.front())) << where;
        EXPECT_EQ(where == L"fr-CA:RadioAll", iswspace(line.value.back()) != 0) << where;
        EXPECT_EQ(std::wstring::npos, line.value.find(L"\u25BA")) << where;
        if (line.key == L"CopyrightNV") {
            EXPECT_EQ(1u, Count(line.value, L"%YEAR%")) << where;
            EXPECT_EQ(2u, Count(line.value, L"[#]")) << where;
            EXPECT_EQ(std::wstring::npos, line.value.find(L"[#][#]")) << where << ": empty link";
        }
        // A lost or misspelt placeholder would show on the progress page as it is.
        if (line.key == L"RemovingProduct") {
            for (const wchar_t* placeholder : {L"%PRODUCT%", L"%NUMBER%", L"%COUNT%"}) {
                EXPECT_EQ(1u, Count(line.value, placeholder)) << where << ": " << placeholder;
            }
            EXPECT_EQ(6u, Count(line.value, L"%")) << where << ": another placeholder";
        }
    }

    std::vector<std::wstring> languages;
    const std::set<std::wstring> expectedKeys(LocalizedKeys.begin(), LocalizedKeys.end());
    for (const auto& [language, keys] : keysByLanguage) {
        languages.push_back(language);
        EXPECT_EQ(LocalizedKeys.size(), keys.size()) << language;
        EXPECT_EQ(expectedKeys, std::set<std::wstring>(keys.begin(), keys.end())) << language;
    }
    EXPECT_EQ(ShippedLanguages, languages);
}

TEST(ShippedStrings, EveryLanguageHasALicenceAddressAndTheNoticesAreGlobal)
{
    std::vector<std::wstring> languages;
    std::set<std::wstring> addresses;
    std::set<std::wstring> globalKeys;
    for (const Line& line : ReadShippedLines(ShippedCustomizations)) {
        EXPECT_FALSE(line.value.empty()) << line.language << L":" << line.key;
        if (line.language == L"GLOBAL") {
            globalKeys.insert(line.key);
            EXPECT_EQ(std::wstring::npos, line.value.find(L"%YEAR%")) << line.key;
            continue;
        }
        EXPECT_EQ(L"UrlEULT", line.key) << line.language;
        EXPECT_TRUE(line.value.starts_with(L"https://")) << line.value;
        EXPECT_EQ(std::wstring::npos, line.value.find_first_of(L" \t")) << line.value;
        languages.push_back(line.language);
        addresses.insert(line.value);
    }
    EXPECT_EQ(ShippedLanguages, languages);
    EXPECT_EQ(ShippedLanguages.size(), addresses.size()) << "one address per language";
    EXPECT_EQ(std::set<std::wstring>({L"LuaCopyright", L"ZlibCopyright"}), globalKeys);
}

TEST(ShippedStrings, LoadThroughTheStoreInEveryLanguage)
{
    const HINSTANCE module = GetModuleHandleW(nullptr);
    Settings settings;
    ASSERT_TRUE(settings.Load(0, module, ShippedLocalizations));
    ASSERT_TRUE(settings.Load(1, module, ShippedCustomizations));
    EXPECT_EQ(ShippedLanguages, settings.GetLanguages());

    const std::wstring englishWelcome = settings.GetLocalized(L"Welcome", L"en");
    for (const std::wstring& language : ShippedLanguages) {
        ASSERT_TRUE(settings.SelectLanguage(language));
        for (const std::wstring& key : LocalizedKeys) {
            EXPECT_FALSE(settings.GetLocalized(key).starts_with(L"\u25BA")) << language << L":" << key;
        }
        EXPECT_NE(L"", settings.GetCustomization(L"UrlEULT")) << language;
        // A language left in English by mistake would show the English welcome text.
        if (language != L"en") {
            EXPECT_NE(englishWelcome, settings.GetLocalized(L"Welcome")) << language;
        }
    }
    EXPECT_EQ(L"Could not complete the uninstallation successfully.", settings.GetLocalized(L"ErrorGeneric", L"en"));
    EXPECT_TRUE(settings.GetLocalized(L"RadioAll", L"fr-CA").ends_with(L' '));
    EXPECT_TRUE(settings.GetCustomization(L"LuaCopyright").starts_with(L"Lua "));
    EXPECT_TRUE(settings.GetCustomization(L"ZlibCopyright").starts_with(L"zlib "));
}

} // namespace
