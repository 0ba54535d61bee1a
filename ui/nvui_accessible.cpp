#include "ui/nvui_accessible.h"

#include <oleacc.h>

#include <atomic>

namespace NvUI {
namespace {

using CreateStdAccessibleObjectFunction = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
using LresultFromObjectFunction = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);

// oleacc.dll is not one of the libraries Windows always takes from the system directory, and only a screen
// reader's request needs it: loaded then, from the system directory alone, and kept.
struct OleAcc {
    CreateStdAccessibleObjectFunction createStandard = nullptr;
    LresultFromObjectFunction lresultFromObject = nullptr;

    static const OleAcc& Instance()
    {
        static const OleAcc instance;
        return instance;
    }

private:
    OleAcc()
    {
        const HMODULE module = ::LoadLibraryExW(L"oleacc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module != nullptr) {
            createStandard = reinterpret_cast<CreateStdAccessibleObjectFunction>(
                reinterpret_cast<void*>(::GetProcAddress(module, "CreateStdAccessibleObject")));
            lresultFromObject = reinterpret_cast<LresultFromObjectFunction>(
                reinterpret_cast<void*>(::GetProcAddress(module, "LresultFromObject")));
        }
    }
};

bool IsSelf(const VARIANT& child)
{
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

HRESULT ReturnText(const std::wstring& text, BSTR* result)
{
    if (result == nullptr) {
        return E_POINTER;
    }
    *result = ::SysAllocString(text.c_str());
    return *result != nullptr ? S_OK : E_OUTOFMEMORY;
}

// The link as a screen reader sees it: the standard object of its window, with its own role, name, state and
// default action.
class LinkAccessible final : public IAccessible {
public:
    LinkAccessible(HWND window, IAccessible* standard, std::wstring name, UINT activateMessage)
        : m_window(window), m_standard(standard), m_name(std::move(name)), m_activateMessage(activateMessage)
    {
    }
    LinkAccessible(const LinkAccessible&) = delete;
    LinkAccessible& operator=(const LinkAccessible&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IAccessible) {
            *object = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --m_references;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return m_standard->GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override
    {
        return m_standard->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override
    {
        return m_standard->GetIDsOfNames(iid, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override
    {
        return m_standard->Invoke(id, iid, locale, flags, parameters, result, exception, argumentError);
    }

    // IAccessible: what makes it a link
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override
    {
        return IsSelf(child) ? ReturnText(m_name, name) : m_standard->get_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override
    {
        if (!IsSelf(child)) {
            return m_standard->get_accRole(child, role);
        }
        if (role == nullptr) {
            return E_POINTER;
        }
        role->vt = VT_I4;
        role->lVal = ROLE_SYSTEM_LINK;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override
    {
        const HRESULT result = m_standard->get_accState(child, state);
        if (FAILED(result) || !IsSelf(child) || state->vt != VT_I4) {
            return result;
        }
        state->lVal |= STATE_SYSTEM_LINKED | STATE_SYSTEM_FOCUSABLE;
        if (::GetFocus() == m_window) {
            state->lVal |= STATE_SYSTEM_FOCUSED;
        }
        return result;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override
    {
        return IsSelf(child) ? ReturnText(L"Jump", action) : m_standard->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override
    {
        if (!IsSelf(child)) {
            return m_standard->accDoDefaultAction(child);
        }
        // Posted: the caller may be inside a message of the window, and opening the link takes a while.
        return ::PostMessageW(m_window, m_activateMessage, 0, 0) ? S_OK : E_FAIL;
    }

    // IAccessible: the rest as for any window
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return m_standard->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override { return m_standard->get_accChildCount(count); }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override
    {
        return m_standard->get_accChild(child, object);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override
    {
        return m_standard->get_accValue(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override
    {
        return m_standard->get_accDescription(child, description);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override
    {
        return m_standard->get_accHelp(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override
    {
        return m_standard->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override
    {
        return m_standard->get_accKeyboardShortcut(child, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override { return m_standard->get_accFocus(child); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override
    {
        return m_standard->get_accSelection(children);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override
    {
        return m_standard->accSelect(flags, child);
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override
    {
        return m_standard->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override
    {
        return m_standard->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long left, long top, VARIANT* child) override
    {
        return m_standard->accHitTest(left, top, child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override
    {
        return m_standard->put_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override
    {
        return m_standard->put_accValue(child, value);
    }

private:
    ~LinkAccessible() { m_standard->Release(); }

    HWND m_window;
    IAccessible* m_standard; // owned: one reference
    std::wstring m_name;
    UINT m_activateMessage;
    std::atomic<ULONG> m_references{1};
};

} // namespace

LRESULT AnswerLinkObject(HWND window, WPARAM flags, LPARAM objectId, const std::wstring& name, UINT activateMessage)
{
    // The object id arrives as a 32-bit value in the message's lParam.
    if (static_cast<LONG>(static_cast<DWORD>(objectId)) != OBJID_CLIENT) {
        return 0;
    }
    const OleAcc& oleAcc = OleAcc::Instance();
    if (oleAcc.createStandard == nullptr || oleAcc.lresultFromObject == nullptr) {
        return 0;
    }
    IAccessible* standard = nullptr;
    if (FAILED(oleAcc.createStandard(window, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&standard))) ||
        standard == nullptr) {
        return 0;
    }
    auto* link = new LinkAccessible(window, standard, name, activateMessage);
    const LRESULT result = oleAcc.lresultFromObject(IID_IAccessible, flags, link);
    // LresultFromObject holds its own reference while the caller has not fetched the object yet.
    link->Release();
    // A failure comes back as a negative HRESULT: then the window answers as it would without us.
    return result > 0 ? result : 0;
}

} // namespace NvUI
