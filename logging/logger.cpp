#include "logging/logger.h"

#include <cstdlib>
#include <memory>
#include <string>

#include "base/text_conversion.h"
#include "logging/last_error.h"
#include "logging/log_format.h"

namespace NvQorLogging {
namespace {

constexpr size_t kFirstBuffer = 2048;
constexpr size_t kLargeBuffer = 65536;
constexpr size_t kLineOverhead = 50;

// The message of one call: a stack buffer first, a heap one only for the rare long message.
template <typename Char> class MessageText {
public:
    bool Format(const Char* format, va_list args)
    {
        va_list first;
        va_copy(first, args);
        m_length = FormatText(m_small, kFirstBuffer, format, first);
        va_end(first);
        m_text = m_small;
        if (m_length >= 0) {
            return true;
        }
        m_large = std::make_unique<Char[]>(kLargeBuffer);
        m_length = FormatText(m_large.get(), kLargeBuffer, format, args);
        m_text = m_large.get();
        return m_length >= 0;
    }
    const Char* Text() const { return m_text; }
    size_t Length() const { return static_cast<size_t>(m_length); }

private:
    Char m_small[kFirstBuffer];
    std::unique_ptr<Char[]> m_large;
    const Char* m_text = m_small;
    int m_length = -1;
};

int FormatArgs(wchar_t* buffer, size_t capacity, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int length = FormatText(buffer, capacity, format, args);
    va_end(args);
    return length;
}

} // namespace

bool Logger::IsEnabled(int32_t level) const
{
    return !IsFiltered(level);
}

bool Logger::IsFiltered(int32_t level) const
{
    return level > m_level.load(std::memory_order_relaxed);
}

const wchar_t* Logger::LevelTag(int32_t level) const
{
    switch (level) {
    case Fatal:
        return L"*F";
    case Error:
        return L"*E";
    case Warning:
        return L".W";
    case Info:
        return L" I";
    case Debug:
        return L" D";
    case Verbose:
        return L" V";
    default:
        return L"  ";
    }
}

int32_t Logger::MarkerLevel(uint32_t flags) const
{
    return (flags & OpenFlagMarkersAtDebug) != 0 ? Debug : Info;
}

void Logger::LogFormat(int32_t level, const char* formatUtf8, ...)
{
    va_list args;
    va_start(args, formatUtf8);
    LogV(level, formatUtf8, args);
    va_end(args);
}

void Logger::LogFormat(int32_t level, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    LogV(level, format, args);
    va_end(args);
}

void Logger::SetObserver(LogObserver* observer, int32_t maxLevel)
{
    const std::lock_guard<std::mutex> guard(m_observerLock);
    m_observer = observer;
    m_observedLevel = observer != nullptr ? maxLevel : 0;
}

void Logger::NotifyObserver(int32_t level, const wchar_t* text, size_t length)
{
    if (!IsObserved(level)) {
        return;
    }
    const std::lock_guard<std::mutex> guard(m_observerLock);
    if (m_observer != nullptr && level <= m_observedLevel) {
        m_observer->OnMessage(level, text, length);
    }
}

class LoggerWin::Lock {
public:
    explicit Lock(CRITICAL_SECTION& section) : m_section(section) { EnterCriticalSection(&m_section); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    ~Lock() { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION& m_section;
};

// Leaves a held critical section for a while and takes it again.
class LoggerWin::Unlock {
public:
    explicit Unlock(CRITICAL_SECTION& section) : m_section(section) { LeaveCriticalSection(&m_section); }
    Unlock(const Unlock&) = delete;
    Unlock& operator=(const Unlock&) = delete;
    ~Unlock() { EnterCriticalSection(&m_section); }

private:
    CRITICAL_SECTION& m_section;
};

LoggerWin::LoggerWin(LogPlatform& platform) : m_platform(platform)
{
    InitializeCriticalSection(&m_lock);
}

LoggerWin::~LoggerWin()
{
    const LastErrorKeeper keeper;
    bool open = false;
    {
        const Lock lock(m_lock);
        open = m_context != nullptr;
    }
    if (open) {
        LogFormat(MarkerLevel(m_flags), L"***  LOG AUTO-CLOSED ***");
    }
    {
        const Lock lock(m_lock);
        m_context.reset();
    }
    DeleteCriticalSection(&m_lock);
}

void LoggerWin::Open(const char* componentUtf8, const char* logNameUtf8, int32_t level, uint32_t flags)
{
    const LastErrorKeeper keeper;
    const std::wstring component = Utf8ToWideReplacing(componentUtf8 != nullptr ? componentUtf8 : "");
    const std::wstring logName = Utf8ToWideReplacing(logNameUtf8 != nullptr ? logNameUtf8 : "");
    Open(component.c_str(), logName.c_str(), level, flags);
}

void LoggerWin::Open(const wchar_t* component, const wchar_t* logName, int32_t level, uint32_t flags)
{
    const LastErrorKeeper keeper;
    const Lock lock(m_lock);
    if (m_context) {
        return;
    }
    m_flags = flags;
    m_context = CreateFileContext(component != nullptr ? component : L"", logName != nullptr ? logName : L"", flags);
    if ((flags & OpenFlagDeferredStart) != 0) {
        m_level = Verbose;
        m_debugCopy = false;
        return;
    }
    m_level = level;
    if (m_context) {
        RunFirstUseStep();
    }
}

void LoggerWin::Close()
{
    const LastErrorKeeper keeper;
    LogFormat(MarkerLevel(m_flags), L"***  LOGGING ENDED  ***");
    const Lock lock(m_lock);
    m_context.reset();
}

void LoggerWin::Flush()
{
    const LastErrorKeeper keeper;
    const Lock lock(m_lock);
    if (m_context) {
        m_context->Flush();
    }
}

std::wstring LoggerWin::FolderRefusal()
{
    const LastErrorKeeper keeper;
    const Lock lock(m_lock);
    return m_context ? m_context->FolderRefusal() : std::wstring();
}

std::wstring LoggerWin::LogFolder()
{
    const LastErrorKeeper keeper;
    const Lock lock(m_lock);
    return m_context ? m_context->Folder() : std::wstring();
}

std::wstring LoggerWin::FilePath()
{
    const LastErrorKeeper keeper;
    const Lock lock(m_lock);
    return m_context ? m_context->CurrentFile() : std::wstring();
}

void LoggerWin::LogV(int32_t level, const wchar_t* format, va_list args)
{
    if (!IsWanted(level)) {
        return;
    }
    const LastErrorKeeper keeper;
    const SYSTEMTIME time = m_platform.Now((m_flags & OpenFlagUtcTime) != 0);
    MessageText<wchar_t> message;
    if (!message.Format(format, args)) {
        LogFormat(Error, L"NV_QOR_LOG failure: too large message. Format: %s", format);
        return;
    }
    NotifyObserver(level, message.Text(), message.Length());
    if (!IsFiltered(level)) {
        WriteMessage(level, time, message.Text(), message.Length());
    }
}

void LoggerWin::LogV(int32_t level, const char* formatUtf8, va_list args)
{
    if (!IsWanted(level)) {
        return;
    }
    const LastErrorKeeper keeper;
    const SYSTEMTIME time = m_platform.Now((m_flags & OpenFlagUtcTime) != 0);
    MessageText<char> message;
    if (!message.Format(formatUtf8, args)) {
        LogFormat(Error, L"NV_QOR_LOG failure: too large message. Format: %S", formatUtf8);
        return;
    }
    const std::wstring wide = Utf8ToWideReplacing({message.Text(), message.Length()});
    if (wide.empty()) {
        LogFormat(Error, L"NV_QOR_LOG failure: unable to convert ANSI to UNICODE. Format: %S", formatUtf8);
        return;
    }
    NotifyObserver(level, wide.c_str(), wide.size());
    if (!IsFiltered(level)) {
        WriteMessage(level, time, wide.c_str(), wide.size());
    }
}

std::unique_ptr<FileContext> LoggerWin::CreateFileContext(const std::wstring& component, const std::wstring& logName,
                                                          uint32_t flags)
{
    return std::make_unique<FileContext>(m_platform, std::make_unique<FileSystem::Path>(), component, logName, flags);
}

void LoggerWin::WriteMessage(int32_t level, const SYSTEMTIME& time, const wchar_t* message, size_t length)
{
    const size_t capacity = length + kLineOverhead;
    wchar_t small[kFirstBuffer + kLineOverhead];
    std::unique_ptr<wchar_t[]> large;
    wchar_t* line = small;
    if (capacity > std::size(small)) {
        large = std::make_unique<wchar_t[]>(capacity);
        line = large.get();
    }
    const int lineLength =
        FormatArgs(line, capacity, L"%04d-%02d-%02d %02d:%02d:%02d.%03d [%04x.%04x] %s: %s\r\n", time.wYear,
                   time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond, time.wMilliseconds,
                   m_platform.ProcessId(), m_platform.ThreadId(), LevelTag(level), message);
    if (lineLength < 0) {
        return;
    }
    if (m_debugCopy) {
        m_platform.DebugOutput(line);
    }
    const Lock lock(m_lock);
    if (!m_context) {
        return;
    }
    // The first line after a deferred open sets up the file and the configured level, which may filter it.
    if (RunFirstUseStep() && IsFiltered(level)) {
        return;
    }
    if (m_context) {
        m_context->WriteLine({line, static_cast<size_t>(lineLength)});
    }
}

bool LoggerWin::RunFirstUseStep()
{
    if (!m_context->Initialize()) {
        return false;
    }
    m_debugCopy = m_context->DebugOutputEnabled();
    m_level = m_context->ConfiguredLevel(m_level);
    // The header goes through the ordinary log path, which takes the lock itself.
    const Unlock unlock(m_lock);
    WriteSessionHeader(MarkerLevel(m_flags));
    return true;
}

void LoggerWin::WriteSessionHeader(int32_t level)
{
    if (IsFiltered(level)) {
        return;
    }
    DWORD session = 0;
    if (!m_platform.SessionId(session)) {
        session = 0xDEADBEEF;
    }
    const int offset = UtcOffsetMinutes();
    {
        const Lock lock(m_lock);
        if (m_context) {
            m_context->WriteLine(L"\r\n");
        }
    }
    // Sign first, then magnitudes: a truncating division would lose the sign of offsets under an hour.
    const wchar_t sign = offset < 0 ? L'-' : L'+';
    const int hours = std::abs(offset) / 60;
    const int minutes = std::abs(offset) % 60;
    if ((m_flags & OpenFlagUtcTime) != 0) {
        LogFormat(level, L"***  LOGGING STARTED  *** (UTC+00:00, local:%c%d:%02d, session: 0x%x)", sign, hours, minutes,
                  session);
    } else {
        LogFormat(level, L"***  LOGGING STARTED  *** (UTC%c%d:%02d, session: 0x%x)", sign, hours, minutes, session);
    }
}

int LoggerWin::UtcOffsetMinutes()
{
    TIME_ZONE_INFORMATION zone{};
    switch (m_platform.TimeZone(zone)) {
    case TIME_ZONE_ID_DAYLIGHT:
        return -(zone.Bias + zone.DaylightBias);
    case TIME_ZONE_ID_INVALID:
        return 3599;
    default:
        return -(zone.Bias + zone.StandardBias);
    }
}

std::unique_ptr<Logger> CreateLogger()
{
    return std::make_unique<LoggerWin>();
}

} // namespace NvQorLogging
