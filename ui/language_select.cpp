#include "ui/language_select.h"

#include "base/option_parser.h"
#include "logging/nv_qor_log.h"
#include "ui/settings.h"

#include <algorithm>
#include <cwchar>

namespace {

constexpr wchar_t DefaultLanguage[] = L"en";

std::wstring ReadLocaleString(LCID locale, LCTYPE type)
{
    const int size = GetLocaleInfoW(locale, type, nullptr, 0);
    if (size <= 0) {
        return {};
    }
    std::wstring text(static_cast<size_t>(size), L'\0');
    if (GetLocaleInfoW(locale, type, text.data(), size) <= 0) {
        return {};
    }
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

const std::wstring* FindIgnoringCase(const std::vector<std::wstring>& list, const std::wstring& code)
{
    // An unreadable locale name must not match an empty code that a malformed resource may carry.
    if (code.empty()) {
        return nullptr;
    }
    const auto found = std::find_if(list.begin(), list.end(), [&code](const std::wstring& entry) {
        return _wcsicmp(entry.c_str(), code.c_str()) == 0;
    });
    return found == list.end() ? nullptr : &*found;
}

std::wstring JoinCodes(const std::vector<std::wstring>& codes)
{
    std::wstring joined;
    for (const std::wstring& code : codes) {
        if (!joined.empty()) {
            joined += L',';
        }
        joined += code;
    }
    return joined;
}

} // namespace

DisplayLanguage QueryDisplayLanguage(LANGID language)
{
    const LCID locale = MAKELCID(language, SORT_DEFAULT);
    return {ReadLocaleString(locale, LOCALE_SISO639LANGNAME), ReadLocaleString(locale, LOCALE_SISO3166CTRYNAME),
            ReadLocaleString(locale, LOCALE_SENGLISHLANGUAGENAME)};
}

std::wstring FindBestLanguage(const DisplayLanguage& display, const std::vector<std::wstring>& selectable,
                              const std::wstring& defaultCode)
{
    for (const std::wstring& candidate :
         {display.isoLanguage + L'-' + display.isoCountry, display.isoLanguage, display.isoCountry, defaultCode}) {
        if (const std::wstring* found = FindIgnoringCase(selectable, candidate)) {
            return *found;
        }
    }
    return selectable.empty() ? std::wstring() : selectable.front();
}

std::wstring MatchLanguageOption(const std::wstring& requested, const std::vector<std::wstring>& selectable,
                                 bool& byBase)
{
    byBase = false;
    if (const std::wstring* found = FindIgnoringCase(selectable, requested)) {
        return *found;
    }
    const size_t separator = requested.find(L'-');
    if (separator == std::wstring::npos) {
        return {};
    }
    const std::wstring* base = FindIgnoringCase(selectable, requested.substr(0, separator));
    byBase = base != nullptr;
    return base != nullptr ? *base : std::wstring();
}

LanguageSelect::LanguageSelect() = default;

LanguageSelect::~LanguageSelect() = default;

bool LanguageSelect::SelectDefaultLanguage()
{
    Settings& settings = Settings::Instance();
    const std::vector<std::wstring> selectable = settings.GetLanguages();
    NV_QOR_LOG(NvQorLogging::Debug, L"%s: Selectable: %s", NV_LOG_FUNCTION, JoinCodes(selectable).c_str());
    if (!SelectLanguageFromCommandLine(selectable) && !SelectLanguageFromEnvironment(selectable)) {
        return false;
    }
    settings.SelectLanguage(m_language);
    return true;
}

bool LanguageSelect::SelectLanguageFromCommandLine(const std::vector<std::wstring>& selectable)
{
    const std::wstring requested = NvOptionParser::Instance().GetValue(L"language");
    if (requested.empty()) {
        return false;
    }
    bool byBase = false;
    const std::wstring chosen = MatchLanguageOption(requested, selectable, byBase);
    if (chosen.empty()) {
        NV_QOR_LOG(NvQorLogging::Warning,
                   L"%s: User specified '%s' as language in command-line, but it's not selectable", NV_LOG_FUNCTION,
                   requested.c_str());
        return false;
    }
    m_language = chosen;
    if (byBase) {
        NV_QOR_LOG(NvQorLogging::Info,
                   L"%s: Selected '%s' as default language by command-line option '%s': its base language",
                   NV_LOG_FUNCTION, m_language.c_str(), requested.c_str());
    } else {
        NV_QOR_LOG(NvQorLogging::Info, L"%s: Selected '%s' as default language by command-line option", NV_LOG_FUNCTION,
                   m_language.c_str());
    }
    return true;
}

bool LanguageSelect::SelectLanguageFromEnvironment(const std::vector<std::wstring>& selectable)
{
    const DisplayLanguage display = QueryDisplayLanguage(GetUserDefaultUILanguage());
    NV_QOR_LOG(NvQorLogging::Info, L"%s: User display language is '%s' (%s-%s)", NV_LOG_FUNCTION,
               display.englishName.c_str(), display.isoLanguage.c_str(), display.isoCountry.c_str());
    const std::wstring best = FindBestLanguage(display, selectable, DefaultLanguage);
    if (best.empty()) {
        NV_QOR_LOG(NvQorLogging::Fatal, L"%s: Unable to determine default language", NV_LOG_FUNCTION);
        return false;
    }
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Selected '%s' as the default language", NV_LOG_FUNCTION, best.c_str());
    m_language = best;
    return true;
}
