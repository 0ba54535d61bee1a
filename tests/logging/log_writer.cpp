// Logs like the tool's entry does, plus a number of numbered lines: log_writer.exe [count [tag [peer]]].
// With a peer tag, the writing starts only when the peer writer has started too.
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>

#include "base/unique_resource.h"
#include "logging/nv_qor_log.h"

namespace {

void MeetPeer(const std::wstring& tag, const std::wstring& peer)
{
    const UniqueEvent ready(CreateEventW(nullptr, TRUE, FALSE, (L"nv_log_writer_ready_" + tag).c_str()));
    const UniqueEvent peerReady(CreateEventW(nullptr, TRUE, FALSE, (L"nv_log_writer_ready_" + peer).c_str()));
    SetEvent(ready.get());
    WaitForSingleObject(peerReady.get(), 30000);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const long count = __argc > 1 ? std::wcstol(__wargv[1], nullptr, 10) : 0;
    const wchar_t* tag = __argc > 2 ? __wargv[2] : L"writer";
    NvQorLogging::OpenLog(L"UninstallationTool", L"UninstallationTool", NvQorLogging::Info, 0);
    NV_QOR_LOG(NvQorLogging::Info, L"Binary version: %s, log writer", L"17.30.134.0");
    if (__argc > 3) {
        MeetPeer(tag, __wargv[3]);
    }
    for (long i = 0; i < count; ++i) {
        NV_QOR_LOG(NvQorLogging::Info, L"%s: %s line %ld of %ld %S", L"`anonymous-namespace'::WriteLines", tag, i,
                   count, "with some padding to make the line longer");
    }
    NV_QOR_LOG(NvQorLogging::Debug, L"%s: debug line", L"`anonymous-namespace'::WriteLines");
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Exiting with code: %d", L"wWinMain", 1);
    NvQorLogging::CloseLog();
    return 1;
}
