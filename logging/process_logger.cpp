#include <atomic>
#include <cstdarg>

#include "logging/logger.h"
#include "logging/nv_qor_log.h"

namespace NvQorLogging {
namespace {

// Set once the process-wide logger is gone, so that code running later in the exit sequence (destructors of
// other static objects) logs nowhere instead of into a destroyed object.
std::atomic<bool> g_processLoggerGone{false};

struct ProcessLogger {
    ProcessLogger() = default;
    ProcessLogger(const ProcessLogger&) = delete;
    ProcessLogger& operator=(const ProcessLogger&) = delete;
    ~ProcessLogger() { g_processLoggerGone.store(true, std::memory_order_release); }

    LoggerWin logger;
};

LoggerWin* ProcessWideLogger()
{
    if (g_processLoggerGone.load(std::memory_order_acquire)) {
        return nullptr;
    }
    static ProcessLogger instance;
    return &instance.logger;
}

} // namespace

void OpenLog(const wchar_t* component, const wchar_t* logName, int32_t level, uint32_t flags)
{
    if (Logger* logger = ProcessWideLogger()) {
        logger->Open(component, logName, level, flags);
    }
}

void OpenLog(const char* componentUtf8, const char* logNameUtf8, int32_t level, uint32_t flags)
{
    if (Logger* logger = ProcessWideLogger()) {
        logger->Open(componentUtf8, logNameUtf8, level, flags);
    }
}

std::wstring LogFolderRefusal()
{
    LoggerWin* logger = ProcessWideLogger();
    return logger != nullptr ? logger->FolderRefusal() : std::wstring();
}

std::wstring LogFolder()
{
    LoggerWin* logger = ProcessWideLogger();
    return logger != nullptr ? logger->LogFolder() : std::wstring();
}

std::wstring LogFilePath()
{
    LoggerWin* logger = ProcessWideLogger();
    return logger != nullptr ? logger->FilePath() : std::wstring();
}

void CloseLog()
{
    if (Logger* logger = ProcessWideLogger()) {
        logger->Close();
    }
}

void FlushLog()
{
    if (Logger* logger = ProcessWideLogger()) {
        logger->Flush();
    }
}

bool IsLogLevelEnabled(int32_t level)
{
    const Logger* logger = ProcessWideLogger();
    return logger != nullptr && logger->IsEnabled(level);
}

void Log(int32_t level, const wchar_t* format, ...)
{
    Logger* logger = ProcessWideLogger();
    if (logger == nullptr || !logger->IsWanted(level)) {
        return;
    }
    va_list args;
    va_start(args, format);
    logger->LogV(level, format, args);
    va_end(args);
}

void Log(int32_t level, const char* formatUtf8, ...)
{
    Logger* logger = ProcessWideLogger();
    if (logger == nullptr || !logger->IsWanted(level)) {
        return;
    }
    va_list args;
    va_start(args, formatUtf8);
    logger->LogV(level, formatUtf8, args);
    va_end(args);
}

void SetLogObserver(LogObserver* observer, int32_t maxLevel)
{
    if (Logger* logger = ProcessWideLogger()) {
        logger->SetObserver(observer, maxLevel);
    }
}

} // namespace NvQorLogging
