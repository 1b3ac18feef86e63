// Move-only owners of the GDI objects the handler makes: bitmaps and memory device contexts.
#pragma once

#include <windows.h>

#include <utility>

namespace tavomenu {

template <typename Traits> class TOwner {
  public:
    using Type = typename Traits::Type;

    TOwner() noexcept = default;
    explicit TOwner(Type value) noexcept : value_(value) {}
    ~TOwner() { Reset(); }
    TOwner(TOwner&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
    TOwner& operator=(TOwner&& other) noexcept {
        if (this != &other)
            Reset(std::exchange(other.value_, nullptr));
        return *this;
    }
    TOwner(const TOwner&) = delete;
    TOwner& operator=(const TOwner&) = delete;

    Type Get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != nullptr; }
    void Reset(Type value = nullptr) noexcept {
        const Type old = std::exchange(value_, value);
        if (old != nullptr)
            Traits::Close(old);
    }

  private:
    Type value_ = nullptr;
};

struct TBitmapTraits {
    using Type = HBITMAP;
    static void Close(Type value) noexcept { ::DeleteObject(value); }
};

struct TMemoryDcTraits {
    using Type = HDC;
    static void Close(Type value) noexcept { ::DeleteDC(value); }
};

// Not while selected into a DC.
using TBitmap = TOwner<TBitmapTraits>;
using TMemoryDc = TOwner<TMemoryDcTraits>;

} // namespace tavomenu
