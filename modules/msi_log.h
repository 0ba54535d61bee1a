#pragma once

#include <string>

// Where Windows Installer's log of a removal goes: the file name the script asks for, in the folder the run's own
// log was checked into (never through a link, never in a folder another account owns). Empty, so that no log is
// kept, when the run has no such folder or the name is not a plain file name.
std::wstring InstallerLogPath(const std::wstring& requested);
