#include "base/text_conversion.h"
#include "ui/settings.h"

#include "tests/ui/test_resources.h"

#include <gtest/gtest.h>

namespace {

std::wstring MissingText(const std::wstring& key)
{
    return L"\u25BA" + key;
}

TEST(SettingsParse, AcceptsEveryLineEnd)
{
    const struct {
        const char* name;
        std::wstring text;
    } cases[] = {
        {"CR LF", L"en:A=1\r\nen:B=2\r\n"},
        {"LF", L"en:A=1\nen:B=2\n"},
        {"CR", L"en:A=1\ren:B=2\r"},
        {"blank lines and no final line end", L"\r\n\r\n\nen:A=1\r\r\n\n\nen:B=2"},
    };
    for (const auto& c : cases) {
        Settings settings;
        EXPECT_TRUE(settings.LoadFromString(0, c.text)) << c.name;
        EXPECT_EQ(L"1", settings.GetLocalized(L"A", L"en")) << c.name;
        EXPECT_EQ(L"2", settings.GetLocalized(L"B", L"en")) << c.name;
    }
}

TEST(SettingsParse, SplitsLanguageKeyAndValue)
{
    Settings settings;
    ASSERT_TRUE(settings.LoadFromString(0, L"en:Equals=a=b\r\n"
                                           L"en:Blanks= x \r\n"
                                           L"en:Address=https://example.test/a:b\r\n"
                                           L"en:Trailing =t\r\n"
                                           L"en:Empty=\r\n"
                                           L"just text\r\n"
                                           L"Plain=p\r\n"
                                           L"en:Name=N\r\n"
                                           L"EN:Name=M\r\n"
                                           L"en:Title=T\r\n"));
    const struct {
        const wchar_t* language;
        const wchar_t* key;
        std::wstring expected;
    } cases[] = {
        {L"en", L"Equals", L"a=b"},
        {L"en", L"Blanks", L" x "},
        {L"en", L"Address", L"https://example.test/a:b"},
        {L"en", L"Trailing ", L"t"},
        {L"en", L"Trailing", MissingText(L"Trailing")},
        {L"en", L"Empty", L""},
        {L"en", L"just text", MissingText(L"just text")},
        {L"GLOBAL", L"Plain", L"p"},
        {L"en", L"Plain", MissingText(L"Plain")},
        {L"en", L"Name", L"N"},
        {L"EN", L"Name", L"M"},
        {L"en", L"title", L"T"},
        {L"En", L"Title", MissingText(L"Title")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, settings.GetLocalized(c.key, c.language)) << c.language << L":" << c.key;
    }
}

TEST(SettingsParse, LaterDuplicateReplacesEarlierIgnoringKeyCase)
{
    Settings settings;
    ASSERT_TRUE(settings.LoadFromString(0, L"en:KEY=1\r\nen:key=2\r\n"));
    EXPECT_EQ(L"2", settings.GetLocalized(L"Key", L"en"));
}

TEST(SettingsParse, LoadingAScopeReplacesItsContentOnly)
{
    Settings settings;
    ASSERT_TRUE(settings.LoadFromString(0, L"en:Z=0"));
    // A text without any "=" empties the scope and counts as a failed load.
    EXPECT_FALSE(settings.LoadFromString(0, L"just text\r\nmore"));
    EXPECT_EQ(MissingText(L"Z"), settings.GetLocalized(L"Z", L"en"));
    ASSERT_TRUE(settings.LoadFromString(0, L"en:A=1"));
    ASSERT_TRUE(settings.LoadFromString(1, L"en:C=3"));
    ASSERT_TRUE(settings.LoadFromString(0, L"en:B=2"));
    EXPECT_EQ(MissingText(L"A"), settings.GetLocalized(L"A", L"en"));
    EXPECT_EQ(L"2", settings.GetLocalized(L"B", L"en"));
    ASSERT_TRUE(settings.SelectLanguage(L"en"));
    EXPECT_EQ(L"3", settings.GetCustomization(L"C"));

    // Any scope other than 0 means the customizations.
    ASSERT_TRUE(settings.LoadFromString(7, L"en:D=4"));
    EXPECT_EQ(L"", settings.GetCustomization(L"C"));
    EXPECT_EQ(L"4", settings.GetCustomization(L"D"));
    EXPECT_EQ(L"2", settings.GetLocalized(L"B", L"en"));
}

TEST(SettingsLanguage, SelectsOnlyCustomizationLanguages)
{
    Settings settings;
    EXPECT_EQ(L"xx", settings.GetLanguage());
    ASSERT_TRUE(settings.LoadFromString(0, L"en:Title=T\r\nfr:Title=F\r\n"));
    EXPECT_EQ(MissingText(L"Title"), settings.GetLocalized(L"Title"));

    ASSERT_TRUE(settings.LoadFromString(1, L"zh-TW:U=1\r\nGlobalKey=g\r\nzh:U=2\r\nen:U=3\r\nzh-HK:U=4\r\n"
                                           L"es-MX:U=5\r\nes:U=6\r\n"));
    settings.SetCustomization(L"U", L"local");
    const std::vector<std::wstring> expected = {L"en", L"es", L"es-MX", L"zh", L"zh-HK", L"zh-TW"};
    EXPECT_EQ(expected, settings.GetLanguages());

    const struct {
        const wchar_t* code;
        bool selected;
    } cases[] = {{L"en", true}, {L"GLOBAL", false}, {L"LOCAL", false}, {L"EN", false},
                 {L"e", false}, {L"en ", false},    {L"fr", false} /* localized, but not customized */};
    for (const auto& c : cases) {
        EXPECT_EQ(c.selected, settings.SelectLanguage(c.code)) << c.code;
        // A refused code leaves the earlier choice in place.
        EXPECT_EQ(L"en", settings.GetLanguage()) << c.code;
    }
    EXPECT_EQ(L"T", settings.GetLocalized(L"Title"));
    EXPECT_EQ(L"F", settings.GetLocalized(L"Title", L"fr"));
}

TEST(SettingsCustomization, LocalThenCurrentLanguageThenGlobal)
{
    Settings settings;
    ASSERT_TRUE(settings.LoadFromString(1, L"en:UrlEULT=https://example.test/en\r\n"
                                           L"fi:UrlEULT=https://example.test/fi\r\n"
                                           L"Title=Abc\r\n"
                                           L"fi:Title=Fi\r\n"));
    EXPECT_EQ(L"Abc", settings.GetCustomization(L"Title"));
    EXPECT_EQ(L"", settings.GetCustomization(L"UrlEULT"));

    ASSERT_TRUE(settings.SelectLanguage(L"fi"));
    EXPECT_EQ(L"https://example.test/fi", settings.GetCustomization(L"urleult"));
    EXPECT_EQ(L"Fi", settings.GetCustomization(L"Title"));
    EXPECT_EQ(L"", settings.GetCustomization(L"Absent"));

    settings.SetCustomization(L"UrlEULT", L"file:///local.html");
    for (const wchar_t* language : {L"fi", L"en"}) {
        ASSERT_TRUE(settings.SelectLanguage(language));
        EXPECT_EQ(L"file:///local.html", settings.GetCustomization(L"UrlEULT")) << language;
    }
    EXPECT_EQ(std::vector<std::wstring>({L"en", L"fi"}), settings.GetLanguages());
}

TEST(SettingsResource, LoadsOnlyValidUtf8AndKeepsTheStoreOnFailure)
{
    const HINSTANCE module = GetModuleHandleW(nullptr);
    Settings settings;
    ASSERT_TRUE(settings.LoadFromString(0, L"en:Kept=yes"));

    for (const unsigned id : {WithInvalidUtf8, MissingResource}) {
        EXPECT_EQ(L"", settings.LoadResource(module, id)) << id;
        EXPECT_FALSE(settings.Load(0, module, id)) << id;
        EXPECT_EQ(L"yes", settings.GetLocalized(L"Kept", L"en")) << id;
    }

    // Decodes, but holds no value: the scope is emptied and the load reported as failed.
    EXPECT_FALSE(settings.Load(0, module, WithoutValues));
    EXPECT_EQ(MissingText(L"Kept"), settings.GetLocalized(L"Kept", L"en"));
}

TEST(SettingsResource, ByteOrderMarkBelongsToTheFirstLanguageCode)
{
    Settings settings;
    ASSERT_TRUE(settings.Load(1, GetModuleHandleW(nullptr), WithByteOrderMark));
    EXPECT_EQ(std::vector<std::wstring>({L"en", L"\uFEFFen"}), settings.GetLanguages());
}

TEST(SettingsDecode, RejectsMalformedUtf8)
{
    const struct {
        const char* name;
        std::string bytes;
        std::wstring expected;
    } cases[] = {
        {"ASCII", "a=b", L"a=b"},
        {"two to four bytes", "\xC3\xA9\xE2\x96\xBA\xF0\x9F\x98\x80", L"\u00E9\u25BA\U0001F600"},
        {"empty", "", L""},
        {"stray continuation byte", "a\x80", L""},
        {"truncated sequence", "a\xE2\x96", L""},
        {"overlong encoding", "\xC0\xAF", L""},
        {"encoded surrogate", "\xED\xA0\x80", L""},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", L""},
        {"invalid byte", "\xFF", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, Utf8ToWide(std::string_view(c.bytes.data(), c.bytes.size()))) << c.name;
    }
}

} // namespace
