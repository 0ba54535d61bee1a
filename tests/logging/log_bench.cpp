// Times COUNT Info lines through NV_QOR_LOG, then plain WriteFile appends of the very bytes the log received,
// and, to tell the cost of the cross-process mutex from the rest, a logger whose mutex waits are skipped.
// log_bench.exe COUNT LOG_FILE
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "base/unique_resource.h"
#include "logging/logger.h"
#include "logging/nv_qor_log.h"

namespace {

double Seconds(LARGE_INTEGER start, LARGE_INTEGER end)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::vector<std::wstring> ReadLines(const wchar_t* path)
{
    const UniqueFile file(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart < 2) {
        return {};
    }
    std::wstring text(static_cast<size_t>(size.QuadPart) / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    ReadFile(file.get(), text.data(), static_cast<DWORD>(size.QuadPart), &read, nullptr);
    std::vector<std::wstring> lines;
    for (size_t start = 1; start < text.size();) {
        const size_t end = std::min(text.find(L"\r\n", start), text.size() - 2) + 2;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

// The Win32 layer with the mutex wait and release left out.
class UnlockedPlatform final : public NvQorLogging::LogPlatform {
public:
    SYSTEMTIME Now(bool utc) override { return m_real.Now(utc); }
    DWORD TimeZone(TIME_ZONE_INFORMATION& info) override { return m_real.TimeZone(info); }
    bool SessionId(DWORD& session) override { return m_real.SessionId(session); }
    DWORD ProcessId() override { return m_real.ProcessId(); }
    DWORD ThreadId() override { return m_real.ThreadId(); }
    void DebugOutput(const wchar_t* text) override { m_real.DebugOutput(text); }
    bool QueryDword(HKEY root, const std::wstring& subkey, const wchar_t* name, REGSAM view, DWORD& value) override
    {
        return m_real.QueryDword(root, subkey, name, view, value);
    }
    std::wstring QueryString(HKEY root, const std::wstring& subkey, const wchar_t* name, REGSAM view) override
    {
        return m_real.QueryString(root, subkey, name, view);
    }
    std::wstring ExpandEnvironment(const wchar_t* text) override { return m_real.ExpandEnvironment(text); }
    bool IsAdministrator() override { return m_real.IsAdministrator(); }
    bool IsLowIntegrity() override { return m_real.IsLowIntegrity(); }
    std::wstring UserSid() override { return m_real.UserSid(); }
    std::unique_ptr<NvQorLogging::LogSecurity> SecurityFromSddl(const wchar_t* sddl) override
    {
        return m_real.SecurityFromSddl(sddl);
    }
    UniqueMutex CreateNamedMutex(const std::wstring& name, SECURITY_ATTRIBUTES* attributes, DWORD& error) override
    {
        return m_real.CreateNamedMutex(name, attributes, error);
    }
    UniqueMutex OpenNamedMutex(const std::wstring& name) override { return m_real.OpenNamedMutex(name); }
    DWORD WaitMutex(HANDLE, DWORD) override { return WAIT_OBJECT_0; }
    void ReleaseMutex(HANDLE) override {}
    DWORD StandardOutputType() override { return m_real.StandardOutputType(); }
    DWORD AttachParentConsole() override { return m_real.AttachParentConsole(); }
    void DetachConsole() override { m_real.DetachConsole(); }
    bool WriteConsoleText(std::wstring_view text) override { return m_real.WriteConsoleText(text); }
    bool WriteStandardOutput(std::string_view bytes) override { return m_real.WriteStandardOutput(bytes); }

private:
    NvQorLogging::LogPlatform& m_real = NvQorLogging::SystemPlatform();
};

double TimeUnlockedLogger(long count)
{
    UnlockedPlatform platform;
    NvQorLogging::LoggerWin logger(platform);
    logger.Open(L"LogBench", L"LogBenchUnlocked", NvQorLogging::Info, 0);
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&start);
    for (long i = 0; i < count; ++i) {
        logger.LogFormat(NvQorLogging::Info, L"%s: line %ld of %ld, %zu bytes so far", L"LogBench::Run", i, count,
                         static_cast<size_t>(i) * 150);
    }
    QueryPerformanceCounter(&end);
    return Seconds(start, end);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: log_bench COUNT LOG_FILE\n");
        return 2;
    }
    const long count = std::wcstol(argv[1], nullptr, 10);
    NvQorLogging::OpenLog(L"LogBench", L"LogBench", NvQorLogging::Info, 0);
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&start);
    for (long i = 0; i < count; ++i) {
        NV_QOR_LOG(NvQorLogging::Info, L"%s: line %ld of %ld, %zu bytes so far", L"LogBench::Run", i, count,
                   static_cast<size_t>(i) * 150);
    }
    QueryPerformanceCounter(&end);
    const double loggerSeconds = Seconds(start, end);
    NvQorLogging::CloseLog();

    const std::vector<std::wstring> lines = ReadLines(argv[2]);
    const std::wstring plainPath = std::wstring(argv[2]) + L".plain";
    const UniqueFile plain(CreateFileW(plainPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (lines.size() < static_cast<size_t>(count) || !plain) {
        std::fprintf(stderr, "log file %ls holds %zu lines\n", argv[2], lines.size());
        return 1;
    }
    QueryPerformanceCounter(&start);
    for (const std::wstring& line : lines) {
        DWORD written = 0;
        WriteFile(plain.get(), line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
    }
    QueryPerformanceCounter(&end);
    const double plainSeconds = Seconds(start, end);

    std::printf("logger: %ld lines in %.3f s, %.0f lines/s\n", count, loggerSeconds, count / loggerSeconds);
    const double unlockedSeconds = TimeUnlockedLogger(count);
    std::printf("logger without the cross-process mutex: %ld lines in %.3f s, %.0f lines/s\n", count, unlockedSeconds,
                count / unlockedSeconds);
    std::printf("plain:  %zu lines in %.3f s, %.0f lines/s\n", lines.size(), plainSeconds, lines.size() / plainSeconds);
    std::printf("ratio %.2f\n", loggerSeconds / plainSeconds);
    return 0;
}
