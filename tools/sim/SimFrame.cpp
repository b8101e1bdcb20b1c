#include "tools/sim/SimFrame.h"

namespace tarvo::sim {

namespace {
constexpr uint8_t kFrameStart = 0xAA;
}

std::vector<uint8_t> EncodeFrame(const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> frame{kFrameStart, 0};
    for (uint8_t b : payload) {
        if (b == kFrameStart)
            frame.push_back(kFrameStart);
        frame.push_back(b);
    }
    const std::size_t raw = frame.size() - 2;
    if (raw > 255)
        return {};
    frame[1] = static_cast<uint8_t>(raw);
    return frame;
}

void FrameReader::Reset()
{
    m_inFrame = false;
    m_pendingAA = false;
    m_rawLeft = 0;
    m_collected.clear();
}

bool FrameReader::Put(uint8_t byte, std::vector<uint8_t>& payload)
{
    if (byte == kFrameStart) {
        if (m_pendingAA) {
            // A doubled 0xAA: a data byte inside a frame, nothing outside one.
            m_pendingAA = false;
            if (m_inFrame) {
                m_collected.push_back(kFrameStart);
                m_rawLeft -= 2;
            }
        } else {
            m_pendingAA = true;
        }
    } else if (m_pendingAA) {
        // A lone 0xAA: this byte is the length of a new frame, whatever was open.
        m_pendingAA = false;
        m_inFrame = true;
        m_rawLeft = byte;
        m_collected.clear();
    } else if (m_inFrame) {
        m_collected.push_back(byte);
        --m_rawLeft;
    } else {
        return false;  // junk between frames
    }

    // A frame ends when its raw count is used up. A count that ends on the first half of a
    // doubled 0xAA (only a broken sender does that) ends the frame there, the 0xAA unstored.
    if (m_inFrame && !m_pendingAA && m_rawLeft <= 0) {
        payload = std::move(m_collected);
        Reset();
        return true;
    }
    if (m_inFrame && m_pendingAA && m_rawLeft == 1) {
        payload = std::move(m_collected);
        Reset();
        return true;
    }
    return false;
}

}  // namespace tarvo::sim
