#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logging/logger.h"
#include "tests/logging/fake_log_platform.h"

using namespace NvLogTest;
using NvQorLogging::LoggerWin;

namespace {

constexpr wchar_t kPrefix[] = L"2024-03-15 09:05:07.042 [1a2b.003c] ";

class LoggerTest : public testing::Test {
protected:
    void Open(uint32_t flags = 0, int32_t level = NvQorLogging::Info)
    {
        logger.Open(L"UninstallationTool", L"UninstallationTool", level, flags);
    }
    std::vector<std::wstring> Lines() const { return FileLines(disk, kToolLog); }

    FakePlatform platform;
    MemoryDisk disk;
    MemoryLogger logger{platform, disk};
};

TEST_F(LoggerTest, SessionStartsWithBlankLineAndHeader)
{
    Open();
    logger.LogFormat(NvQorLogging::Info, L"%s: hello %d", L"Test::Run", 7);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{
                           L"", std::wstring(kPrefix) + L" I: ***  LOGGING STARTED  *** (UTC+0:00, session: 0x1)",
                           std::wstring(kPrefix) + L" I: Test::Run: hello 7"}));
}

TEST_F(LoggerTest, EveryLevelCarriesItsTag)
{
    platform.SetDword(kLoggingKey, L"LogLevel", 100);
    Open();
    const struct {
        int32_t level;
        const wchar_t* tag;
    } cases[] = {{1, L"*F"}, {2, L"*E"}, {3, L".W"}, {4, L" I"}, {5, L" D"},
                 {6, L" V"}, {0, L"  "}, {7, L"  "}, {-1, L"  "}};
    for (const auto& c : cases) {
        logger.LogFormat(c.level, L"%s: level %d", L"Test::Tags", c.level);
    }
    const std::vector<std::wstring> lines = Lines();
    ASSERT_EQ(lines.size(), 2 + std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(lines[2 + i],
                  std::wstring(kPrefix) + cases[i].tag + L": Test::Tags: level " + std::to_wstring(cases[i].level));
    }
}

TEST_F(LoggerTest, HeaderShowsUtcOffsetAndSession)
{
    const struct {
        DWORD zoneResult;
        LONG bias, standardBias, daylightBias;
        uint32_t flags;
        bool sessionKnown;
        const wchar_t* expected;
    } cases[] = {
        {TIME_ZONE_ID_STANDARD, -120, 0, -60, 0, true, L"(UTC+2:00, session: 0x1)"},
        {TIME_ZONE_ID_DAYLIGHT, -60, 0, -60, 0, true, L"(UTC+2:00, session: 0x1)"},
        {TIME_ZONE_ID_UNKNOWN, -330, 0, 0, 0, true, L"(UTC+5:30, session: 0x1)"},
        {TIME_ZONE_ID_STANDARD, 210, 0, -60, 0, true, L"(UTC-3:30, session: 0x1)"},
        {TIME_ZONE_ID_DAYLIGHT, 210, 0, -60, 0, true, L"(UTC-2:30, session: 0x1)"},
        {TIME_ZONE_ID_STANDARD, 30, 0, 0, 0, true, L"(UTC-0:30, session: 0x1)"},
        {TIME_ZONE_ID_STANDARD, -765, 0, 0, 0, true, L"(UTC+12:45, session: 0x1)"},
        {TIME_ZONE_ID_INVALID, 0, 0, 0, 0, true, L"(UTC+59:59, session: 0x1)"},
        {TIME_ZONE_ID_STANDARD, 0, 0, 0, 0, false, L"(UTC+0:00, session: 0xdeadbeef)"},
        {TIME_ZONE_ID_STANDARD, -330, 0, 0, NvQorLogging::OpenFlagUtcTime, true,
         L"(UTC+00:00, local:+5:30, session: 0x1)"},
    };
    for (const auto& c : cases) {
        FakePlatform zonePlatform;
        zonePlatform.zoneResult = c.zoneResult;
        zonePlatform.zone.Bias = c.bias;
        zonePlatform.zone.StandardBias = c.standardBias;
        zonePlatform.zone.DaylightBias = c.daylightBias;
        zonePlatform.sessionKnown = c.sessionKnown;
        MemoryDisk zoneDisk;
        {
            MemoryLogger zoneLogger(zonePlatform, zoneDisk);
            zoneLogger.Open(L"UninstallationTool", L"UninstallationTool", NvQorLogging::Info, c.flags);
        }
        const std::vector<std::wstring> lines = FileLines(zoneDisk, kToolLog);
        ASSERT_GE(lines.size(), 2u) << c.expected;
        EXPECT_EQ(lines[1].substr(lines[1].find(L"(")), c.expected);
        // UTC stamps come from the system time, local ones from the local time.
        EXPECT_EQ(lines[1].substr(11, 2), c.flags != 0 ? L"08" : L"09") << c.expected;
    }
}

