// PrefaultedBuffer: a block of memory whose pages are all present from the start.
//
// An engine's working buffers (the line, byte and image read buffers, a few hundred KiB) are
// touched page by page as the first long image line goes through them. Each first touch is a
// page fault, and on a virtual machine a fault costs about as much as three pages made present
// in one go: mapping the block with MAP_POPULATE does that in the same system call that
// allocates it. The memory is zeroed by the system. Where the mapping cannot be made present
// at once, the pages come on first touch as usual; where it cannot be made at all, the
// constructor throws std::bad_alloc, as new would.
//
// Threading: a plain owned block; the owner decides who writes where.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo {

class PrefaultedBuffer {
public:
    explicit PrefaultedBuffer(std::size_t bytes);
    ~PrefaultedBuffer();
    PrefaultedBuffer(const PrefaultedBuffer&) = delete;
    PrefaultedBuffer& operator=(const PrefaultedBuffer&) = delete;

    uint8_t* Data() const { return m_data; }
    std::size_t Size() const { return m_size; }

private:
    uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
};

}  // namespace tarvo
