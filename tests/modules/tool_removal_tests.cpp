// The real tool, started from inside a product folder, running a product script that ends the product's
// processes and removes its services.
#include "tests/harness/wait_for.h"
#include "tests/modules/system_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>

namespace {

std::string ReadFile(const std::wstring& path)
{
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// Runs the program with the arguments and returns its exit code, or -1 when it did not end in two minutes.
long RunAndWait(const std::wstring& program, const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &created)) {
        return -1;
    }
    const UniqueHandle process(created.hProcess);
    const UniqueHandle thread(created.hThread);
    DWORD code = 0;
    if (::WaitForSingleObject(process.get(), 120000) != WAIT_OBJECT_0 || !::GetExitCodeProcess(process.get(), &code)) {
        return -1;
    }
    return static_cast<long>(code);
}

TEST(ToolRemoval, EndsTheProductsProcessesAndServicesButNotItself)
{
    TempFolder folder;
    const std::wstring product = folder.Path() + L"\\Product";
    const std::wstring other = folder.Path() + L"\\Other";
    const std::wstring tool = product + L"\\UninstallationTool.exe";
    ASSERT_TRUE(CopyInto(BuildPath(NV_TOOL_PROGRAM), tool));

    // Program -> whether the script ends it.
    const std::map<std::wstring, bool> programs = {
        {product + L"\\nvsleep.exe", true},
        {product + L"\\bin\\NVHELPER.EXE", true},
        {other + L"\\nvpath.exe", true},
        {other + L"\\nvname.exe", true},
        {other + L"\\nvmask_1.exe", true},
        {other + L"\\NVMASK_2.EXE", false},
        {folder.Path() + L"\\ProductData\\nvsleep.exe", false},
    };
    std::map<std::wstring, std::unique_ptr<RunningProgram>> running;
    for (const auto& [path, ended] : programs) {
        ASSERT_TRUE(CopyInto(BuildPath(NV_PRODUCT_PROGRAM), path));
        running[path] = std::make_unique<RunningProgram>(path);
        ASSERT_TRUE(running[path]->Started()) << WideToUtf8(path);
    }
    TestService main(L"NvToolMain");
    TestService dependent(L"NvToolDependent", L"NvToolMain");
    ASSERT_TRUE(main.Start());
    ASSERT_TRUE(dependent.Start());

    const std::wstring evidence = folder.Path() + L"\\evidence.txt";
    const ScopedEnvironment productFolder(L"NV_TEST_PRODUCT_FOLDER", product);
    const ScopedEnvironment otherFolder(L"NV_TEST_OTHER_FOLDER", other);
    const ScopedEnvironment evidenceFile(L"NV_TEST_EVIDENCE", evidence);
    const std::wstring toolLog = ProgramDataFolder() + L"\\Norvane\\Log\\UninstallationTool\\UninstallationTool.log";
    ::DeleteFileW(toolLog.c_str());

    EXPECT_EQ(RunAndWait(tool, L"/silent \"/scripts=" + BuildPath(NV_TOOL_SCRIPTS) + L"\""), 0);
    EXPECT_EQ(ReadFile(evidence), "true\ntrue\ntrue\ntrue\ntrue\ntrue\ntrue\ntrue\n");
    for (const auto& [path, ended] : programs) {
        EXPECT_EQ(running[path]->HasEnded(0), ended) << WideToUtf8(path);
    }
    // The service control manager deletes the stopped services once their processes have let go of them.
    EXPECT_TRUE(
        NvTest::WaitFor(10000, "the services to be deleted", [&] { return !main.Exists() && !dependent.Exists(); }));
    const std::string log = WideToUtf8(ReadUtf16File(toolLog));
    EXPECT_NE(log.find("Lua::Process::TerminateProcesses: Not terminating own process ["), std::string::npos) << log;
    EXPECT_NE(log.find("] '" + WideToUtf8(tool) + "'"), std::string::npos) << log;
}

} // namespace
