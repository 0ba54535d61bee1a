// Removes one directory tree with the forced recursive removal and prints how long the removal itself took;
// bench/remove-tree runs it against "rmdir /s /q".
#include "platform/file_ops.h"

#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: platform_remove_tree_bench DIRECTORY\n");
        return 2;
    }
    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    const bool removed = FileOps::RemoveRecursive(argv[1]).done;
    ::QueryPerformanceCounter(&end);
    std::printf("RemoveRecursive: %s in %.3f s\n", removed ? "removed" : "FAILED",
                static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    return removed ? 0 : 1;
}
