// The command link's pure parts: frames, command encoding, confirmation decoding and the
// texts of failed exchanges. The exchanges themselves (SendFrame, WaitFrame, ExecuteCommand)
// are operations of the port engine, which owns the channel and the link state.
//
// Frame: 0xAA, length L (raw bytes that follow, after stuffing), payload with every 0xAA sent
// twice. No checksum. Multi-byte values are big-endian.
//
// Payload buffer: 256 bytes; byte 0 holds the payload length n, bytes 1..n the payload.
//
// Threading: everything here is reentrant; a FrameDecoder belongs to one thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarvo {

using Payload = std::array<uint8_t, 256>;

inline constexpr int kTransmitFrameBytes = 512;
inline constexpr int kMessageChars = 256;

struct TargetCommand {
    uint8_t cw = 0;        // command word 0..11
    uint16_t param1 = 0;   // CW 7, 8, 10
    uint16_t param2 = 0;   // CW 10; low byte: CW 7's one-byte parameter, CW 8's word count
    std::array<uint16_t, 64> words{};  // CW 8
};

struct TargetConfirmation {
    uint8_t cw = 0;
    uint8_t result = 0;
    std::array<uint8_t, 3> info{};  // CW 0 (three bytes); CW 1, 2, 3, 6 (the first)
    uint16_t value1 = 0;            // CW 5, 9, 11
    uint16_t value2 = 0;
    uint8_t count = 0;              // CW 7
    std::array<uint16_t, 64> words{};
};

// Codes of EncodeCommand and DecodeConfirmation.
inline constexpr int kLinkOk = 0;
inline constexpr int kLinkBadFormat = 4;
inline constexpr int kLinkBadCommandWord = 9;

// Stuffs `payload` into `frame` (room for 2 + 2 * 255 bytes); `frameLength` gets the number
// of frame bytes. The length byte holds the low 8 bits of the stuffed count.
void StuffFrame(const Payload& payload, uint8_t* frame, uint16_t& frameLength);

// 0 ok; 9 command word above 11 (payload holds the command word alone); 4 CW 8 with a word
// count above 64 (payload stops after the count byte).
int EncodeCommand(const TargetCommand& command, Payload& payload);

// 0 ok; 4 length wrong for the command word and result (or CW 7 count above 64); 9 command
// word above 11 with a 2-byte payload (4 for any other length).
int DecodeConfirmation(const Payload& payload, TargetConfirmation& confirmation);

// The result-code text of `confirmation.result` into `text` (NUL-terminated, at most
// `size` bytes).
void FormatResultText(char* text, std::size_t size, const TargetConfirmation& confirmation);

// The receive decoder: every received byte goes through Put. A frame that restarts, a lone
// 0xAA pair while hunting and bytes between frames are handled as the frame format requires; a length of
// 0 completes an empty payload at once.
class FrameDecoder {
public:
    void Reset();
    // True when `byte` completed a frame; `payload` then holds it.
    bool Put(uint8_t byte, Payload& payload);
    bool InFrame() const { return m_inFrame; }

private:
    bool m_inFrame = false;
    bool m_escape = false;
    uint16_t m_remaining = 0;
    int m_writePos = 1;
    uint8_t m_count = 0;
};

}  // namespace tarvo
