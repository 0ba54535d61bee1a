#pragma once

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "logging/file_context.h"
#include "logging/log_platform.h"
#include "logging/nv_qor_log.h"

namespace NvQorLogging {

class Logger {
public:
    Logger() = default;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;
    virtual ~Logger() = default;

    virtual void Open(const char* componentUtf8, const char* logNameUtf8, int32_t level, uint32_t flags) = 0;
    virtual void Open(const wchar_t* component, const wchar_t* logName, int32_t level, uint32_t flags) = 0;
    virtual void Close() = 0;
    virtual void Flush() = 0;
    virtual void LogV(int32_t level, const wchar_t* format, va_list args) = 0;
    virtual void LogV(int32_t level, const char* formatUtf8, va_list args) = 0;
    virtual bool IsEnabled(int32_t level) const;
    virtual bool IsFiltered(int32_t level) const;
    virtual const wchar_t* LevelTag(int32_t level) const;
    virtual int32_t MarkerLevel(uint32_t flags) const;
    virtual void LogFormat(int32_t level, const char* formatUtf8, ...);
    virtual void LogFormat(int32_t level, const wchar_t* format, ...);

    void SetObserver(LogObserver* observer, int32_t maxLevel);
    // A message of this level is written or observed, so it has to be formatted.
    bool IsWanted(int32_t level) const { return !IsFiltered(level) || IsObserved(level); }

protected:
    bool IsObserved(int32_t level) const { return level <= m_observedLevel.load(std::memory_order_relaxed); }
    void NotifyObserver(int32_t level, const wchar_t* text, size_t length);

    // Read without the lock by the level test; written under the implementation's lock.
    std::atomic<int32_t> m_level{0};

private:
    // Its own lock: the observer is called outside the file lock, and a removal must wait for a running call.
    std::mutex m_observerLock;
    LogObserver* m_observer = nullptr;
    std::atomic<int32_t> m_observedLevel{0};
};

class LoggerWin : public Logger {
public:
    explicit LoggerWin(LogPlatform& platform = SystemPlatform());
    ~LoggerWin() override;

    void Open(const char* componentUtf8, const char* logNameUtf8, int32_t level, uint32_t flags) override;
    void Open(const wchar_t* component, const wchar_t* logName, int32_t level, uint32_t flags) override;
    void Close() override;
    void Flush() override;
    void LogV(int32_t level, const wchar_t* format, va_list args) override;
    void LogV(int32_t level, const char* formatUtf8, va_list args) override;
    virtual std::unique_ptr<FileContext> CreateFileContext(const std::wstring& component, const std::wstring& logName,
                                                           uint32_t flags);
    // The file context's FolderRefusal; empty while closed.
    virtual std::wstring FolderRefusal();
    // The file context's Folder; empty while closed.
    virtual std::wstring LogFolder();
    // The file context's CurrentFile; empty while closed.
    virtual std::wstring FilePath();

protected:
    LogPlatform& Platform() const { return m_platform; }

private:
    class Lock;
    class Unlock;

    bool RunFirstUseStep();
    void WriteSessionHeader(int32_t level);
    int UtcOffsetMinutes();
    void WriteMessage(int32_t level, const SYSTEMTIME& time, const wchar_t* message, size_t length);

    LogPlatform& m_platform;
    std::atomic<bool> m_debugCopy{false};
    std::atomic<uint32_t> m_flags{0};
    CRITICAL_SECTION m_lock;
    std::unique_ptr<FileContext> m_context;
};

// A logger independent of the process-wide one, owned by the caller.
std::unique_ptr<Logger> CreateLogger();

} // namespace NvQorLogging
