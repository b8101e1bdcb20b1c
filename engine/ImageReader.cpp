#include "engine/ImageReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "engine/ImageConverter.h"

namespace tarvo {

static_assert(ImageReader::kMinimumCapacity > static_cast<std::size_t>(kMaxLineChars));

ImageReader::ImageReader(char* buffer, std::size_t capacity) : m_buffer(buffer), m_capacity(capacity)
{
}

void ImageReader::Reset(int fd)
{
    m_fd = fd;
    m_begin = 0;
    m_end = 0;
    m_eof = false;
    m_position = 0;
}

ImageReader::Next ImageReader::Read(const char*& line, std::size_t& length)
{
    constexpr auto kMaxPiece = static_cast<std::size_t>(kMaxLineChars);
    for (;;) {
        const std::size_t available = m_end - m_begin;
        const std::size_t window = std::min(available, kMaxPiece);
        if (const void* lf = std::memchr(m_buffer + m_begin, '\n', window)) {
            length = static_cast<std::size_t>(static_cast<const char*>(lf) - (m_buffer + m_begin)) + 1;
            break;
        }
        if (available >= kMaxPiece) {
            length = kMaxPiece;
            break;
        }
        if (m_eof) {
            if (available == 0)
                return Next::End;
            length = available;
            break;
        }
        // The line goes on beyond what was read: its start moves to the front of the buffer
        // (one copy per block read, not per line) and the rest of the buffer is filled.
        if (m_begin > 0) {
            std::memmove(m_buffer, m_buffer + m_begin, available);
            m_begin = 0;
            m_end = available;
        }
        ssize_t n;
        do {
            n = ::read(m_fd, m_buffer + m_end, m_capacity - m_end);
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            return Next::Error;
        if (n == 0)
            m_eof = true;
        m_end += static_cast<std::size_t>(n);
    }
    line = m_buffer + m_begin;
    m_begin += length;
    m_position += static_cast<long>(length);
    return Next::Line;
}

}  // namespace tarvo
