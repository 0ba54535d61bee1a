#include "app/run_report.h"

#include "app/tool_options.h"
#include "app/version.h"
#include "base/option_parser.h"
#include "base/text_conversion.h"
#include "base/unique_resource.h"
#include "engine/removal_record.h"
#include "logging/nv_qor_log.h"
#include "modules/status.h"
#include "platform/file_handles.h"

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

const char* TraceStateName(TraceOutcome::State state)
{
    switch (state) {
    case TraceOutcome::State::Restart:
        return "restart";
    case TraceOutcome::State::Left:
        return "left";
    case TraceOutcome::State::Removed:
    default:
        return "removed";
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

// Creates a new file beside the target under a name nobody else uses, relative to the folder's handle; a name that
// is taken (by an earlier run, or planted) is passed over, never opened.
UniqueFile CreateTemporaryBeside(const NvFileHandles::Target& target, std::wstring& temporary, DWORD& error)
{
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        wchar_t suffix[64];
        std::swprintf(suffix, std::size(suffix), L".%lx-%llx-%d.tmp", ::GetCurrentProcessId(),
                      static_cast<unsigned long long>(::GetTickCount64()), attempt);
        temporary = target.name + suffix;
        UniqueFile file = NvFileHandles::CreateNewChild(target.parent, temporary, GENERIC_WRITE | DELETE, error);
        if (file || (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)) {
            return file;
        }
    }
    return UniqueFile();
}

// Deletes whatever name stands at the target (a file, or a link as itself), also a read-only one.
DWORD DeleteOldName(const NvFileHandles::Target& target)
{
    NvFileHandles::Entry old = NvFileHandles::OpenChild(target.parent, target.name, DELETE | FILE_WRITE_ATTRIBUTES);
    if (old.kind == NvFileHandles::Kind::Missing) {
        return ERROR_SUCCESS;
    }
    if (!old.handle) {
        return old.error != ERROR_SUCCESS ? old.error : ERROR_ACCESS_DENIED;
    }
    if (old.kind == NvFileHandles::Kind::Directory) {
        return ERROR_DIRECTORY;
    }
    NvFileHandles::ClearReadOnly(old.handle.get(), old.attributes);
    return NvFileHandles::DeleteOpened(old.handle.get(), ::SetFileInformationByHandle) ? ERROR_SUCCESS
                                                                                       : ::GetLastError();
}

void Discard(HANDLE file)
{
    FILE_DISPOSITION_INFO dispose{TRUE};
    ::SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose);
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
        nlohmann::ordered_json traces = nlohmann::ordered_json::array();
        for (const TraceOutcome& trace : outcome.traces) {
            nlohmann::ordered_json entry = {
                {"kind", Utf8(trace.kind)},
                {"item", Utf8(trace.item)},
                {"state", TraceStateName(trace.state)},
            };
            if (trace.state == TraceOutcome::State::Left) {
                entry["reason"] = Utf8(trace.reason);
            }
            traces.push_back(std::move(entry));
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
            {"traces", std::move(traces)},
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
    bool oldFileStays = false;
    if (error == ERROR_SUCCESS && ReplaceFileContent(path, document, error, oldFileStays)) {
        NV_QOR_LOG(NvQorLogging::Info, L"%s: Report written to '%s'", NV_LOG_FUNCTION, path.c_str());
        return;
    }
    const std::wstring reason = FormatError(error);
    if (oldFileStays) {
        // A collector would read it as this run's report.
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: The file at '%s' is not this run's report and cannot be replaced: %s",
                   NV_LOG_FUNCTION, path.c_str(), reason.c_str());
        PrintToConsole(L"Warning: the file at '%s' is not this run's report and cannot be replaced: %s", path.c_str(),
                       reason.c_str());
        return;
    }
    NV_QOR_LOG(NvQorLogging::Warning, L"%s: Could not write the report to '%s': %s", NV_LOG_FUNCTION, path.c_str(),
               reason.c_str());
    PrintToConsole(L"Warning: could not write the report to '%s': %s", path.c_str(), reason.c_str());
}

bool ReplaceFileContent(const std::wstring& target, const std::string& content, DWORD& error, bool& oldFileStays)
{
    oldFileStays = false;
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
    // Every folder on the way is opened inside the one before it: a link there (which a standard user may plant
    // in a folder they can write) could send the file somewhere else than the administrator named.
    NvFileHandles::Target place;
    switch (NvFileHandles::ReachParent(fullPath, place)) {
    case NvFileHandles::Reach::Parent:
        break;
    case NvFileHandles::Reach::Link:
        error = ERROR_CANT_ACCESS_FILE;
        return false;
    case NvFileHandles::Reach::Missing:
        error = ERROR_PATH_NOT_FOUND;
        return false;
    default:
        error = ERROR_INVALID_NAME;
        return false;
    }
    std::wstring temporary;
    UniqueFile file = CreateTemporaryBeside(place, temporary, error);
    if (!file) {
        return false;
    }
    if (!WriteAll(file.get(), content)) {
        error = ::GetLastError();
        Discard(file.get());
        return false;
    }
    // Replaces a file, or a link, at the target as a name; never writes through it. Where the system refuses that
    // (a read-only file on older systems, a file that denies the replacement), the old name goes first.
    error = NvFileHandles::RenameInto(file.get(), place.parent, place.name);
    if (error != ERROR_SUCCESS) {
        error = DeleteOldName(place);
        if (error == ERROR_SUCCESS) {
            error = NvFileHandles::RenameInto(file.get(), place.parent, place.name);
        } else {
            oldFileStays = true;
        }
    }
    if (error != ERROR_SUCCESS) {
        Discard(file.get());
        return false;
    }
    return true;
}
