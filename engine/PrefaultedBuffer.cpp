#include "engine/PrefaultedBuffer.h"

#include <new>
#include <sys/mman.h>

namespace tarvo {

PrefaultedBuffer::PrefaultedBuffer(std::size_t bytes) : m_size(bytes)
{
    void* block = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (block == MAP_FAILED)
        throw std::bad_alloc();
    m_data = static_cast<uint8_t*>(block);
}

PrefaultedBuffer::~PrefaultedBuffer()
{
    ::munmap(m_data, m_size);
}

}  // namespace tarvo
