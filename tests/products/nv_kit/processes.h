// Programs on the kit's machine: what runs, starting one, and a holder of open files.
#pragma once

#include <string>
#include <vector>

namespace NvKit {

// The full path of every running process's program.
std::vector<std::wstring> RunningPrograms();
// Starts the program and does not wait for it.
void StartProgram(const std::wstring& program);
// Opens the files without sharing, creates READY, then sleeps until it is ended.
int Hold(const std::wstring& ready, const std::vector<std::wstring>& files);

} // namespace NvKit
