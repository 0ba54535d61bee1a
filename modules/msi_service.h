#pragma once

// In safe mode Windows starts only the services registered for that kind of boot, and the Windows Installer
// service is not among them: for a removal it is registered under the SafeBoot key and started before Windows
// Installer is asked to change anything. `bootMode` is GetSystemMetrics(SM_CLEANBOOT): 0 normal boot, 1 safe
// mode, 2 safe mode with networking. False only when the service could not be registered; a failed start is
// logged and left to the Windows Installer calls that follow. A registration this run created is remembered.
bool StartMSIServiceIfNeeded(int bootMode);

// Deletes the SafeBoot registration of the Windows Installer service when this run created it, so that later
// safe-mode boots are as they were; one that was there before stays.
void RemoveMSIServiceRegistration();
