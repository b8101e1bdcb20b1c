// ImageReader: the download image a line at a time, read in large blocks and handed out where
// it lies in the reader's buffer, without a copy per line.
//
// Lines are cut exactly as fgets with a buffer of kLineBufferChars cuts them: up to and
// including the first LF, or the first kMaxLineChars characters of a longer line (the rest
// follows as the next piece), or what is left at the end of the file. Image lines are tens of
// KiB long; copying each of them out of a stdio buffer cost as much as converting it.
//
// Threading: one thread at a time (the download thread). The buffer and the descriptor belong
// to the caller and must outlive the reader's use of them.
#pragma once

#include <cstddef>

namespace tarvo {

class ImageReader {
public:
    // The smallest buffer: one longest piece and room to read behind it.
    static constexpr std::size_t kMinimumCapacity = 2 * 65536;

    ImageReader(char* buffer, std::size_t capacity);
    // Starts over on `fd` from where the descriptor stands (the start of a freshly opened file).
    void Reset(int fd);

    enum class Next { Line, End, Error };
    // The next line: `line` points into the buffer and stays valid until the next call;
    // `length` counts its characters, its LF included. End: the file is exhausted. Error: a
    // read failed (errno tells why); the line is lost, as with fgets.
    Next Read(const char*& line, std::size_t& length);
    // Characters handed out so far: the file offset after the last line.
    long Position() const { return m_position; }

private:
    char* m_buffer;
    std::size_t m_capacity;
    int m_fd = -1;
    std::size_t m_begin = 0;  // first character not handed out
    std::size_t m_end = 0;    // end of the characters read
    bool m_eof = false;
    long m_position = 0;
};

}  // namespace tarvo
