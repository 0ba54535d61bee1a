#include "app/tool_options.h"
#include "base/option_parser.h"

#include <gtest/gtest.h>

namespace {

// A parser declared like the tool's, fed a full command line (the first word is the program).
struct ParseOutcome {
    bool ok;
    std::wstring error;
};

class ToolOptions : public ::testing::Test {
protected:
    void SetUp() override { DeclareToolOptions(parser); }
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

TEST_F(ToolOptions, DeploymentOptionCombinations)
{
    struct Case {
        const wchar_t* arguments;
        const wchar_t* error; // nullptr: accepted
    };
    const Case cases[] = {
        {L"/detect", nullptr},
        {L"/DETECT /report=C:\\r.json /exitcodes=msi", nullptr},
        {L"/s /products=antivirus", nullptr},
        {L"/silent \"/products=Antivirus, logs\"", nullptr},
        {L"--silent --products antivirus --exitcodes MSI", nullptr},
        {L"/products=antivirus", L"Option 'products' needs 'silent'"},
        {L"/s /detect /products=antivirus", L"Option 'products' cannot be combined with 'detect'"},
        {L"/s /products=antivirus,,logs", L"Option 'products' has an empty product id"},
        {L"/s \"/products=antivirus, \"", L"Option 'products' has an empty product id"},
        {L"/detect /testui", L"Option 'detect' cannot be combined with 'testui'"},
        {L"/exitcodes=sccm", L"Option 'exitcodes' takes the value msi"},
        {L"/exitcodes", L"Option 'exitcodes' requires a value"},
        {L"/report", L"Option 'report' requires a value"},
        {L"/detect=yes", L"Option 'detect' has no value"},
        {L"/products=a /products=b /s", L"Option 'products' specified twice"},
    };
    for (const Case& c : cases) {
        NvOptionParser p;
        DeclareToolOptions(p);
        const std::wstring line = std::wstring(L"tool.exe ") + c.arguments;
        std::wstring error;
        const bool accepted = p.Parse(line.c_str()) ? CheckToolOptions(p, error) : (error = p.GetErrorText(), false);
        EXPECT_EQ(accepted, c.error == nullptr) << c.arguments << ": " << error;
        EXPECT_EQ(error, c.error != nullptr ? c.error : L"") << c.arguments;
    }
}

TEST(ProductIds, SplitAtCommasWithoutBlanks)
{
    struct Case {
        const wchar_t* value;
        std::vector<std::wstring> ids;
    };
    const Case cases[] = {
        {L"antivirus", {L"antivirus"}},
        {L"antivirus,logs", {L"antivirus", L"logs"}},
        {L" antivirus ,\tlogs ", {L"antivirus", L"logs"}},
        {L"a,,b", {L"a", L"", L"b"}},
        {L"a,", {L"a", L""}},
        {L"", {L""}},
        {L"secure vpn", {L"secure vpn"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitProductIds(c.value), c.ids) << c.value;
    }
}

TEST(ExitCodes, WindowsInstallerConvention)
{
    struct Case {
        int tool;
        bool restartStarted;
        int msi;
    };
    const Case cases[] = {
        {0, false, 0},    {99, false, 3010}, {99, true, 1641}, {1, false, 1603}, {2, false, 1602},
        {3, false, 1730}, {4, false, 1618},  {10, false, 10},  {0, true, 0},     {1, true, 1603},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MapExitCode(ExitCodeConvention::WindowsInstaller, c.tool, c.restartStarted), c.msi) << c.tool;
        EXPECT_EQ(MapExitCode(ExitCodeConvention::Tool, c.tool, c.restartStarted), c.tool) << c.tool;
    }
}

TEST_F(ToolOptions, ConventionAndSpecifiedOptions)
{
    EXPECT_EQ(ChosenExitCodeConvention(parser), ExitCodeConvention::Tool);
    ASSERT_TRUE(Parse(L"/exitcodes=Msi -s \"/report=C:\\a b\\r.json\"").ok);
    EXPECT_EQ(ChosenExitCodeConvention(parser), ExitCodeConvention::WindowsInstaller);
    const std::vector<NvOptionParser::SpecifiedOption> specified = parser.GetSpecifiedOptions();
    ASSERT_EQ(specified.size(), 3u);
    // Declaration order, declared names, flags without a value.
    EXPECT_EQ(specified[0].name, L"silent");
    EXPECT_TRUE(specified[0].flag);
    EXPECT_EQ(specified[1].name, L"report");
    EXPECT_FALSE(specified[1].flag);
    EXPECT_EQ(specified[1].value, L"C:\\a b\\r.json");
    EXPECT_EQ(specified[2].name, L"exitcodes");
    EXPECT_EQ(specified[2].value, L"Msi");
}
