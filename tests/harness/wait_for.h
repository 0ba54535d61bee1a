#pragma once

// Polling with a deadline for the GoogleTest programs: for state that Windows reaches on its own schedule after the
// call that starts it has returned (a service deleted once its last handle and process are gone, a process's exit,
// a window's repaint). Never a fixed sleep standing in for "long enough".

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

namespace NvTest {

// Calls `observe` until it returns true or `deadlineMs` have passed. `observe` is either bool() or
// bool(std::string& seen), filling `seen` with what it found; a time-out fails with what was awaited and what was
// seen last. Use as EXPECT_TRUE(WaitFor(...)).
template <typename Observe>
::testing::AssertionResult WaitFor(DWORD deadlineMs, const std::string& awaited, Observe observe)
{
    const ULONGLONG start = ::GetTickCount64();
    std::string seen;
    for (;;) {
        seen.clear();
        bool reached;
        if constexpr (std::is_invocable_r_v<bool, Observe, std::string&>) {
            reached = observe(seen);
        } else {
            reached = observe();
        }
        if (reached) {
            return ::testing::AssertionSuccess();
        }
        if (::GetTickCount64() - start >= deadlineMs) {
            return ::testing::AssertionFailure() << "waited " << deadlineMs << " ms for " << awaited
                                                 << "; last seen: " << (seen.empty() ? "<nothing>" : seen);
        }
        ::Sleep(20);
    }
}

} // namespace NvTest
