// The handset's side of the frame format, written independently of the station's link code
// so that tests of the two cross-check each other.
//
// Frame: 0xAA, length byte (the number of raw bytes that follow, counted after stuffing),
// payload with every 0xAA doubled. No checksum. While no frame is open, a pair 0xAA 0xAA is
// nothing; a lone 0xAA followed by another byte opens a frame whose length is that byte, also
// in the middle of a frame (the frame collected so far is dropped).
//
// Threading: pure values; one decoder per thread.
#pragma once

#include <cstdint>
#include <vector>

namespace tarvo::sim {

// The frame bytes for `payload` (0xAA, length, stuffed payload). A payload whose stuffed form
// exceeds 255 bytes cannot be framed: the result is empty.
std::vector<uint8_t> EncodeFrame(const std::vector<uint8_t>& payload);

class FrameReader {
public:
    // Feeds one received byte. True when it completed a frame; `payload` then holds it.
    // A length byte of 0 completes an empty payload at once.
    bool Put(uint8_t byte, std::vector<uint8_t>& payload);
    // Forgets any half-received frame.
    void Reset();
    bool InFrame() const { return m_inFrame; }

private:
    bool m_inFrame = false;
    bool m_pendingAA = false;  // the previous raw byte was an unpaired 0xAA
    int m_rawLeft = 0;         // raw bytes of the open frame still to come
    std::vector<uint8_t> m_collected;
};

}  // namespace tarvo::sim
