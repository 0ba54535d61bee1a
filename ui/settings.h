#pragma once

#include <windows.h>

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// Replaces every "%NAME%" placeholder of a text, left to right, by the value.
std::wstring FillPlaceholder(std::wstring text, std::wstring_view placeholder, std::wstring_view value);

// Process-wide store of the localized texts (scope 0) and the customizations (scope 1), both read from
// PROPERTIES resources: UTF-8 lines "language:key=value", or "key=value" for the pseudo-language "GLOBAL".
class Settings {
public:
    // Keys are matched the way the C library's _wcsicmp matches them: "title" finds "Title".
    struct KeyLess {
        bool operator()(const std::wstring& left, const std::wstring& right) const;
    };
    using Values = std::map<std::wstring, std::wstring, KeyLess>;
    // Language codes are case-sensitive and ordered by UTF-16 code unit ("es" < "es-MX").
    using Scope = std::map<std::wstring, Values>;

    static constexpr wchar_t GlobalLanguage[] = L"GLOBAL";
    static constexpr wchar_t LocalLanguage[] = L"LOCAL";

    static Settings& Instance();

    Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;
    virtual ~Settings();

    virtual std::vector<std::wstring> GetLanguages();
    virtual std::wstring GetLanguage();
    virtual bool SelectLanguage(const std::wstring& code);
    virtual bool Load(int scope, HINSTANCE instance, unsigned id);
    virtual bool LoadFromString(int scope, const std::wstring& text);
    // An absent language or key yields "►" followed by the key, so a missing text is visible on screen.
    virtual std::wstring GetLocalized(const std::wstring& key, const std::wstring& language = L"");
    // The text when the language has it; false (and the value untouched) otherwise.
    bool FindLocalized(const std::wstring& key, std::wstring& value, const std::wstring& language = L"");
    // "LOCAL" first, then the current language, then "GLOBAL"; empty when none has the key.
    virtual std::wstring GetCustomization(const std::wstring& key);
    virtual void SetCustomization(const std::wstring& key, const std::wstring& value);
    // The resource's UTF-8 bytes decoded strictly; empty when missing, empty or not valid UTF-8.
    virtual std::wstring LoadResource(HINSTANCE instance, unsigned id);

protected:
    // Stores one line into the scope; 1 when the line held a "=", else 0. Called with the lock held.
    virtual size_t ParseLine(Scope& scope, std::wstring_view line);

private:
    Scope m_localizations;
    Scope m_customizations;
    std::wstring m_language;
    std::mutex m_lock;
};
