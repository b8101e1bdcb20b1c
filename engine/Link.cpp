#include "engine/Link.h"

#include <cstdio>

namespace tarvo {

void StuffFrame(const Payload& payload, uint8_t* frame, uint16_t& frameLength)
{
    uint16_t count = 0;
    frame[0] = 0xAA;
    const int n = payload[0];
    for (int i = 1; i <= n; ++i) {
        if (payload[i] == 0xAA) {
            frame[2 + count] = 0xAA;
            ++count;
        }
        frame[2 + count] = payload[i];
        ++count;
    }
    frame[1] = static_cast<uint8_t>(count & 0xFF);
    frameLength = static_cast<uint16_t>(count + 2);
}

int EncodeCommand(const TargetCommand& command, Payload& payload)
{
    int n = 0;
    payload[++n] = command.cw;
    int code = kLinkOk;
    switch (command.cw) {
    case 7:
        payload[++n] = static_cast<uint8_t>(command.param1 >> 8);
        payload[++n] = static_cast<uint8_t>(command.param1 & 0xFF);
        payload[++n] = static_cast<uint8_t>(command.param2 & 0xFF);
        break;
    case 8: {
        const uint8_t count = static_cast<uint8_t>(command.param2 & 0xFF);
        payload[++n] = static_cast<uint8_t>(command.param1 >> 8);
        payload[++n] = static_cast<uint8_t>(command.param1 & 0xFF);
        payload[++n] = count;
        if (count > 64) {
            code = kLinkBadFormat;
            break;
        }
        for (int i = 0; i < count; ++i) {
            payload[++n] = static_cast<uint8_t>(command.words[i] >> 8);
            payload[++n] = static_cast<uint8_t>(command.words[i] & 0xFF);
        }
        break;
    }
    case 10:
        payload[++n] = static_cast<uint8_t>(command.param1 >> 8);
        payload[++n] = static_cast<uint8_t>(command.param1 & 0xFF);
        payload[++n] = static_cast<uint8_t>(command.param2 >> 8);
        payload[++n] = static_cast<uint8_t>(command.param2 & 0xFF);
        break;
    default:
        if (command.cw > 11)
            code = kLinkBadCommandWord;
        break;
    }
    payload[0] = static_cast<uint8_t>(n);
    return code;
}

int DecodeConfirmation(const Payload& payload, TargetConfirmation& confirmation)
{
    const int length = payload[0];
    confirmation.cw = payload[1];
    confirmation.result = payload[2];
    if (confirmation.cw > 11)
        return length == 2 ? kLinkBadCommandWord : kLinkBadFormat;

    int expected = 2;
    if (confirmation.result == 0) {
        switch (confirmation.cw) {
        case 0:
            confirmation.info = {payload[3], payload[4], payload[5]};
            expected = 5;
            break;
        case 1: case 2: case 3: case 6:
            confirmation.info[0] = payload[3];
            expected = 3;
            break;
        case 4: case 8: case 10:
            expected = 2;
            break;
        case 5: case 9: case 11:
            confirmation.value1 = static_cast<uint16_t>(payload[3] << 8 | payload[4]);
            confirmation.value2 = static_cast<uint16_t>(payload[5] << 8 | payload[6]);
            expected = 6;
            break;
        case 7: {
            const uint8_t count = payload[3];
            if (count > 64)
                return kLinkBadFormat;
            confirmation.count = count;
            for (int i = 0; i < count; ++i)
                confirmation.words[i] = static_cast<uint16_t>(payload[4 + 2 * i] << 8 | payload[5 + 2 * i]);
            expected = 3 + 2 * count;
            break;
        }
        default:
            break;
        }
    }
    return length == expected ? kLinkOk : kLinkBadFormat;
}

void FormatResultText(char* text, std::size_t size, const TargetConfirmation& confirmation)
{
    const int cw = confirmation.cw;
    switch (confirmation.result) {
    case 1: std::snprintf(text, size, "The target cannot execute the last command ! (CW=%d)", cw); break;
    case 2: std::snprintf(text, size, "The flash memory can't be erased ! (CW=%d)", cw); break;
    case 3: std::snprintf(text, size, "\rError while writing into the flash memory !"); break;
    case 4: std::snprintf(text, size, "Bad parameters ! (CW=%d)", cw); break;
    case 5: std::snprintf(text, size, "Address error in last command ! (CW=%d)", cw); break;
    case 6: std::snprintf(text, size, "Error in S records file !"); break;
    case 7: std::snprintf(text, size, "Flash not supported ! (CW=%d)", cw); break;
    case 9: std::snprintf(text, size, "The last command is unknown ! (CW=%d)", cw); break;
    default: std::snprintf(text, size, "Unexpected result (CW=%d, R=%d).", cw, confirmation.result); break;
    }
}

void FrameDecoder::Reset()
{
    m_inFrame = false;
    m_escape = false;
}

bool FrameDecoder::Put(uint8_t byte, Payload& payload)
{
    if (!m_inFrame) {
        if (byte == 0xAA) {
            m_escape = !m_escape;
            return false;
        }
        if (!m_escape)
            return false;  // between frames
        m_escape = false;
        m_count = 0;
        m_writePos = 1;
        m_remaining = byte;
        m_inFrame = true;
        if (m_remaining == 0) {
            // An empty frame is complete at its length byte; nothing is stored.
            payload[0] = 0;
            m_inFrame = false;
            return true;
        }
        return false;
    }

    if (byte == 0xAA) {
        if (m_escape) {
            payload[m_writePos++] = 0xAA;
            ++m_count;
            m_escape = false;
        } else {
            m_escape = true;
        }
    } else if (m_escape) {
        // A lone 0xAA followed by another byte: a new frame starts with this length.
        m_remaining = static_cast<uint16_t>(byte + 1);
        m_count = 0;
        m_writePos = 1;
        m_escape = false;
    } else {
        payload[m_writePos++] = byte;
        ++m_count;
    }
    --m_remaining;
    if (m_remaining == 0) {
        payload[0] = m_count;
        m_inFrame = false;
        m_escape = false;
        return true;
    }
    return false;
}

}  // namespace tarvo
