#include "app/run_report.h"

#include "app/option_parser.h"
#include "app/tool_options.h"
#include "app/version.h"
#include "engine/removal_record.h"
#include "engine/status.h"
#include "logging/nv_qor_log.h"
#include "platform/text_conversion.h"
#include "platform/unique_resource.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <exception>

namespace {

// How often a new temporary name is tried when one is taken (by an earlier run, or planted).
constexpr int kTemporaryNameAttempts = 100;

std::string Utf8(const std::wstring& text)
{
    return WideToUtf8(text);
}

std::string Iso8601(const FILETIME& time)
{
    SYSTEMTIME utc{};
    ::FileTimeToSystemTime(&time, &utc);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", utc.wYear, utc.wMonth, utc.wDay, utc.wHour,
                  utc.wMinute, utc.wSecond, utc.wMilliseconds);
    return text;
}

std::wstring MachineName()
{
    wchar_t name[256];
    DWORD size = static_cast<DWORD>(std::size(name));
    if (::GetComputerNameExW(ComputerNameDnsHostname, name, &size)) {
        return name;
    }
    size = static_cast<DWORD>(std::size(name));
    return ::GetComputerNameW(name, &size) ? name : L"";
}

const char* ResultName(ProductOutcome::Result result)
{
    switch (result) {
    case ProductOutcome::Result::NotSelected:
        return "not-selected";
    case ProductOutcome::Result::Removed:
        return "removed";
    case ProductOutcome::Result::RemovedRestartNeeded:
        return "removed-restart-needed";
    case ProductOutcome::Result::Failed:
        return "failed";
    case ProductOutcome::Result::NotRun:
    default:
        return "not-run";
    }
}

std::wstring FormatError(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const UniqueLocal owner(text);
    std::wstring message = length != 0 ? std::wstring(text, length) : std::wstring();
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
        message.pop_back();
    }
    wchar_t code[16];
    std::swprintf(code, std::size(code), L"error %lu", error);
    return message.empty() ? code : message + L" (" + code + L")";
}

// A folder on the way to the report that is a link (junction, symbolic link, mount point) could send the file
// somewhere else than the administrator named; a standard user may plant one in a folder it can write.
bool IsReachedThroughLink(const std::wstring& fullPath)
{
    // Skip the root: "C:\" or "\\server\share\".
    size_t position = 0;
    if (fullPath.rfind(L"\\\\", 0) == 0) {
        position = fullPath.find(L'\\', 2);
        position = position == std::wstring::npos ? position : fullPath.find(L'\\', position + 1);
    } else {
        position = fullPath.find(L'\\');
    }
    while (position != std::wstring::npos) {
        position = fullPath.find(L'\\', position + 1);
        if (position == std::wstring::npos) {
            break; // the last component is the report itself, replaced as a name and never followed
        }
        const DWORD attributes = ::GetFileAttributesW(fullPath.substr(0, position).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return true;
        }
    }
    return false;
}

// Creates a new file beside target under a name nobody else uses; CREATE_NEW never opens what is there already
// (a planted file or link), and a taken name is simply passed over.
UniqueFile CreateTemporaryBeside(const std::wstring& target, std::wstring& temporary, DWORD& error)
{
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        wchar_t suffix[64];
        std::swprintf(suffix, std::size(suffix), L".%lx-%llx-%d.tmp", ::GetCurrentProcessId(),
                      static_cast<unsigned long long>(::GetTickCount64()), attempt);
        temporary = target + suffix;
        UniqueFile file(::CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (file) {
            return file;
        }
        error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    return UniqueFile();
}

bool WriteAll(HANDLE file, const std::string& content)
{
    size_t written = 0;
    while (written < content.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - written, 1u << 20));
        DWORD done = 0;
        if (!::WriteFile(file, content.data() + written, chunk, &done, nullptr) || done == 0) {
            return false;
        }
        written += done;
    }
    return ::FlushFileBuffers(file) != FALSE;
}

} // namespace

RunReport& RunReport::Instance()
{
    static RunReport instance;
    return instance;
}

RunReport::RunReport()
{
    ::GetSystemTimeAsFileTime(&m_start);
}

void RunReport::SetRestartStarted()
{
    m_restartStarted = true;
}

bool RunReport::IsRestartStarted() const
{
    return m_restartStarted;
}

