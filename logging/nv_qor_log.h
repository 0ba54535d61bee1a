#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Public face of the log library: the process-wide logger, the program-wide log call and console output.
namespace NvQorLogging {

enum LogLevel : int32_t {
    Fatal = 1,
    Error = 2,
    Warning = 3,
    Info = 4,
    Debug = 5,
    Verbose = 6,
};

// Open flags; the tool itself passes 0.
enum OpenFlags : uint32_t {
    OpenFlagMarkersAtDebug = 0x02, // session header, end and auto-close lines at Debug instead of Info
    OpenFlagDeferredStart = 0x04,  // the file context starts at the first message that passes the level test
    OpenFlagUserSidInName = 0x08,  // administrators: the file name carries the user's SID
    OpenFlagUtcTime = 0x10,
    OpenFlagRestrictedFolder = 0x20,
};

void OpenLog(const wchar_t* component, const wchar_t* logName, int32_t level, uint32_t flags);
void OpenLog(const char* componentUtf8, const char* logNameUtf8, int32_t level, uint32_t flags);
void CloseLog();
void FlushLog();
bool IsLogLevelEnabled(int32_t level);
// Set when the open log found its folder unsafe (a link, or another account's) and writes no file: one line
// saying so, for the console. Empty otherwise.
std::wstring LogFolderRefusal();
// The folder the open log writes its files to after checking it (not a link, owned by the administrators, the
// system or the process's own account); empty when there is none. Every other log of the run goes there too.
std::wstring LogFolder();
// The file this run writes its log to, for showing it to the user; empty while it writes none.
std::wstring LogFilePath();

// Wide formats follow the Windows convention: "%s" is a UTF-16 string, "%S" and "%hs" narrow ones.
void Log(int32_t level, const wchar_t* format, ...);
void Log(int32_t level, const char* formatUtf8, ...);

// The qualified name of a function as log lines give it ("Class::Method", "`anonymous-namespace'::Function"),
// from the compiler's __PRETTY_FUNCTION__: without return type, parameters and template arguments.
std::wstring FunctionName(const char* prettyFunction);
// The same, kept for the life of the process for each __PRETTY_FUNCTION__ (NV_LOG_FUNCTION).
const wchar_t* FunctionNameOf(const char* prettyFunction);

// Sees the text of every message up to a level (without time stamp and tag), also of messages the log filters.
// It is called on the logging thread outside the log's own lock and must not log.
class LogObserver {
public:
    virtual ~LogObserver() = default;
    virtual void OnMessage(int32_t level, const wchar_t* text, size_t length) = 0;
};

// Installs the process-wide logger's one observer for levels up to maxLevel; nullptr removes it. Once this
// returns, the previous observer is no longer called.
void SetLogObserver(LogObserver* observer, int32_t maxLevel);

} // namespace NvQorLogging

// Prints one formatted line to the console of the parent process (or to a redirected standard output).
void PrintToConsole(const wchar_t* format, ...);

#define NV_QOR_LOG(level, ...) ::NvQorLogging::Log((level), __VA_ARGS__)

// The enclosing function's name for the "%s: " that starts a log line, taken from the compiler so that it cannot
// drift from the function. Worked out once per function; the last error is left as it was, so that later
// arguments of the same log call may still read it.
#define NV_LOG_FUNCTION (::NvQorLogging::FunctionNameOf(__PRETTY_FUNCTION__))
