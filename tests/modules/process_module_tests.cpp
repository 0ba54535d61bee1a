// Process module against real processes: copies of the product program under several names and folders.
#include "tests/modules/system_test_support.h"

#include "base/unique_resource.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <map>
#include <memory>
#include <set>
#include <vector>

namespace {

// A program starts only from where nobody but administrators can write, which the build tree may not be (a
// clone under /tmp is writable by everyone): the tests start a copy inside the prefix.
const std::wstring kProductProgram = [] {
    const std::wstring copy = ProgramDataFolder() + L"\\NvTests\\nv_product_program.exe";
    CopyInto(BuildPath(NV_PRODUCT_PROGRAM), copy);
    return copy;
}();

size_t CountProcessesNamed(const std::wstring& name)
{
    const UniqueSnapshot snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    size_t count = 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        count += ::_wcsicmp(entry.szExeFile, name.c_str()) == 0 ? 1 : 0;
    }
    return count;
}

std::wstring OwnPath()
{
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

std::wstring Upper(std::wstring text)
{
    ::CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// Programs that a product leaves behind, and unrelated ones that must survive:
//   product:  Product\nvsleep.exe, Product\bin\nvhelper.exe, Product\NVUPPER.EXE
//   unrelated: ProductX\nvother.exe (a sibling folder whose name starts like the product's),
//              Elsewhere\nvsleep.exe (the product's file name in another folder)
class TerminateTest : public testing::Test {
protected:
    void SetUp() override
    {
        const std::map<std::wstring, std::wstring> layout = {
            {L"product", L"Product\\nvsleep.exe"},     {L"helper", L"Product\\bin\\nvhelper.exe"},
            {L"upper", L"Product\\NVUPPER.EXE"},       {L"sibling", L"ProductX\\nvother.exe"},
            {L"same-name", L"Elsewhere\\nvsleep.exe"},
        };
        for (const auto& [label, relative] : layout) {
            const std::wstring path = Path(relative);
            ASSERT_TRUE(CopyInto(kProductProgram, path)) << WideToUtf8(path);
            m_paths[label] = path;
        }
    }

    std::wstring Path(const std::wstring& relative) const { return m_folder.Path() + L"\\" + relative; }

    // Starts every program, runs the chunk and returns the labels of the programs that the call ended.
    std::set<std::wstring> EndedBy(const std::string& chunk, const std::string& expectedResult = "true")
    {
        std::map<std::wstring, std::unique_ptr<RunningProgram>> running;
        for (const auto& [label, path] : m_paths) {
            running[label] = std::make_unique<RunningProgram>(path);
            EXPECT_TRUE(running[label]->Started()) << WideToUtf8(path) << ": " << running[label]->StartError();
        }
        EXPECT_EQ(m_script.Run(chunk), expectedResult) << chunk;
        std::set<std::wstring> ended;
        for (const auto& [label, program] : running) {
            if (program->HasEnded(0)) {
                EXPECT_EQ(program->ExitCode(), 0u) << WideToUtf8(label) << " was ended with exit code 0";
                ended.insert(label);
            }
        }
        return ended;
    }

    TempFolder m_folder;
    ScriptState m_script;
    std::map<std::wstring, std::wstring> m_paths;
};

TEST_F(TerminateTest, EndsTheMatchingProcessesOnly)
{
    const std::wstring product = Path(L"Product");
    struct Case {
        std::string call;
        std::set<std::wstring> ended;
    };
    const Case cases[] = {
        {"Process.TerminateAllFromPath(" + LuaString(product) + ")", {L"product", L"helper", L"upper"}},
        {"Process.TerminateAllFromPath(" + LuaString(product + L"\\") + ")", {L"product", L"helper", L"upper"}},
        {"Process.TerminateAllFromPath('')", {}},
        {"Process.TerminateByPath(" + LuaString(Upper(Path(L"Product\\nvsleep.exe"))) + ")", {L"product"}},
        {"Process.TerminateByPath(" + LuaString(product) + ")", {}},
        {"Process.TerminateByName('NVSLEEP.EXE')", {L"product", L"same-name"}},
        {"Process.TerminateByName('nvsleep')", {}},
        {"Process.TerminateByNameMask('NVUP*.EXE')", {L"upper"}},
        {"Process.TerminateByNameMask('nvup*.exe')", {}},
        {"Process.TerminateByNameMask('nvsl??p.exe')", {L"product", L"same-name"}},
        {"Process.TerminateByNameMask('nv*.exe')", {L"product", L"helper", L"sibling", L"same-name"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EndedBy("return " + c.call), c.ended) << c.call;
    }
}

TEST_F(TerminateTest, LogsEachTerminationAndNothingWithoutAMatch)
{
    const LogWindow quiet;
    EndedBy("return Process.TerminateByName('nobody.exe')");
    EXPECT_EQ(quiet.Text().find("Lua::Process::TerminateProcesses: Terminating"), std::string::npos);

    const LogWindow log;
    EndedBy("return Process.TerminateByPath(" + LuaString(m_paths[L"helper"]) + ")");
    EXPECT_TRUE(log.Contains("Lua::Process::TerminateProcesses: Terminating process [")) << log.Text();
    EXPECT_TRUE(log.Contains("] '" + WideToUtf8(m_paths[L"helper"]) + "'\r\n")) << log.Text();
}

// The tool may be started from inside the folder that a script clears; it must not end itself.
TEST_F(TerminateTest, NeverEndsItsOwnProcess)
{
    std::wstring folder;
    std::wstring ownName;
    ASSERT_TRUE(SplitPath(OwnPath(), folder, ownName));
    m_paths[L"own-name"] = Path(L"Elsewhere\\" + ownName);
    ASSERT_TRUE(CopyInto(kProductProgram, m_paths[L"own-name"]));

    const LogWindow log;
    EXPECT_EQ(EndedBy("return Process.TerminateByName(" + LuaString(ownName) + ")"),
              std::set<std::wstring>{L"own-name"});
    EXPECT_EQ(EndedBy("return Process.TerminateAllFromPath(" + LuaString(folder) + ")"), std::set<std::wstring>{});
    EXPECT_TRUE(log.Contains("Lua::Process::TerminateProcesses: Not terminating own process [" +
                             std::to_string(::GetCurrentProcessId()) + "] '" + WideToUtf8(OwnPath()) + "'"))
        << log.Text();
}

// Optional arguments that are given must have the right type.
TEST(ProcessArguments, WrongTypesRaise)
{
    ScriptState script;
    const std::pair<std::string, std::string> cases[] = {
        {"Process.StartProcessAndWaitForCompletion('p', {})", "bad argument #2"},
        {"Process.StartProcessAndWaitForCompletion('p', '', 'soon')", "number expected, got string"},
        {"Process.StartProcessAndWaitForCompletion('p', '', 1.5)", "number has no integer representation"},
        {"Process.StartProcess('p', '', true)", "number expected, got boolean"},
        // A path, a command line, a working folder, a name or a mask that Windows would cut at the NUL.
        {"Process.StartProcess('p\\0.exe')", "bad argument #1 to 'StartProcess' (string with a NUL character)"},
        {"Process.StartProcessAndWaitForCompletion('p', '/S\\0 /debug')", "bad argument #2"},
        {"Process.StartProcess('p', '', 8, 'C:\\\\\\0x')", "bad argument #4"},
        {"Process.TerminateByName('p.exe\\0')", "string with a NUL character"},
        {"Process.TerminateByNameMask('*\\0')", "string with a NUL character"},
        {"Service.Cleanup('Svc\\0x')", "string with a NUL character"},
        {"Atom.GlobalAdd('a\\0b')", "string with a NUL character"},
    };
    for (const auto& [call, message] : cases) {
        const std::string result = script.Run("return " + call);
        EXPECT_EQ(result.rfind("error: ", 0), 0u) << call << " -> " << result;
        EXPECT_NE(result.find(message), std::string::npos) << call << " -> " << result;
    }
}

// Committed private memory of the process, from its address space map (process memory counters do not
// show heap growth under every Windows implementation).
size_t CommittedPrivateBytes()
{
    size_t total = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* address = nullptr; ::VirtualQuery(address, &region, sizeof(region)) == sizeof(region);
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            total += region.RegionSize;
        }
    }
    return total;
}

// Lua raises argument errors with longjmp, past the destructors of C++ objects: a binding that built a string
// from its first argument before checking a later one would lose that string on every such call.
TEST(ProcessArguments, ArgumentErrorsLeaveMemoryFlat)
{
    ScriptState script;
    const std::string calls[] = {
        "Process.StartProcessAndWaitForCompletion(big, big, 'soon')",
        "Process.StartProcessAndWaitForCompletion(big, big, 1, 8, {})",
        "Process.StartProcess(big, big, {})",
        "Win32Driver.UninstallOemDriversByManufacturerAndName(big, {})",
    };
    script.Run("big = string.rep('x', 256 * 1024)");
    for (const std::string& call : calls) {
        const std::string loop = "for i = 1, 200 do assert(not pcall(function() " + call + " end)) end";
        script.Run(loop);
        const size_t before = CommittedPrivateBytes();
        EXPECT_EQ(script.Run(loop + " collectgarbage()"), "") << call;
        // Leaked, the two strings would add 200 MB; allocator noise is far below 32 MB.
        EXPECT_LT(CommittedPrivateBytes(), before + (size_t{32} << 20)) << call;
    }
}

TEST(StartProcess, ReportsTheExitCodeOfTheProgram)
{
    ScriptState script;
    const std::string program = LuaString(kProductProgram);
    struct Case {
        std::string arguments;
        std::string result;
        std::string logged;
    };
    const Case cases[] = {
        {"'/exit 0'", "true", "Process completed, exit code : 0 (as int:0)"},
        {"'/exit 1'", "false", "Process completed, exit code : 1 (as int:1)"},
        {"'/exit 4294967295'", "false", "Process completed, exit code : 4294967295 (as int:-1)"},
    };
    for (const Case& c : cases) {
        const LogWindow log;
        EXPECT_EQ(script.Run("return Process.StartProcessAndWaitForCompletion(" + program + ", " + c.arguments + ")"),
                  c.result)
            << c.arguments;
        EXPECT_TRUE(log.Contains(c.logged)) << log.Text();
    }

    const LogWindow log;
    EXPECT_EQ(script.Run("return Process.StartProcessAndWaitForCompletion('C:\\\\missing\\\\none.exe')"), "false");
    EXPECT_EQ(script.Run("return Process.StartProcess('C:\\\\missing\\\\none.exe')"), "false");
    EXPECT_TRUE(
        log.Contains("Lua::Process::StartProcessWithArgumentsAndWaitForCompletion: Failed to create process : "))
        << log.Text();
    EXPECT_TRUE(log.Contains("Lua::Process::StartProcessWithArguments: Failed to create process : ")) << log.Text();
}

TEST(StartProcess, BuildsTheCommandLineAndWorkingFolder)
{
    ScriptState script;
    TempFolder folder;
    const std::wstring record = folder.Path() + L"\\launch.txt";
    const ScopedEnvironment recording(L"NV_TEST_COMMAND_LINE_FILE", record);
    const std::string program = LuaString(kProductProgram);
    wchar_t current[MAX_PATH];
    const std::wstring ownFolder(current, ::GetCurrentDirectoryW(MAX_PATH, current));
    struct Case {
        std::string arguments;
        std::wstring commandLine;
        std::wstring workingFolder;
    };
    const Case cases[] = {
        {"", L"\"" + kProductProgram + L"\"", ownFolder},
        {", '', 40000, CreationFlags_DETACHED_PROCESS", L"\"" + kProductProgram + L"\"", ownFolder},
        {", 'a \"b c\"', 5000, 8, " + LuaString(folder.Path()), L"\"" + kProductProgram + L"\" a \"b c\"",
         folder.Path()},
        {", 'x', 5000, CreationFlags_CREATE_NO_WINDOW, ''", L"\"" + kProductProgram + L"\" x", ownFolder},
        // A missing argument ends the reading: the working folder after it is not used.
        {", 'y', nil, 8, " + LuaString(folder.Path()), L"\"" + kProductProgram + L"\" y", ownFolder},
    };
    for (const Case& c : cases) {
        ::DeleteFileW(record.c_str());
        EXPECT_EQ(script.Run("return Process.StartProcessAndWaitForCompletion(" + program + c.arguments + ")"), "true")
            << c.arguments;
        EXPECT_EQ(ReadUtf16File(record), c.commandLine + L"\n" + c.workingFolder) << c.arguments;
    }
}

TEST(StartProcess, WaitsOnlyUntilTheTimeout)
{
    ScriptState script;
    TempFolder folder;
    const std::wstring waiter = folder.Path() + L"\\nvwaiter.exe";
    ASSERT_TRUE(CopyInto(kProductProgram, waiter));
    const std::string program = LuaString(waiter);

    const LogWindow log;
    EXPECT_EQ(script.Run("return Process.StartProcessAndWaitForCompletion(" + program + ", '/sleep 20000', 300)"),
              "false");
    EXPECT_TRUE(
        log.Contains("Lua::Process::StartProcessWithArgumentsAndWaitForCompletion: Process wait failed : 258, "))
        << log.Text();
    EXPECT_EQ(CountProcessesNamed(L"nvwaiter.exe"), 1u) << "the program keeps running after the time-out";
    EXPECT_EQ(script.Run("return Process.TerminateByPath(" + program + ")"), "true");

    // Without the arguments string the time-out after it is not read either, so the default wait applies.
    const ScopedEnvironment sleep(L"NV_TEST_SLEEP_MS", L"1500");
    EXPECT_EQ(script.Run("return Process.StartProcessAndWaitForCompletion(" + program + ", nil, 300)"), "true");
}

TEST(StartProcess, ReturnsOnceTheProcessExists)
{
    ScriptState script;
    TempFolder folder;
    const std::wstring starter = folder.Path() + L"\\nvstarted.exe";
    ASSERT_TRUE(CopyInto(kProductProgram, starter));
    const ULONGLONG before = ::GetTickCount64();
    EXPECT_EQ(script.Run("return Process.StartProcess(" + LuaString(starter) + ", '/sleep 20000')"), "true");
    EXPECT_LT(::GetTickCount64() - before, 10000u);
    EXPECT_EQ(CountProcessesNamed(L"nvstarted.exe"), 1u);
    EXPECT_EQ(script.Run("return Process.TerminateByName('nvstarted.exe')"), "true");
    EXPECT_EQ(CountProcessesNamed(L"nvstarted.exe"), 0u);
}

TEST(StartProcess, OnlyFlagsForAProgramTheToolWaitsForArePassedOn)
{
    ScriptState script;
    TempFolder folder;
    const std::wstring record = folder.Path() + L"\\launch.txt";
    const ScopedEnvironment recording(L"NV_TEST_COMMAND_LINE_FILE", record);
    const std::string program = LuaString(kProductProgram);
    // Each of these would crash, hang or stall the run: refused before anything starts.
    for (const char* flags : {"CreationFlags_EXTENDED_STARTUPINFO_PRESENT", "CreationFlags_DEBUG_PROCESS",
                              "CreationFlags_CREATE_SUSPENDED", "CreationFlags_REALTIME_PRIORITY_CLASS",
                              "CreationFlags_CREATE_NO_WINDOW | CreationFlags_CREATE_PROTECTED_PROCESS"}) {
        const LogWindow log;
        EXPECT_EQ(script.Run("return Process.StartProcessAndWaitForCompletion(" + program + ", '', -1, " + flags + ")"),
                  "false")
            << flags;
        EXPECT_EQ(script.Run("return Process.StartProcess(" + program + ", '', " + flags + ")"), "false") << flags;
        EXPECT_TRUE(log.Contains("LaunchProgram: Not starting '") && log.Contains("are not allowed")) << log.Text();
        EXPECT_EQ(::GetFileAttributesW(record.c_str()), INVALID_FILE_ATTRIBUTES) << flags << " started the program";
    }
    for (const char* flags : {"CreationFlags_CREATE_NO_WINDOW | CreationFlags_BELOW_NORMAL_PRIORITY_CLASS",
                              "CreationFlags_CREATE_NEW_CONSOLE | CreationFlags_CREATE_UNICODE_ENVIRONMENT"}) {
        EXPECT_EQ(
            script.Run("return Process.StartProcessAndWaitForCompletion(" + program + ", '', 30000, " + flags + ")"),
            "true")
            << flags;
    }
}

// The test script makes this folder writable by everyone before the tests run.
TEST(StartProcess, NothingIsStartedFromAFolderOthersCanWrite)
{
    wchar_t open[MAX_PATH];
    if (::GetEnvironmentVariableW(L"NV_TEST_OPEN_FOLDER", open, MAX_PATH) == 0) {
        GTEST_SKIP() << "NV_TEST_OPEN_FOLDER names no folder";
    }
    ScriptState script;
    TempFolder records;
    const std::wstring record = records.Path() + L"\\launch.txt";
    const ScopedEnvironment recording(L"NV_TEST_COMMAND_LINE_FILE", record);
    const std::wstring folder = open;
    for (const std::wstring& program : {folder + L"\\planted.exe", folder + L"\\inner\\planted.exe"}) {
        ASSERT_TRUE(CopyInto(kProductProgram, program));
        const LogWindow log;
        EXPECT_EQ(script.Run("return Process.StartProcessAndWaitForCompletion(" + LuaString(program) + ")"), "false");
        EXPECT_EQ(script.Run("return Process.StartProcess(" + LuaString(program) + ")"), "false");
        EXPECT_TRUE(log.Contains("LaunchProgram: Not starting '" + WideToUtf8(program) + "': the folder '" +
                                 WideToUtf8(folder) + "' is writable by S-1-1-0"))
            << log.Text();
        EXPECT_EQ(::GetFileAttributesW(record.c_str()), INVALID_FILE_ATTRIBUTES) << "the planted program ran";
        ::DeleteFileW(program.c_str());
    }
}

} // namespace