TEST_F(LoggerTest, MessagesBeyondTheLargeBufferBecomeAFailureLine)
{
    platform.SetDword(kLoggingKey, L"LogMaxSizeKB", 100000);
    Open();
    const struct {
        size_t length;
        bool written;
    } cases[] = {{2047, true}, {2048, true}, {65535, true}, {65536, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        const std::wstring wide(c.length, L'w');
        const std::string narrow(c.length, 'n');
        logger.LogFormat(NvQorLogging::Info, L"%s", wide.c_str());
        logger.LogFormat(NvQorLogging::Info, "%s", narrow.c_str());
        const std::vector<std::wstring> lines = Lines();
        ASSERT_GE(lines.size(), 2u);
        const std::wstring& wideLine = lines[lines.size() - 2];
        const std::wstring& narrowLine = lines.back();
        if (c.written) {
            EXPECT_EQ(wideLine, std::wstring(kPrefix) + L" I: " + wide) << c.length;
            EXPECT_EQ(narrowLine, std::wstring(kPrefix) + L" I: " + std::wstring(c.length, L'n')) << c.length;
        } else {
            EXPECT_EQ(wideLine, std::wstring(kPrefix) + L"*E: NV_QOR_LOG failure: too large message. Format: %s");
            EXPECT_EQ(narrowLine, std::wstring(kPrefix) + L"*E: NV_QOR_LOG failure: too large message. Format: %s");
        }
    }
}

TEST_F(LoggerTest, NarrowMessagesAreUtf8)
{
    Open();
    logger.LogFormat(NvQorLogging::Info, "%s: gr\xC3\xBC\xC3\x9F %d %S", "Test::Narrow", 3, L"wide");
    logger.LogFormat(NvQorLogging::Info, "");
    logger.LogFormat(NvQorLogging::Info, "%s", "");
    const std::vector<std::wstring> lines = Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], std::wstring(kPrefix) + L" I: Test::Narrow: gr\u00FC\u00DF 3 wide");
    EXPECT_EQ(lines[3], std::wstring(kPrefix) + L"*E: NV_QOR_LOG failure: unable to convert ANSI to UNICODE. Format: ");
    EXPECT_EQ(lines[4],
              std::wstring(kPrefix) + L"*E: NV_QOR_LOG failure: unable to convert ANSI to UNICODE. Format: %s");
}

TEST_F(LoggerTest, LastErrorSurvivesEveryOperation)
{
    const struct {
        const char* name;
        void (*call)(LoggerWin&);
    } operations[] = {
        {"open", [](LoggerWin& l) { l.Open("UninstallationTool", "UninstallationTool", 4, 0); }},
        {"wide", [](LoggerWin& l) { l.LogFormat(4, L"%s: %d", L"Test", 1); }},
        {"narrow", [](LoggerWin& l) { l.LogFormat(4, "%s: %d", "Test", 1); }},
        {"too large", [](LoggerWin& l) { l.LogFormat(4, L"%s", std::wstring(70000, L'x').c_str()); }},
        {"not converted", [](LoggerWin& l) { l.LogFormat(4, ""); }},
        {"filtered", [](LoggerWin& l) { l.LogFormat(6, L"%s", L"Test"); }},
        {"flush", [](LoggerWin& l) { l.Flush(); }},
        {"close", [](LoggerWin& l) { l.Close(); }},
        {"reopen", [](LoggerWin& l) { l.Open(L"UninstallationTool", L"UninstallationTool", 4, 0); }},
    };
    for (const auto& operation : operations) {
        SetLastError(0xBEEF);
        operation.call(logger);
        EXPECT_EQ(GetLastError(), 0xBEEFu) << operation.name;
    }
    auto other = std::make_unique<MemoryLogger>(platform, disk);
    other->Open(L"Other", L"Other", 4, 0);
    SetLastError(0xBEEF);
    other.reset();
    EXPECT_EQ(GetLastError(), 0xBEEFu) << "destruction";
}

