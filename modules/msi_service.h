#pragma once

// In safe mode Windows starts only the services registered for that kind of boot, and the Windows Installer
// service is not among them: it is registered under the SafeBoot key and started before Windows Installer is
// asked for anything. `bootMode` is GetSystemMetrics(SM_CLEANBOOT): 0 normal boot, 1 safe mode, 2 safe mode
// with networking. False only when the service could not be registered; a failed start is logged and left to
// the Windows Installer calls that follow.
bool StartMSIServiceIfNeeded(int bootMode);
