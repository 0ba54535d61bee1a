#pragma once

#include <windows.h>

#include <string>

namespace NvUI {

// Answers WM_GETOBJECT for a control that is a link: screen readers learn the role "link", the link's text as its
// name and "Jump" as its default action, which posts activateMessage to the window. Everything else comes from
// the system's standard object for the window. 0 when the request is for another object or accessibility
// support cannot be loaded.
LRESULT AnswerLinkObject(HWND window, WPARAM flags, LPARAM objectId, const std::wstring& name, UINT activateMessage);

} // namespace NvUI
