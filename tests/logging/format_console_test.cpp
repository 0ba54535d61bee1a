#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "logging/console_output.h"
#include "logging/log_format.h"
#include "logging/nv_qor_log.h"
#include "tests/logging/fake_log_platform.h"

using namespace NvLogTest;

namespace {

template <typename Char> int Format(Char* buffer, size_t capacity, const Char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int length = NvQorLogging::FormatText(buffer, capacity, format, args);
    va_end(args);
    return length;
}

const wchar_t* NameOfFreeFunction()
{
    return NV_LOG_FUNCTION;
}

const wchar_t* NameAskedFirstWithAnError()
{
    return NV_LOG_FUNCTION;
}

struct Named {
    std::vector<std::wstring> Names() const
    {
        return {NV_LOG_FUNCTION, [] { return std::wstring(NV_LOG_FUNCTION); }()};
    }
};

TEST(FunctionName, IsTheQualifiedNameWithoutTypesOrParameters)
{
    const std::pair<const char*, const wchar_t*> cases[] = {
        {"void UiToolLib::RemoveProduct(Product&)", L"UiToolLib::RemoveProduct"},
        {"bool {anonymous}::Extract({anonymous}::ArchiveSource&, const std::wstring&)",
         L"`anonymous-namespace'::Extract"},
        {"std::vector<std::__cxx11::basic_string<wchar_t> > UiToolLib::ListScripts() const", L"UiToolLib::ListScripts"},
        {"ZipDropper::ZipDropper()", L"ZipDropper::ZipDropper"},
        {"const wchar_t* Name<int, char>::Get(int) [with T = int]", L"Name::Get"},
        {"int {anonymous}::Run(lua_State*)::<lambda(const std::wstring&)>", L"`anonymous-namespace'::Run"},
        {"void Callable::operator()(int) const", L"Callable::operator()"},
    };
    for (const auto& [pretty, name] : cases) {
        EXPECT_EQ(NvQorLogging::FunctionName(pretty), name) << pretty;
    }
    EXPECT_STREQ(NameOfFreeFunction(), L"`anonymous-namespace'::NameOfFreeFunction");
    EXPECT_EQ(Named().Names(), (std::vector<std::wstring>(2, L"`anonymous-namespace'::Named::Names")))
        << "a lambda logs under the function it is in";
    ::SetLastError(ERROR_INVALID_DATA);
    EXPECT_STREQ(NameAskedFirstWithAnError(), L"`anonymous-namespace'::NameAskedFirstWithAnError");
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA)) << "the last error stays for the log call";
}

TEST(FormatText, FollowsWindowsConventionsAndAcceptsSizeModifierZ)
{
    wchar_t wide[128];
    EXPECT_EQ(Format(wide, std::size(wide), L"%s|%S|%hs|%ls", L"w\u00E9", "n", "h", L"l"), 8);
    EXPECT_STREQ(wide, L"w\u00E9|n|h|l");
    const size_t big = size_t{1} << 40;
    const ptrdiff_t negative = -3;
    Format(wide, std::size(wide), L"%zu %zd %Iu %5zu|%-4zx|%%zu z %s", big, negative, size_t{7}, size_t{42},
           size_t{255}, L"zz");
    EXPECT_STREQ(wide, L"1099511627776 -3 7    42|ff  |%zu z zz");

    char narrow[128];
    Format(narrow, std::size(narrow), "%zu|%S|%s|%03zd", big, L"wide", "narrow", negative);
    EXPECT_STREQ(narrow, "1099511627776|wide|narrow|-03");
}

TEST(FormatText, ReportsTextsThatDoNotFit)
{
    wchar_t wide[5];
    char narrow[5];
    const struct {
        const char* text;
        int expected;
    } cases[] = {{"", 0}, {"abcd", 4}, {"abcde", -1}, {"abcdefgh", -1}};
    for (const auto& c : cases) {
        const std::wstring wideText(c.text, c.text + std::strlen(c.text));
        EXPECT_EQ(Format(wide, std::size(wide), L"%s", wideText.c_str()), c.expected) << c.text;
        EXPECT_EQ(Format(narrow, std::size(narrow), "%s", c.text), c.expected) << c.text;
        if (c.expected >= 0) {
            EXPECT_EQ(wide, wideText);
            EXPECT_STREQ(narrow, c.text);
        }
    }
}

void Print(FakePlatform& platform, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    NvQorLogging::PrintToConsoleV(platform, format, args);
    va_end(args);
}

TEST(PrintToConsole, ReachesTheConsoleOrTheRedirectedOutput)
{
    const struct {
        const char* name;
        DWORD outputType;
        DWORD attachError;
        const wchar_t* console;
        const char* output;
        int detaches;
    } cases[] = {
        {"parent console", FILE_TYPE_CHAR, ERROR_SUCCESS, L"error: caf\u00E9 2\n", "", 1},
        {"no standard output, parent console", FILE_TYPE_UNKNOWN, ERROR_SUCCESS, L"error: caf\u00E9 2\n", "", 1},
        {"own console", FILE_TYPE_CHAR, ERROR_ACCESS_DENIED, L"error: caf\u00E9 2\n", "", 0},
        {"no console at all", FILE_TYPE_UNKNOWN, ERROR_INVALID_HANDLE, L"", "", 0},
        {"pipe", FILE_TYPE_PIPE, ERROR_INVALID_HANDLE, L"", "error: caf\xC3\xA9 2\n", 0},
        {"file", FILE_TYPE_DISK, ERROR_SUCCESS, L"", "error: caf\xC3\xA9 2\n", 0},
    };
    for (const auto& c : cases) {
        FakePlatform platform;
        platform.outputType = c.outputType;
        platform.attachError = c.attachError;
        SetLastError(0xBEEF);
        Print(platform, L"%S: %s %zu", "error", L"caf\u00E9", size_t{2});
        EXPECT_EQ(GetLastError(), 0xBEEFu) << c.name;
        EXPECT_EQ(platform.console, c.console) << c.name;
        EXPECT_EQ(platform.standardOutput, c.output) << c.name;
        EXPECT_EQ(platform.detaches, c.detaches) << c.name;
    }
}

TEST(PrintToConsole, PrintsLongTextsWholeAndNothingBeyondTheLargestBuffer)
{
    for (const size_t length : {size_t{1023}, size_t{40000}, size_t{65535}, size_t{65536}}) {
        FakePlatform platform;
        const std::wstring text(length, L'c');
        Print(platform, L"%s", text.c_str());
        EXPECT_EQ(platform.console, length < 65536 ? text + L"\n" : L"") << length;
        EXPECT_EQ(platform.detaches, 1) << length;
    }
}

} // namespace
