#pragma once

#include <string>

// A throwaway folder of Lua scripts under the temporary directory, removed with the object.
class ScriptFolder {
public:
    ScriptFolder();
    ~ScriptFolder();
    ScriptFolder(const ScriptFolder&) = delete;
    ScriptFolder& operator=(const ScriptFolder&) = delete;

    const std::wstring& Path() const { return m_path; }
    // Writes the script text as is and returns the file's full path.
    std::wstring Write(const std::wstring& name, const std::string& text) const;
    // The folder's path as a Lua string literal, for scripts that leave evidence in it.
    std::string LuaLiteral() const;

private:
    std::wstring m_path;
};

// Routes the process log to a file of the test's own and reads it back.
class LogCapture {
public:
    explicit LogCapture(const std::wstring& name);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Everything logged so far, as narrow text (the tests look only for ASCII).
    std::string Text() const;

private:
    std::wstring m_file;
};
