#pragma once

#include <string>
#include <vector>

class NvOptionParser;

// The tool's own command line on top of the general parser: its option table, the checks between options that
// the parser cannot make, and the exit-code conventions chosen with "exitcodes".

// Declares the tool's options, in their fixed order.
void DeclareToolOptions(NvOptionParser& parser);

// After a successful parse: option combinations and values; false with the error text.
bool CheckToolOptions(const NvOptionParser& parser, std::wstring& error);

// The ids of a "products" value: split at commas, blanks around each id dropped; empty ids are kept as empty
// strings so that the check can reject them.
std::vector<std::wstring> SplitProductIds(const std::wstring& value);

enum class ExitCodeConvention {
    Tool,             // the tool's own codes
    WindowsInstaller, // "exitcodes=msi": the codes deployment systems know from Windows Installer
};

ExitCodeConvention ChosenExitCodeConvention(const NvOptionParser& parser);

// The process exit code for the tool's own code; restartStarted tells a restart that was requested from one
// that is only needed.
int MapExitCode(ExitCodeConvention convention, int toolCode, bool restartStarted);
