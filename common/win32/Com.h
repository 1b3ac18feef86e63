// COM ownership: TComPtr holds one reference to an interface, TComScope and TOleScope pair a
// successful CoInitializeEx or OleInitialize with its uninitialise on the same thread.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <ole2.h>

#include <utility>

#include "common/win32/Handle.h"

namespace win32 {

// Move-only like every owner here: a second reference is taken on purpose with AddRefed.
template <typename T> class TComPtr {
  public:
    TComPtr() noexcept = default;
    // Takes over a reference the caller owns (the result of CreateInstance, QueryInterface...).
    explicit TComPtr(T* pointer) noexcept : pointer_(pointer) {}
    ~TComPtr() { Reset(); }

    TComPtr(TComPtr&& other) noexcept : pointer_(other.Detach()) {}
    TComPtr& operator=(TComPtr&& other) noexcept {
        if (this != &other)
            Reset(other.Detach());
        return *this;
    }
    TComPtr(const TComPtr&) = delete;
    TComPtr& operator=(const TComPtr&) = delete;

    // A reference of its own to a pointer someone else keeps (an argument kept beyond the call).
    static TComPtr AddRefed(T* pointer) noexcept {
        if (pointer != nullptr)
            pointer->AddRef();
        return TComPtr(pointer);
    }

    T* Get() const noexcept { return pointer_; }
    T* operator->() const noexcept { return pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }

    // Gives the reference up without releasing it.
    T* Detach() noexcept { return std::exchange(pointer_, nullptr); }
    void Reset(T* pointer = nullptr) noexcept {
        T* old = std::exchange(pointer_, pointer);
        if (old != nullptr)
            old->Release();
    }
    // For out parameters: releases the current reference and returns where the new one goes.
    T** Put() noexcept {
        Reset();
        return &pointer_;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

    // QueryInterface for U into `out` (emptied first); E_POINTER when this one is empty.
    template <typename U> HRESULT As(TComPtr<U>& out) const noexcept {
        out.Reset();
        if (pointer_ == nullptr)
            return E_POINTER;
        return pointer_->QueryInterface(__uuidof(U), out.PutVoid());
    }

  private:
    T* pointer_ = nullptr;
};

// The result of CoInitializeEx or OleInitialize. S_OK and S_FALSE (already initialised on this
// thread) both need their uninitialise; a failure such as RPC_E_CHANGED_MODE does not.
struct TComScopeTraits {
    using Type = HRESULT;
    static Type Invalid() noexcept { return CO_E_NOTINITIALIZED; }
    static bool IsValid(Type value) noexcept { return SUCCEEDED(value); }
    static void Close(Type) noexcept { ::CoUninitialize(); }
};

struct TOleScopeTraits {
    using Type = HRESULT;
    static Type Invalid() noexcept { return CO_E_NOTINITIALIZED; }
    static bool IsValid(Type value) noexcept { return SUCCEEDED(value); }
    static void Close(Type) noexcept { ::OleUninitialize(); }
};

// win32::TComScope com(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); Get() is the result.
// Ends on the thread that began it: never move one to another thread.
using TComScope = THandle<TComScopeTraits>;
using TOleScope = THandle<TOleScopeTraits>;

} // namespace win32
