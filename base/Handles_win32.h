// Owning wrappers for Win32 resources and guards for the GDI calls that must
// be undone in pairs. The validity rule of each kind of handle sits in a
// traits type, so one move-only wrapper serves them all.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <utility>

namespace upd {

/// Kernel handles that are null when invalid (threads, events, processes).
struct TKernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};

/// File handles, invalid as INVALID_HANDLE_VALUE.
struct TFileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};

/// Fonts, brushes, bitmaps and other GDI objects.
template <class T>
struct TGdiObjectTraits {
    using Type = T;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DeleteObject(h); }
};

/// Memory device contexts (CreateCompatibleDC): deleted, not released.
struct TMemoryDcTraits {
    using Type = HDC;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DeleteDC(h); }
};

/// Top-level windows that the program creates and must destroy.
struct TWindowTraits {
    using Type = HWND;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept
    {
        if (::IsWindow(h))
            ::DestroyWindow(h);
    }
};

/// Owns one handle; move-only; closed on destruction.
template <class Traits>
class TUniqueHandle {
public:
    using Type = typename Traits::Type;

    TUniqueHandle() noexcept = default;
    explicit TUniqueHandle(Type h) noexcept : m_handle(h) {}
    ~TUniqueHandle() { Reset(); }
    TUniqueHandle(TUniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    TUniqueHandle& operator=(TUniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;

    Type Get() const noexcept { return m_handle; }
    bool IsValid() const noexcept { return m_handle != Traits::Invalid(); }
    explicit operator bool() const noexcept { return IsValid(); }

    /// Gives up ownership without closing.
    Type Release() noexcept { return std::exchange(m_handle, Traits::Invalid()); }
    void Reset(Type h = Traits::Invalid()) noexcept
    {
        Type old = std::exchange(m_handle, h);
        if (old != Traits::Invalid())
            Traits::Close(old);
    }

private:
    Type m_handle = Traits::Invalid();
};

using TKernelHandle = TUniqueHandle<TKernelHandleTraits>;
using TFileHandle = TUniqueHandle<TFileHandleTraits>;
using TFontHandle = TUniqueHandle<TGdiObjectTraits<HFONT>>;
using TBrushHandle = TUniqueHandle<TGdiObjectTraits<HBRUSH>>;
using TBitmapHandle = TUniqueHandle<TGdiObjectTraits<HBITMAP>>;
using TWindowHandle = TUniqueHandle<TWindowTraits>;
using TMemoryDc = TUniqueHandle<TMemoryDcTraits>;

/// BeginPaint ... EndPaint.
class TPaintGuard {
public:
    explicit TPaintGuard(HWND window) : m_window(window) { m_dc = ::BeginPaint(window, &m_paint); }
    ~TPaintGuard() { ::EndPaint(m_window, &m_paint); }
    TPaintGuard(const TPaintGuard&) = delete;
    TPaintGuard& operator=(const TPaintGuard&) = delete;

    HDC Dc() const noexcept { return m_dc; }
    const RECT& Area() const noexcept { return m_paint.rcPaint; }

private:
    HWND m_window;
    PAINTSTRUCT m_paint{};
    HDC m_dc = nullptr;
};

/// Selects an object into a DC and puts the previous one back.
class TSelectGuard {
public:
    TSelectGuard(HDC dc, HGDIOBJ object) : m_dc(dc), m_old(::SelectObject(dc, object)) {}
    ~TSelectGuard()
    {
        if (m_old)
            ::SelectObject(m_dc, m_old);
    }
    TSelectGuard(const TSelectGuard&) = delete;
    TSelectGuard& operator=(const TSelectGuard&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_old;
};

/// A screen DC for measuring, released on destruction.
class TScreenDc {
public:
    TScreenDc() : m_dc(::GetDC(nullptr)) {}
    ~TScreenDc() { ::ReleaseDC(nullptr, m_dc); }
    TScreenDc(const TScreenDc&) = delete;
    TScreenDc& operator=(const TScreenDc&) = delete;
    HDC Dc() const noexcept { return m_dc; }

private:
    HDC m_dc;
};

} // namespace upd
