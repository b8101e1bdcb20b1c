// Fuzzes the receive side of the command link: arbitrary bytes through the frame decoder, every
// completed frame through the confirmation decoder and the result texts; and checks that any
// payload whose stuffed form fits the length byte (and whose length is not 0xAA) survives
// stuffing and decoding unchanged.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/Link.h"

using namespace tarvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FrameDecoder decoder;
    decoder.Reset();
    Payload payload{};
    for (size_t i = 0; i < size; ++i) {
        if (decoder.Put(data[i], payload)) {
            TargetConfirmation confirmation;
            int code = DecodeConfirmation(payload, confirmation);
            if (code != kLinkOk && code != kLinkBadFormat && code != kLinkBadCommandWord)
                std::abort();
            char text[kMessageChars];
            FormatResultText(text, sizeof text, confirmation);
            if (std::strlen(text) >= sizeof text)
                std::abort();
        }
    }

    // Round trip: the input as one payload.
    Payload sent{};
    size_t n = size < 255 ? size : 255;
    sent[0] = static_cast<uint8_t>(n);
    std::memcpy(&sent[1], data, n);
    uint8_t frame[2 + 2 * 255];
    uint16_t length = 0;
    StuffFrame(sent, frame, length);
    // A stuffed length of 0xAA cannot be told from a doubled 0xAA: such a frame cannot be sent
    // (the station's commands are at most 5 bytes long).
    if (length - 2 <= 255 && frame[1] != 0xAA) {
        FrameDecoder roundTrip;
        Payload received{};
        bool complete = false;
        for (uint16_t i = 0; i < length; ++i) {
            complete = roundTrip.Put(frame[i], received);
            if (complete && i + 1 != length)
                std::abort();  // completed early
        }
        if (!complete || received[0] != n || std::memcmp(&received[1], &sent[1], n) != 0)
            std::abort();
    }
    return 0;
}
