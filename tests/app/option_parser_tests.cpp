#include "app/option_parser.h"

#include <gtest/gtest.h>

namespace {

// A parser declared like the tool's, fed a full command line (the first word is the program).
struct ParseOutcome {
    bool ok;
    std::wstring error;
};

class ToolOptions : public ::testing::Test {
protected:
    void SetUp() override
    {
        parser.AddOption(NvOptionParser::NoValue, L"testui", 0);
        parser.AddOption(NvOptionParser::NoValue, L"silent", L's');
        parser.AddOption(NvOptionParser::ValueRequired, L"language", L'l');
        parser.AddOption(NvOptionParser::ValueRequired, L"scripts", 0);
    }
    ParseOutcome Parse(const std::wstring& arguments)
    {
        const std::wstring line = L"tool.exe " + arguments;
        const bool ok = parser.Parse(line.c_str());
        return {ok, parser.GetErrorText()};
    }
    NvOptionParser parser;
};

TEST(CommandLineSplit, QuotingRules)
{
    struct Case {
        const wchar_t* line;
        std::vector<std::wstring> expected;
    };
    const Case cases[] = {
        {L"a  b   c", {L"a", L"b", L"c"}},
        {L"a\tb", {L"a\tb"}},
        {L"\"C:\\Program Files\\x\" y", {L"C:\\Program Files\\x", L"y"}},
        {L"\"a\"\"b\"", {L"a\"b"}},
        {L"x \"\" y", {L"x", L"", L"y"}},
        {L"\"dir\\\" next", {L"dir\\", L"next"}},
        {L"pre\"in side\"post", {L"prein sidepost"}},
        {L"", {}},
        {L"   ", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::wstring> arguments;
        EXPECT_TRUE(SplitCommandLine(c.line, arguments)) << c.line;
        EXPECT_EQ(arguments, c.expected) << c.line;
    }
    std::vector<std::wstring> arguments;
    EXPECT_FALSE(SplitCommandLine(L"a \"b", arguments));
    EXPECT_FALSE(SplitCommandLine(nullptr, arguments));
}

TEST_F(ToolOptions, SilentSpellings)
{
    for (const wchar_t* spelling : {L"/silent", L"/SILENT", L"/s", L"--Silent", L"-s"}) {
        NvOptionParser p;
        p.AddOption(NvOptionParser::NoValue, L"silent", L's');
        const std::wstring line = std::wstring(L"tool.exe ") + spelling;
        EXPECT_TRUE(p.Parse(line.c_str())) << spelling;
        EXPECT_TRUE(p.IsSpecified(L"SILENT")) << spelling;
    }
    for (const wchar_t* unknown : {L"-S", L"/S"}) {
        NvOptionParser p;
        p.AddOption(NvOptionParser::NoValue, L"silent", L's');
        const std::wstring line = std::wstring(L"tool.exe ") + unknown;
        EXPECT_FALSE(p.Parse(line.c_str())) << unknown;
        EXPECT_EQ(p.GetErrorText(), std::wstring(L"Unknown option: ") + unknown);
    }
}

TEST_F(ToolOptions, ValueForms)
{
    for (const wchar_t* form : {L"/language=de", L"-l de", L"--language de", L"/l=de"}) {
        NvOptionParser p;
        p.AddOption(NvOptionParser::ValueRequired, L"language", L'l');
        const std::wstring line = std::wstring(L"tool.exe ") + form;
        ASSERT_TRUE(p.Parse(line.c_str())) << form;
        EXPECT_EQ(p.GetValue(L"language"), L"de") << form;
        EXPECT_TRUE(p.HasValue(L"Language"));
    }
}

TEST_F(ToolOptions, ErrorTexts)
{
    struct Case {
        const wchar_t* arguments;
        const wchar_t* error;
    };
    const Case cases[] = {
        {L"/language de", L"Option 'language' requires a value"},
        {L"--language=de", L"Unknown option: --language=de"},
        {L"-l", L"Option 'language' requires a value"},
        {L"-l -s", L"Option 'language' requires a value"},
        {L"/silent=yes", L"Option 'silent' has no value"},
        {L"-s /silent", L"Option 'silent' specified twice"},
        {L"/scripts=\"C:\\x", L"Mismatching quotes"},
        {L"-silent", L"Unknown option: -silent"},
        {L"--", L"Unknown option: --"},
        {L"-", L""},
        {L"/", L""},
    };
    for (const Case& c : cases) {
        NvOptionParser p;
        p.AddOption(NvOptionParser::NoValue, L"silent", L's');
        p.AddOption(NvOptionParser::ValueRequired, L"language", L'l');
        p.AddOption(NvOptionParser::ValueRequired, L"scripts", 0);
        const std::wstring line = std::wstring(L"tool.exe ") + c.arguments;
        EXPECT_FALSE(p.Parse(line.c_str())) << c.arguments;
        EXPECT_EQ(p.GetErrorText(), c.error) << c.arguments;
    }
}

TEST_F(ToolOptions, ScriptsPathKeepsSpacesAndTrailingBackslash)
{
    ASSERT_TRUE(Parse(L"/scripts=\"C:\\My Scripts\\\" extra").ok);
    EXPECT_EQ(parser.GetValue(L"scripts"), L"C:\\My Scripts\\");
    EXPECT_EQ(parser.GetPositionalArguments(), std::vector<std::wstring>{L"extra"});
}

TEST_F(ToolOptions, NoOptionsAndRepeatedParse)
{
    ASSERT_TRUE(Parse(L"").ok);
    for (const wchar_t* name : {L"testui", L"silent", L"language", L"scripts", L"undeclared"}) {
        EXPECT_FALSE(parser.IsSpecified(name));
        EXPECT_EQ(parser.GetValue(name), L"");
    }
    EXPECT_FALSE(parser.Parse(L"tool.exe -s"));
    EXPECT_EQ(parser.GetErrorText(), L"Already parsed");
    parser.Reset();
    EXPECT_FALSE(parser.IsSpecified(L"silent"));
    EXPECT_TRUE(parser.AddOption(NvOptionParser::NoValue, L"silent", L's'));
    EXPECT_TRUE(parser.Parse(L"tool.exe -s"));
}

TEST_F(ToolOptions, DeclarationsAndNumbers)
{
    EXPECT_FALSE(parser.AddOption(NvOptionParser::NoValue, L"SILENT", 0));
    EXPECT_FALSE(parser.AddOption(NvOptionParser::NoValue, L"other", L's'));
    EXPECT_TRUE(parser.AddOption(NvOptionParser::ValueOptional, L"count", L'c'));
    ASSERT_TRUE(Parse(L"/count=-42x").ok);
    EXPECT_EQ(parser.GetValueAsNumber(L"count"), -42);
    EXPECT_EQ(parser.GetValueAsNumber(L"silent"), 0);
    EXPECT_EQ(parser.GetValueAsNumber(L"nothing"), 0);
    EXPECT_FALSE(parser.Parse(0, nullptr));
}

} // namespace