std::string RunReport::BuildDocument(int toolCode, int exitCode) const
{
    FILETIME end{};
    ::GetSystemTimeAsFileTime(&end);
    const NvOptionParser& parser = NvOptionParser::Instance();

    nlohmann::ordered_json options = nlohmann::ordered_json::object();
    for (const NvOptionParser::SpecifiedOption& option : parser.GetSpecifiedOptions()) {
        options[Utf8(option.name)] =
            option.flag ? nlohmann::ordered_json(true) : nlohmann::ordered_json(Utf8(option.value));
    }
    nlohmann::ordered_json products = nlohmann::ordered_json::array();
    for (const ProductOutcome& outcome : RemovalRecord::Instance().Products()) {
        nlohmann::ordered_json errors = nlohmann::ordered_json::array();
        for (const std::wstring& line : outcome.errorLines) {
            errors.push_back(Utf8(line));
        }
        products.push_back({
            {"id", Utf8(outcome.id)},
            {"displayName", Utf8(outcome.displayName)},
            {"priority", outcome.priority},
            {"detected", outcome.detected},
            {"selected", outcome.selected},
            {"result", ResultName(outcome.result)},
            {"timeMs", outcome.milliseconds},
            {"errors", std::move(errors)},
        });
    }
    const Status& status = Status::Instance();
    char version[32];
    std::snprintf(version, sizeof version, "%d.%d.%d.%d", ToolVersion::kMajor, ToolVersion::kMinor, ToolVersion::kBuild,
                  ToolVersion::kRevision);
    const nlohmann::ordered_json document = {
        {"toolVersion", version},
        {"machineName", Utf8(MachineName())},
        {"startTime", Iso8601(m_start)},
        {"endTime", Iso8601(end)},
        {"options", std::move(options)},
        {"exitCode", toolCode},
        {"mappedExitCode", exitCode},
        {"failed", status.IsFailed() || toolCode == 1},
        {"restartNeeded", status.IsRebootNeeded()},
        {"restartStarted", m_restartStarted},
        {"products", std::move(products)},
    };
    // Texts are converted from UTF-16 already; a lone surrogate must not cost the whole report.
    return document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

void RunReport::WriteIfRequested(int toolCode, int exitCode) const
{
    const NvOptionParser& parser = NvOptionParser::Instance();
    if (!parser.IsSpecified(L"report") || !parser.HasValue(L"report")) {
        return;
    }
    const std::wstring path = parser.GetValue(L"report");
    std::string document;
    DWORD error = ERROR_SUCCESS;
    try {
        document = BuildDocument(toolCode, exitCode);
    } catch (const std::exception&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (error == ERROR_SUCCESS && ReplaceFileContent(path, document, error)) {
        NV_QOR_LOG(NvQorLogging::Info, L"%s: Report written to '%s'", L"RunReport::WriteIfRequested", path.c_str());
        return;
    }
    const std::wstring reason = FormatError(error);
    NV_QOR_LOG(NvQorLogging::Warning, L"%s: Could not write the report to '%s': %s", L"RunReport::WriteIfRequested",
               path.c_str(), reason.c_str());
    PrintToConsole(L"Warning: could not write the report to '%s': %s", path.c_str(), reason.c_str());
}

bool ReplaceFileContent(const std::wstring& target, const std::string& content, DWORD& error)
{
    wchar_t full[MAX_PATH * 4];
    const DWORD length = ::GetFullPathNameW(target.c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
    if (length == 0 || length >= std::size(full)) {
        error = length == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    const std::wstring fullPath(full, length);
    if (fullPath.back() == L'\\') {
        error = ERROR_INVALID_NAME;
        return false;
    }
    if (IsReachedThroughLink(fullPath)) {
        error = ERROR_CANT_ACCESS_FILE;
        return false;
    }
    std::wstring temporary;
    UniqueFile file = CreateTemporaryBeside(fullPath, temporary, error);
    if (!file) {
        return false;
    }
    if (!WriteAll(file.get(), content)) {
        error = ::GetLastError();
        // Through the handle: the name may no longer be ours.
        FILE_DISPOSITION_INFO dispose{TRUE};
        ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose, sizeof dispose);
        return false;
    }
    file.reset();
    // The move replaces a file, or a link, at the target as a name; it never writes through it.
    if (!::MoveFileExW(temporary.c_str(), fullPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = ::GetLastError();
        ::DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}
