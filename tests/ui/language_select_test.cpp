#include "ui/language_select.h"

#include "base/option_parser.h"
#include "tests/ui/test_resources.h"
#include "ui/settings.h"

#include <gtest/gtest.h>

namespace {

TEST(FindBestLanguage, PicksTheClosestShippedLanguage)
{
    const struct {
        DisplayLanguage display;
        const wchar_t* expected;
    } cases[] = {
        {{L"en", L"US", L"English"}, L"en"},
        {{L"pt", L"BR", L"Portuguese"}, L"pt-BR"},
        {{L"pt", L"PT", L"Portuguese"}, L"pt"},
        {{L"zh", L"CN", L"Chinese"}, L"zh"},
        {{L"zh", L"TW", L"Chinese"}, L"zh-TW"},
        {{L"zh", L"HK", L"Chinese"}, L"zh-HK"},
        {{L"fr", L"CA", L"French"}, L"fr-CA"},
        {{L"es", L"MX", L"Spanish"}, L"es-MX"},
        {{L"nb", L"NO", L"Norwegian"}, L"no"},
        {{L"ca", L"ES", L"Catalan"}, L"es"},
        {{L"PT", L"br", L"Portuguese"}, L"pt-BR"},
        {{L"sw", L"KE", L"Kiswahili"}, L"en"},
        {{L"", L"", L""}, L"en"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, FindBestLanguage(c.display, ShippedLanguages, L"en"))
            << c.display.isoLanguage << L"-" << c.display.isoCountry;
    }
}

TEST(FindBestLanguage, FallsBackToTheFirstEntryThenToNothing)
{
    std::vector<std::wstring> withoutEnglish = ShippedLanguages;
    std::erase(withoutEnglish, L"en");
    EXPECT_EQ(L"bg", FindBestLanguage({L"sw", L"KE", L"Kiswahili"}, withoutEnglish, L"en"));
    EXPECT_EQ(L"de", FindBestLanguage({L"de", L"AT", L"German"}, withoutEnglish, L"en"));
    EXPECT_EQ(L"", FindBestLanguage({L"en", L"US", L"English"}, {}, L"en"));
    // An unreadable locale name does not match an empty code.
    EXPECT_EQ(L"x", FindBestLanguage({L"", L"", L""}, {L"x", L""}, L"en"));
}

TEST(MatchLanguageOption, IgnoresCaseThenFallsBackToTheBaseLanguage)
{
    const struct {
        const wchar_t* requested;
        const wchar_t* expected;
        bool byBase;
    } cases[] = {
        {L"de", L"de", false},       {L"DE", L"de", false},   {L"pt-br", L"pt-BR", false}, {L"zh-tw", L"zh-TW", false},
        {L"ES-mx", L"es-MX", false}, {L"pt-PT", L"pt", true}, {L"de-AT", L"de", true},     {L"es-AR", L"es", true},
        {L"ZH-sg", L"zh", true},     {L"xx", L"", false},     {L"xx-DE", L"", false},      {L"-de", L"", false},
        {L"de_AT", L"", false},      {L"", L"", false},
    };
    for (const auto& c : cases) {
        bool byBase = !c.byBase;
        EXPECT_EQ(c.expected, MatchLanguageOption(c.requested, ShippedLanguages, byBase)) << c.requested;
        EXPECT_EQ(c.byBase, byBase) << c.requested;
    }
}

TEST(QueryDisplayLanguage, ReadsTheLocaleNamesThatDecideTheLanguage)
{
    const struct {
        LANGID id;
        const wchar_t* isoLanguage;
        const wchar_t* isoCountry;
        const wchar_t* expected;
    } cases[] = {
        {MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE), L"pt", L"PT", L"pt"},
        {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), L"zh", L"CN", L"zh"},
        {MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH_CANADIAN), L"fr", L"CA", L"fr-CA"},
        {MAKELANGID(LANG_CATALAN, SUBLANG_CATALAN_CATALAN), L"ca", L"ES", L"es"},
    };
    for (const auto& c : cases) {
        const DisplayLanguage display = QueryDisplayLanguage(c.id);
        EXPECT_EQ(c.isoLanguage, display.isoLanguage) << c.id;
        EXPECT_EQ(c.isoCountry, display.isoCountry) << c.id;
        EXPECT_FALSE(display.englishName.empty()) << c.id;
        EXPECT_EQ(c.expected, FindBestLanguage(display, ShippedLanguages, L"en")) << c.id;
    }
}

// Only the pseudo-languages exist: neither the option nor the user's language can be chosen.
TEST(LanguageSelect, NoSelectableLanguageLeavesTheCurrentOne)
{
    NvOptionParser& parser = NvOptionParser::Instance();
    parser.Reset();
    ASSERT_TRUE(parser.AddOption(NvOptionParser::ValueRequired, L"language", L'l'));
    ASSERT_TRUE(parser.ParseArguments({L"/language=en"}));
    Settings& settings = Settings::Instance();
    ASSERT_TRUE(settings.LoadFromString(1, L"en:U=1\r\n"));
    ASSERT_TRUE(settings.SelectLanguage(L"en"));
    ASSERT_TRUE(settings.LoadFromString(1, L"OnlyGlobal=g\r\n"));
    settings.SetCustomization(L"Local", L"l");

    LanguageSelect select;
    EXPECT_FALSE(select.SelectDefaultLanguage());
    EXPECT_EQ(L"en", settings.GetLanguage());
    parser.Reset();
}

} // namespace
