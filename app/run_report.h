#pragma once

#include <windows.h>

#include <string>

// The run report of "report=<path>": one JSON document per run for the collectors of deployment systems.
class RunReport {
public:
    // The process-wide report; the run's start time is taken at the first call.
    static RunReport& Instance();

    // The user chose to restart and Windows accepted the request.
    void SetRestartStarted();
    bool IsRestartStarted() const;

    // The document of a run that ends now with the tool's own and the process's exit code, as UTF-8 text.
    std::string BuildDocument(int toolCode, int exitCode) const;

    // Writes the document to the path of the "report" option, if given; a path that cannot be written is a
    // warning on the console and in the log, never a failed run.
    void WriteIfRequested(int toolCode, int exitCode) const;

private:
    RunReport();

    FILETIME m_start{};
    bool m_restartStarted = false;
};

// Replaces target with content so that a reader sees the old file or the whole new one: a temporary file
// created beside it through the folder's handle (never an existing name or link), written, flushed and moved
// over it by handle. False with the Win32 error code; `oldFileStays` when a file at the target (not this run's)
// could neither be replaced nor deleted.
bool ReplaceFileContent(const std::wstring& target, const std::string& content, DWORD& error, bool& oldFileStays);
