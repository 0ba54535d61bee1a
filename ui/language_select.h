#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The user's display language as the locale database names it.
struct DisplayLanguage {
    std::wstring isoLanguage; // ISO 639, e.g. "pt"
    std::wstring isoCountry;  // ISO 3166, e.g. "BR"
    std::wstring englishName; // e.g. "Portuguese"
};

// Reads the three names of a language identifier; a name that cannot be read stays empty.
DisplayLanguage QueryDisplayLanguage(LANGID language);

// The list entry that best fits the display language: "language-country", then the language, then the
// country taken as a language code (Norwegian Bokmål "nb-NO" picks "no"), then the default, then the first
// entry. Comparisons ignore case. Empty only for an empty list.
std::wstring FindBestLanguage(const DisplayLanguage& display, const std::vector<std::wstring>& selectable,
                              const std::wstring& defaultCode);

// The shipped language that a "language" option value names: the same code in any case ("pt-br" gives "pt-BR"),
// else its base language ("pt-PT" gives "pt"); empty when neither is shipped. byBase tells that the base matched.
std::wstring MatchLanguageOption(const std::wstring& requested, const std::vector<std::wstring>& selectable,
                                 bool& byBase);

// Chooses the language of the run: the "language" option when it names a selectable language or one whose base
// language is selectable, otherwise the one closest to the user's display language.
class LanguageSelect {
public:
    LanguageSelect();
    virtual ~LanguageSelect();

    virtual bool SelectDefaultLanguage();

    bool SelectLanguageFromCommandLine(const std::vector<std::wstring>& selectable);
    bool SelectLanguageFromEnvironment(const std::vector<std::wstring>& selectable);

private:
    std::wstring m_language;
};
