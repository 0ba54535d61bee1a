#include "script_folder.h"

#include "logging/nv_qor_log.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

std::atomic<unsigned> g_folderCount{0};

std::wstring ExpandedProgramData()
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = ::ExpandEnvironmentStringsW(L"%ProgramData%", buffer, MAX_PATH);
    return length > 0 && length <= MAX_PATH ? std::wstring(buffer) : std::wstring();
}

} // namespace

ScriptFolder::ScriptFolder()
{
    const auto path =
        std::filesystem::temp_directory_path() /
        (L"nv-engine-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(g_folderCount++));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    m_path = path.wstring();
}

ScriptFolder::~ScriptFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::wstring ScriptFolder::Write(const std::wstring& name, const std::string& text) const
{
    const std::filesystem::path path = std::filesystem::path(m_path) / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path.wstring();
}

std::string ScriptFolder::LuaLiteral() const
{
    std::string literal = "[[";
    for (wchar_t c : m_path) {
        literal += static_cast<char>(c);
    }
    return literal + "]]";
}

LogCapture::LogCapture(const std::wstring& name)
    : m_file(ExpandedProgramData() + L"\\Norvane\\Log\\EngineTests\\" + name + L".log")
{
    ::DeleteFileW(m_file.c_str());
    NvQorLogging::OpenLog(L"EngineTests", name.c_str(), NvQorLogging::Verbose, 0);
}

LogCapture::~LogCapture()
{
    NvQorLogging::CloseLog();
}

std::string LogCapture::Text() const
{
    NvQorLogging::FlushLog();
    std::ifstream file(std::filesystem::path(m_file), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text += bytes[i];
    }
    return text;
}
