#include "ui/settings.h"

#include "base/text_conversion.h"

#include "logging/nv_qor_log.h"

#include <climits>
#include <cwchar>

namespace {

constexpr wchar_t MissingTextMark = L'\u25BA';
constexpr wchar_t InitialLanguage[] = L"xx"; // no resource carries it, so nothing is found before a choice
constexpr wchar_t ResourceType[] = L"PROPERTIES";

} // namespace

std::wstring FillPlaceholder(std::wstring text, std::wstring_view placeholder, std::wstring_view value)
{
    for (size_t at = text.find(placeholder); at != std::wstring::npos; at = text.find(placeholder, at + value.size())) {
        text.replace(at, placeholder.size(), value);
    }
    return text;
}

bool Settings::KeyLess::operator()(const std::wstring& left, const std::wstring& right) const
{
    return _wcsicmp(left.c_str(), right.c_str()) < 0;
}

Settings& Settings::Instance()
{
    static Settings instance;
    return instance;
}

Settings::Settings() : m_language(InitialLanguage) {}

Settings::~Settings() = default;

std::vector<std::wstring> Settings::GetLanguages()
{
    std::lock_guard lock(m_lock);
    std::vector<std::wstring> languages;
    for (const auto& [code, values] : m_customizations) {
        if (code != GlobalLanguage && code != LocalLanguage) {
            languages.push_back(code);
        }
    }
    return languages;
}

std::wstring Settings::GetLanguage()
{
    std::lock_guard lock(m_lock);
    return m_language;
}

bool Settings::SelectLanguage(const std::wstring& code)
{
    std::lock_guard lock(m_lock);
    // Membership is judged by the customizations, so both resources must carry the same codes.
    if (code != GlobalLanguage && code != LocalLanguage && m_customizations.contains(code)) {
        NV_QOR_LOG(NvQorLogging::Info, L"%s: Language '%s' selected", NV_LOG_FUNCTION, code.c_str());
        m_language = code;
        return true;
    }
    NV_QOR_LOG(NvQorLogging::Warning, L"%s: Failed to select '%ls' language", NV_LOG_FUNCTION, code.c_str());
    return false;
}

bool Settings::Load(int scope, HINSTANCE instance, unsigned id)
{
    const std::wstring text = LoadResource(instance, id);
    return !text.empty() && LoadFromString(scope, text);
}

bool Settings::LoadFromString(int scope, const std::wstring& text)
{
    std::lock_guard lock(m_lock);
    Scope& target = scope == 0 ? m_localizations : m_customizations;
    target.clear();

    size_t loaded = 0;
    const std::wstring_view rest(text);
    size_t start = 0;
    while (start < rest.size()) {
        size_t end = rest.find_first_of(L"\r\n", start);
        if (end == std::wstring_view::npos) {
            end = rest.size();
        }
        if (end > start) {
            loaded += ParseLine(target, rest.substr(start, end - start));
        }
        start = end + 1;
    }
    NV_QOR_LOG(NvQorLogging::Debug, L"%s: Loaded %zu values", NV_LOG_FUNCTION, loaded);
    return loaded != 0;
}

std::wstring Settings::GetLocalized(const std::wstring& key, const std::wstring& language)
{
    std::wstring value;
    return FindLocalized(key, value, language) ? value : MissingTextMark + key;
}

bool Settings::FindLocalized(const std::wstring& key, std::wstring& value, const std::wstring& language)
{
    std::lock_guard lock(m_lock);
    const auto scope = m_localizations.find(language.empty() ? m_language : language);
    if (scope == m_localizations.end()) {
        return false;
    }
    const auto found = scope->second.find(key);
    if (found == scope->second.end()) {
        return false;
    }
    value = found->second;
    return true;
}

std::wstring Settings::GetCustomization(const std::wstring& key)
{
    std::lock_guard lock(m_lock);
    for (const std::wstring& language : {std::wstring(LocalLanguage), m_language, std::wstring(GlobalLanguage)}) {
        const auto scope = m_customizations.find(language);
        if (scope == m_customizations.end()) {
            continue;
        }
        const auto value = scope->second.find(key);
        if (value != scope->second.end()) {
            return value->second;
        }
    }
    return {};
}

void Settings::SetCustomization(const std::wstring& key, const std::wstring& value)
{
    std::lock_guard lock(m_lock);
    m_customizations[LocalLanguage][key] = value;
}

std::wstring Settings::LoadResource(HINSTANCE instance, unsigned id)
{
    HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(id), ResourceType);
    if (resource == nullptr) {
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: Didn't find properties, last error = %lu", NV_LOG_FUNCTION,
                   GetLastError());
        return {};
    }
    HGLOBAL loaded = ::LoadResource(instance, resource);
    if (loaded == nullptr) {
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: Failed to load resource, last error = %lu", NV_LOG_FUNCTION,
                   GetLastError());
        return {};
    }
    const auto* bytes = static_cast<const char*>(LockResource(loaded));
    if (bytes == nullptr) {
        return {};
    }
    const DWORD size = SizeofResource(instance, resource);
    NV_QOR_LOG(NvQorLogging::Debug, L"%s: Loading resource id %u (size %lu)", NV_LOG_FUNCTION, id, size);
    return Utf8ToWide(std::string_view(bytes, size));
}

size_t Settings::ParseLine(Scope& scope, std::wstring_view line)
{
    const size_t equals = line.find(L'=');
    if (equals == std::wstring_view::npos) {
        return 0;
    }
    const std::wstring_view name = line.substr(0, equals);
    const size_t colon = name.find(L':');
    std::wstring language = GlobalLanguage;
    std::wstring_view key = name;
    if (colon != std::wstring_view::npos) {
        language.assign(name.substr(0, colon));
        key = name.substr(colon + 1);
    }
    scope[language][std::wstring(key)] = line.substr(equals + 1);
    return 1;
}
