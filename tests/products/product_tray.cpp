// Stands in for a product's tray application: a windowless process that runs until it is ended.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int)
{
    ::Sleep(INFINITE);
    return 0;
}
