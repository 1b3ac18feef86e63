// THandle: one move-only owner for every Win32 resource that has its own closer, with the
// traits and aliases of the kinds the programs use (kernel handles, registry keys, menus, GDI
// objects, memory DCs, icons, file mappings and their views, directory searches).
#pragma once

#include <windows.h>

#include <utility>

namespace win32 {

// Traits: the stored type, the value that means "nothing" and the closer. IsValid decides
// whether Close runs, so kinds with two failure values (HANDLE) need no special case elsewhere.
template <typename Traits> class THandle {
  public:
    using Type = typename Traits::Type;

    THandle() noexcept = default;
    // Takes over `value`; an invalid one leaves the owner empty.
    explicit THandle(Type value) noexcept : value_(value) {}
    ~THandle() { Reset(); }

    THandle(THandle&& other) noexcept : value_(other.Release()) {}
    THandle& operator=(THandle&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;

    Type Get() const noexcept { return value_; }
    bool IsValid() const noexcept { return Traits::IsValid(value_); }
    explicit operator bool() const noexcept { return IsValid(); }

    // Gives the value up without closing it.
    Type Release() noexcept { return std::exchange(value_, Traits::Invalid()); }
    // Closes the current value (if valid) and takes `value`.
    void Reset(Type value = Traits::Invalid()) noexcept {
        const Type old = std::exchange(value_, value);
        if (Traits::IsValid(old))
            Traits::Close(old);
    }
    // For out parameters: closes the current value and returns where the new one goes.
    Type* Put() noexcept {
        Reset();
        return &value_;
    }

  private:
    Type value_ = Traits::Invalid();
};

// Kernel objects: CreateFile and FindFirstChangeNotification fail with INVALID_HANDLE_VALUE,
// most others with NULL; both mean "nothing".
struct TKernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type value) noexcept {
        return value != nullptr && value != INVALID_HANDLE_VALUE;
    }
    static void Close(Type value) noexcept { ::CloseHandle(value); }
};

// FindFirstFile handles are closed by FindClose, never by CloseHandle.
struct TFindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Type value) noexcept {
        return value != nullptr && value != INVALID_HANDLE_VALUE;
    }
    static void Close(Type value) noexcept { ::FindClose(value); }
};

// Keys opened or created by the program; the predefined roots (HKEY_CURRENT_USER...) are never
// put in an owner.
struct TKeyHandleTraits {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type value) noexcept { return value != nullptr; }
    static void Close(Type value) noexcept { ::RegCloseKey(value); }
};

// Menus not attached to a window (a window destroys its own menu bar).
struct TMenuTraits {
    using Type = HMENU;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type value) noexcept { return value != nullptr; }
    static void Close(Type value) noexcept { ::DestroyMenu(value); }
};

// Fonts, bitmaps, brushes, pens: anything DeleteObject frees. Not while selected into a DC.
template <typename T> struct TGdiObjectTraits {
    using Type = T;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type value) noexcept { return value != nullptr; }
    static void Close(Type value) noexcept { ::DeleteObject(value); }
};

// Memory device contexts (CreateCompatibleDC); a window's DC from GetDC goes back with ReleaseDC.
struct TMemoryDcTraits {
    using Type = HDC;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type value) noexcept { return value != nullptr; }
    static void Close(Type value) noexcept { ::DeleteDC(value); }
};

// Icons the program made (CreateIconIndirect, LoadImage without LR_SHARED). Shared icons from
// LoadIcon belong to the system and are never put in an owner.
struct TIconTraits {
    using Type = HICON;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type value) noexcept { return value != nullptr; }
    static void Close(Type value) noexcept { ::DestroyIcon(value); }
};

// A mapped view of a file mapping (MapViewOfFile returns NULL on failure).
struct TMappedViewTraits {
    using Type = void*;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type value) noexcept { return value != nullptr; }
    static void Close(Type value) noexcept { ::UnmapViewOfFile(value); }
};

using TKernelHandle = THandle<TKernelHandleTraits>;
// CreateFileMapping and OpenFileMapping give kernel handles; the alias says what is held.
using TFileMapping = TKernelHandle;
using TMappedView = THandle<TMappedViewTraits>;
using TFindHandle = THandle<TFindHandleTraits>;
using TKeyHandle = THandle<TKeyHandleTraits>;
using TMenu = THandle<TMenuTraits>;
template <typename T> using TGdiObject = THandle<TGdiObjectTraits<T>>;
using TFont = TGdiObject<HFONT>;
using TBitmap = TGdiObject<HBITMAP>;
using TBrush = TGdiObject<HBRUSH>;
using TIcon = THandle<TIconTraits>;
using TMemoryDc = THandle<TMemoryDcTraits>;

} // namespace win32
