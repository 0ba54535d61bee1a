#include "ui/nvui_graphics.h"

#include <objidl.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>

namespace NvUI {
namespace {

using namespace Gdiplus::DllExports;

const wchar_t* FaceForWeight(int weight)
{
    if (weight <= 200) {
        return L"Segoe UI Light";
    }
    if (weight < 600) {
        // The semilight face arrived with Windows 8.
        return weight <= 300 && IsWindowsVersionOrLater(6, 2) ? L"Segoe UI Semilight" : L"Segoe UI";
    }
    return L"Segoe UI Semibold";
}

std::atomic<UINT> g_uiDpi{0};

// Frees the stream when the last reference goes.
struct StreamRelease {
    void operator()(IStream* stream) const { stream->Release(); }
};

} // namespace

WindowDc::~WindowDc()
{
    if (m_dc != nullptr) {
        ::ReleaseDC(m_window, m_dc);
    }
}

PaintDc::~PaintDc()
{
    if (m_dc != nullptr) {
        ::EndPaint(m_window, &m_paint);
    }
}

SelectedObject::SelectedObject(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(::SelectObject(dc, object))
{
    // A failed selection changed nothing and leaves nothing to restore.
    if (m_previous == nullptr || m_previous == HGDI_ERROR) {
        m_dc = nullptr;
        m_previous = nullptr;
    }
}

SelectedObject::~SelectedObject()
{
    Restore();
}

SelectedObject::SelectedObject(SelectedObject&& other) noexcept
    : m_dc(std::exchange(other.m_dc, nullptr)), m_previous(std::exchange(other.m_previous, nullptr))
{
}

SelectedObject& SelectedObject::operator=(SelectedObject&& other) noexcept
{
    if (this != &other) {
        Restore();
        m_dc = std::exchange(other.m_dc, nullptr);
        m_previous = std::exchange(other.m_previous, nullptr);
    }
    return *this;
}

void SelectedObject::Select(HGDIOBJ object) const
{
    if (m_dc != nullptr) {
        ::SelectObject(m_dc, object);
    }
}

void SelectedObject::Restore()
{
    if (m_dc != nullptr) {
        ::SelectObject(m_dc, m_previous);
        m_dc = nullptr;
        m_previous = nullptr;
    }
}

bool IsWindowsVersionOrLater(DWORD major, DWORD minor)
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = major;
    version.dwMinorVersion = minor;
    version.wServicePackMajor = 0;
    DWORDLONG condition = 0;
    condition = ::VerSetConditionMask(condition, VER_MAJORVERSION, VER_GREATER_EQUAL);
    condition = ::VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
    condition = ::VerSetConditionMask(condition, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return ::VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, condition) !=
           FALSE;
}

UINT ScreenDpi()
{
    const WindowDc screen(nullptr);
    return static_cast<UINT>(::GetDeviceCaps(screen.Get(), LOGPIXELSY));
}

UINT UiDpi()
{
    const UINT dpi = g_uiDpi.load();
    return dpi != 0 ? dpi : ScreenDpi();
}

void SetUiDpi(UINT dpi)
{
    g_uiDpi = dpi;
}

int PointsToPixels(int points)
{
    return ::MulDiv(points, static_cast<int>(UiDpi()), 72);
}

UiFont::UiFont(int points, int weight, unsigned styleBits)
    : m_points(points), m_weight(weight), m_styleBits(styleBits), m_dpi(UiDpi()),
      m_font(CreateUiFont(points, weight, styleBits))
{
}

UniqueFont UiFont::Rescale()
{
    const UINT dpi = UiDpi();
    if (dpi == m_dpi) {
        return UniqueFont();
    }
    m_dpi = dpi;
    return std::exchange(m_font, CreateUiFont(m_points, m_weight, m_styleBits));
}

UniqueFont CreateUiFont(int points, int weight, unsigned styleBits)
{
    return UniqueFont(::CreateFontW(-PointsToPixels(points), 0, 0, 0, weight, (styleBits & FontItalic) != 0,
                                    (styleBits & FontUnderline) != 0, (styleBits & FontStrikeOut) != 0, DEFAULT_CHARSET,
                                    OUT_OUTLINE_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                    FF_SWISS | DEFAULT_PITCH, FaceForWeight(weight)));
}

Picture LoadImageResource(HINSTANCE instance, unsigned id, const wchar_t* type)
{
    const HRSRC resource = ::FindResourceW(instance, MAKEINTRESOURCEW(id), type);
    if (resource == nullptr) {
        return {};
    }
    const HGLOBAL loaded = ::LoadResource(instance, resource);
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    const DWORD size = ::SizeofResource(instance, resource);
    if (bytes == nullptr || size == 0) {
        return {};
    }
    // The stream takes the block over and frees it on release.
    const HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, size);
    if (block == nullptr) {
        return {};
    }
    void* copy = ::GlobalLock(block);
    if (copy == nullptr) {
        ::GlobalFree(block);
        return {};
    }
    std::memcpy(copy, bytes, size);
    ::GlobalUnlock(block);
    IStream* rawStream = nullptr;
    if (FAILED(::CreateStreamOnHGlobal(block, TRUE, &rawStream))) {
        ::GlobalFree(block);
        return {};
    }
    const std::unique_ptr<IStream, StreamRelease> stream(rawStream);
    Gdiplus::GpImage* image = nullptr;
    if (GdipLoadImageFromStream(stream.get(), &image) != Gdiplus::Ok || image == nullptr) {
        return {};
    }
    return Picture(image, [](Gdiplus::GpImage* owned) { GdipDisposeImage(owned); });
}

namespace GdiPlus {

std::shared_ptr<Instance> Instance::Acquire()
{
    static std::mutex lock;
    static std::weak_ptr<Instance> running;
    const std::lock_guard<std::mutex> guard(lock);
    std::shared_ptr<Instance> instance = running.lock();
    if (!instance) {
        instance.reset(new Instance());
        running = instance;
    }
    return instance;
}

Instance::Instance()
{
    const Gdiplus::GdiplusStartupInput input(nullptr, FALSE, FALSE);
    if (Gdiplus::GdiplusStartup(&m_token, &input, nullptr) != Gdiplus::Ok) {
        m_token = 0;
    }
}

Instance::~Instance()
{
    if (m_token != 0) {
        Gdiplus::GdiplusShutdown(m_token);
    }
}

} // namespace GdiPlus
} // namespace NvUI
