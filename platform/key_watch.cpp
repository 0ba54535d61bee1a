#include "platform/key_watch.h"

namespace {

constexpr DWORD kWatchFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

} // namespace

bool KeyWatch::Arm(HKEY root, const std::wstring& path, DWORD flags)
{
    Disarm();
    UniqueKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_NOTIFY | flags, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    UniqueEvent event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (event.get() == nullptr ||
        ::RegNotifyChangeKeyValue(key.get(), TRUE, kWatchFilter, event.get(), TRUE) != ERROR_SUCCESS) {
        return false;
    }
    m_key = std::move(key);
    m_event = std::move(event);
    return true;
}

bool KeyWatch::Changed() const
{
    return !IsArmed() || ::WaitForSingleObject(m_event.get(), 0) != WAIT_TIMEOUT;
}

void KeyWatch::Rearm()
{
    // A notification that has not fired is still armed.
    if (!Changed()) {
        return;
    }
    ::ResetEvent(m_event.get());
    if (::RegNotifyChangeKeyValue(m_key.get(), TRUE, kWatchFilter, m_event.get(), TRUE) != ERROR_SUCCESS) {
        Disarm();
    }
}

void KeyWatch::Disarm()
{
    m_key.reset();
    m_event.reset();
}
