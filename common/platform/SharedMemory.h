// Named shared memory backed by the paging file: a Win32 file mapping of the local namespace,
// a POSIX shared-memory object (shm_open) elsewhere. Move-only; closing unmaps the view first.
// Failures leave a Win32 error code for LastFileError() (FileSystem.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform {

class SharedMemory {
  public:
    SharedMemory() = default;
    ~SharedMemory();
    SharedMemory(SharedMemory&& other) noexcept;
    SharedMemory& operator=(SharedMemory&& other) noexcept;
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    // Creates the block `name` of `size` committed bytes for reading and writing. When a block of
    // that name exists already, opens that one instead (its size stays what its creator gave)
    // and sets `alreadyExisted`. Windows destroys a block with its last handle; on POSIX the
    // creator removes the name when it closes, so later opens fail as they would on Windows.
    bool Create(std::u16string_view name, std::uint32_t size, bool& alreadyExisted);
    // Opens an existing block for reading only; kErrorFileNotFound when there is none.
    bool OpenReadOnly(std::u16string_view name);

    // Maps the whole block, writable when it was created here, read-only when opened.
    bool Map();
    void Unmap();
    void Close();

    bool IsOpen() const { return handle_ != kNoHandle; }
    bool IsMapped() const { return view_ != nullptr; }
    // The handle's numeric value, for diagnostic lines (0 when closed).
    std::uintptr_t HandleValue() const { return IsOpen() ? handle_ : 0; }
    const void* View() const { return view_; }
    void* WritableView() const { return writable_ ? view_ : nullptr; }
    // Bytes that may be touched through the view: the block's size on POSIX; on Windows the
    // mapped pages, whose part past the block reads as zeros.
    std::size_t ViewSize() const { return viewSize_; }

  private:
    static constexpr std::uintptr_t kNoHandle = ~std::uintptr_t{0};

    void MoveFrom(SharedMemory& other) noexcept;

    std::uintptr_t handle_ = kNoHandle; // HANDLE or file descriptor
    void* view_ = nullptr;
    std::size_t viewSize_ = 0;
    bool writable_ = false;
    void* state_ = nullptr; // POSIX: the name to remove on close, when created here
};

} // namespace platform