TEST_F(LoggerTest, SecondOpenChangesNothing)
{
    Open();
    logger.Open(L"Other", L"Other", NvQorLogging::Verbose, NvQorLogging::OpenFlagMarkersAtDebug);
    logger.LogFormat(NvQorLogging::Debug, L"%s", L"filtered");
    EXPECT_FALSE(logger.IsEnabled(NvQorLogging::Debug));
    EXPECT_EQ(Lines().size(), 2u);
    EXPECT_EQ(disk.files.size(), 1u);
}

TEST_F(LoggerTest, CloseEndsTheSessionAndAutoCloseOnlyWhenOpen)
{
    {
        MemoryLogger closed(platform, disk);
        closed.Open(L"UninstallationTool", L"UninstallationTool", NvQorLogging::Info, 0);
        closed.Close();
        closed.LogFormat(NvQorLogging::Info, L"%s", L"after close");
    }
    std::vector<std::wstring> lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], std::wstring(kPrefix) + L" I: ***  LOGGING ENDED  ***");
    {
        MemoryLogger leftOpen(platform, disk);
        leftOpen.Open(L"UninstallationTool", L"UninstallationTool", NvQorLogging::Info, 0);
    }
    lines = Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[5], std::wstring(kPrefix) + L" I: ***  LOG AUTO-CLOSED ***");
}

TEST_F(LoggerTest, DeferredStartInitialisesAtTheFirstPassingMessage)
{
    platform.SetDword(kLoggingKey, L"LogLevel", NvQorLogging::Info);
    Open(NvQorLogging::OpenFlagDeferredStart | NvQorLogging::OpenFlagMarkersAtDebug);
    EXPECT_TRUE(disk.directories.empty());
    EXPECT_TRUE(logger.IsEnabled(NvQorLogging::Verbose));
    // The Debug line sets everything up; the configured level then filters it, and the header with its blank line.
    logger.LogFormat(NvQorLogging::Debug, L"%s", L"debug");
    EXPECT_FALSE(disk.directories.empty());
    EXPECT_FALSE(logger.IsEnabled(NvQorLogging::Debug));
    logger.LogFormat(NvQorLogging::Info, L"%s", L"info");
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{std::wstring(kPrefix) + L" I: info"}));
}

TEST_F(LoggerTest, DebuggerCopyFollowsTheConfiguration)
{
    platform.SetDword(kLoggingKey + L"\\UninstallationTool", L"DebugOutputLogging", 1);
    Open();
    logger.LogFormat(NvQorLogging::Warning, L"%s: %s", L"Test::Debugger", L"copied");
    ASSERT_EQ(platform.debugOutput.size(), 2u);
    EXPECT_EQ(platform.debugOutput[1], std::wstring(kPrefix) + L".W: Test::Debugger: copied\r\n");
}

TEST_F(LoggerTest, StoredLevelMinusOneSilencesEverything)
{
    platform.SetDword(kLoggingKey, L"LogLevel", 0xFFFFFFFF);
    Open();
    logger.LogFormat(NvQorLogging::Fatal, L"%s", L"fatal");
    EXPECT_FALSE(logger.IsEnabled(NvQorLogging::Fatal));
    EXPECT_EQ(disk.files.count(kToolLog), 0u);
}

TEST_F(LoggerTest, ObserverSeesMessagesUpToItsLevelAlsoWhenTheFileFiltersThem)
{
    struct Recorder : NvQorLogging::LogObserver {
        void OnMessage(int32_t level, const wchar_t* text, size_t length) override
        {
            seen.push_back(std::to_wstring(level) + L" " + std::wstring(text, length));
        }
        std::vector<std::wstring> seen;
    } recorder;
    // The file takes nothing but fatal lines; the observer wants errors as well.
    platform.SetDword(kLoggingKey, L"LogLevel", 1);
    Open();
    logger.SetObserver(&recorder, NvQorLogging::Error);
    logger.LogFormat(NvQorLogging::Error, L"%s: wide %d", L"Test::Observe", 1);
    logger.LogFormat(NvQorLogging::Fatal, "%s: narrow \xc3\xa9", "Test::Observe");
    logger.LogFormat(NvQorLogging::Warning, L"%s: not observed", L"Test::Observe");
    logger.SetObserver(nullptr, 0);
    logger.LogFormat(NvQorLogging::Fatal, L"%s: after removal", L"Test::Observe");
    EXPECT_EQ(recorder.seen,
              (std::vector<std::wstring>{L"2 Test::Observe: wide 1", L"1 Test::Observe: narrow \u00e9"}));
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{std::wstring(kPrefix) + L"*F: Test::Observe: narrow \u00e9",
                                                  std::wstring(kPrefix) + L"*F: Test::Observe: after removal"}));
}

} // namespace
