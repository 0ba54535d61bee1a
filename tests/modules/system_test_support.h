#pragma once

// Shared pieces of the Process, Service, Win32Driver and Path module tests: a Lua state with the host
// modules, the test program's log, temporary folders and the paths of the programs built for the tests.
#include "base/text_conversion.h"
#include "base/unique_resource.h"

#include <gtest/gtest.h>
#include <lua.hpp>

#include <windows.h>

#include <string>

// A Lua state with every host module, as a product script gets it.
class ScriptState {
public:
    ScriptState();
    ~ScriptState();
    ScriptState(const ScriptState&) = delete;
    ScriptState& operator=(const ScriptState&) = delete;

    // Runs the chunk and returns its results as text, joined by ", " ("" for none), or "error: " and the
    // error message when it raises.
    std::string Run(const std::string& chunk);

private:
    lua_State* m_state;
};

// The log lines written since the object was made.
class LogWindow {
public:
    LogWindow();
    std::string Text() const;
    bool Contains(const std::string& text) const { return Text().find(text) != std::string::npos; }

private:
    size_t m_start;
};

// A fresh empty folder under the temporary directory, removed with its content at the end.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
};

// A Lua string literal holding the text.
std::string LuaString(const std::wstring& text);
// A build-tree path handed over by CMake, as Wine's drive Z: shows it.
std::wstring BuildPath(const char* unixPath);
// Copies a file, creating the missing folders of the destination.
bool CopyInto(const std::wstring& source, const std::wstring& destination);
std::wstring ProgramDataFolder();
// The whole file as UTF-16 text.
std::wstring ReadUtf16File(const std::wstring& path);

// Sets an environment variable of this process, which the programs it starts inherit, for one scope.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const std::wstring& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const wchar_t* m_name;
};

// A running copy of the product program; ended at destruction when it still runs.
class RunningProgram {
public:
    explicit RunningProgram(const std::wstring& path);
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool Started() const { return static_cast<bool>(m_process); }
    // Why the program did not start (GetLastError of CreateProcessW), 0 when it did.
    DWORD StartError() const { return m_startError; }
    bool HasEnded(DWORD waitMs) const;
    DWORD ExitCode() const;

private:
    UniqueHandle m_process;
    DWORD m_startError = 0;
};

// A service of the test service program, registered for one test and removed afterwards (its process is
// ended when it does not stop).
class TestService {
public:
    explicit TestService(const std::wstring& name, const std::wstring& dependsOn = L"");
    ~TestService();
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    // Starts the service, with a mode argument of the test service when given, and waits until it runs;
    // false when it does not.
    ::testing::AssertionResult Start(const wchar_t* mode = nullptr);
    bool Exists() const;
    // The current state, or 0 when the service cannot be queried.
    DWORD State() const;
    // The key of the service below HKEY_LOCAL_MACHINE.
    std::wstring Key() const;

private:
    std::wstring m_name;
};
