// Growth rule of the request, reply and data buffers.
#include "server/rpc/XdrBuffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace rpc {
namespace {

constexpr std::align_val_t kPageAlignment{4096};

std::uint8_t* AllocatePages(std::size_t size) {
    return static_cast<std::uint8_t*>(::operator new(size, kPageAlignment, std::nothrow));
}

void FreePages(std::uint8_t* data) {
    ::operator delete(data, kPageAlignment);
}

} // namespace

XdrBuffer::~XdrBuffer() {
    SetCapacity(*this, 0, 1);
}

bool SetCapacity(XdrBuffer& buffer, std::uint32_t size, std::uint32_t alignment) {
    if (size != 0 && buffer.capacity >= size)
        return true;
    std::uint64_t rounded = size;
    if (alignment > 1)
        rounded = (rounded + alignment - 1) / alignment * alignment;
    if (rounded > 0xFFFFFFFFull)
        return false;
    const auto newSize = static_cast<std::uint32_t>(rounded);

    std::uint8_t* newData = nullptr;
    if (newSize != 0) {
        newData = buffer.PageBacked() ? AllocatePages(newSize)
                                      : static_cast<std::uint8_t*>(std::malloc(newSize));
        if (newData == nullptr)
            return false; // the old contents stay usable
        const std::uint32_t keep = buffer.length < newSize ? buffer.length : newSize;
        if (keep != 0 && buffer.data != nullptr)
            std::memcpy(newData, buffer.data, keep);
    }
    if (buffer.data != nullptr) {
        if (buffer.PageBacked())
            FreePages(buffer.data);
        else
            std::free(buffer.data);
    }
    buffer.data = newData;
    buffer.capacity = newSize;
    return true;
}

} // namespace rpc
