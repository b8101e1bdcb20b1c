// The command link's frames, command encodings, confirmation decoding and result texts.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/Link.h"

using namespace tarvo;

namespace {

Payload P(std::initializer_list<uint8_t> bytes)
{
    Payload p{};
    p[0] = static_cast<uint8_t>(bytes.size());
    int i = 1;
    for (uint8_t b : bytes)
        p[i++] = b;
    return p;
}

std::vector<uint8_t> Stuff(const Payload& p)
{
    uint8_t frame[kTransmitFrameBytes + 2];
    uint16_t length = 0;
    StuffFrame(p, frame, length);
    return {frame, frame + length};
}

// Feeds bytes to a decoder; returns the payloads of the frames it completed.
std::vector<std::vector<uint8_t>> Decode(FrameDecoder& d, const std::vector<uint8_t>& bytes)
{
    std::vector<std::vector<uint8_t>> frames;
    Payload p{};
    for (uint8_t b : bytes)
        if (d.Put(b, p))
            frames.emplace_back(p.begin() + 1, p.begin() + 1 + p[0]);
    return frames;
}

}  // namespace

TEST(LinkFrames, WireExamples)
{
    EXPECT_EQ(Stuff(P({0x00})), (std::vector<uint8_t>{0xAA, 0x01, 0x00}));
    EXPECT_EQ(Stuff(P({0x0A, 0x00, 0x00, 0x10, 0x00})), (std::vector<uint8_t>{0xAA, 0x05, 0x0A, 0x00, 0x00, 0x10, 0x00}));
    EXPECT_EQ(Stuff(P({0x0A, 0x00, 0x00, 0x00, 0xAA})),
              (std::vector<uint8_t>{0xAA, 0x06, 0x0A, 0x00, 0x00, 0x00, 0xAA, 0xAA}));
}

TEST(LinkFrames, DecoderRoundTripsStuffedFramesWithGarbageBetween)
{
    FrameDecoder d;
    d.Reset();
    std::vector<uint8_t> wire = {0x13, 0x55, 0x00};
    auto f1 = Stuff(P({0x05, 0x00, 0xAA, 0x12, 0xAA, 0xAA}));
    auto f2 = Stuff(P({0x04, 0x00}));
    wire.insert(wire.end(), f1.begin(), f1.end());
    wire.insert(wire.end(), {0x01, 0x02});
    wire.insert(wire.end(), f2.begin(), f2.end());
    auto frames = Decode(d, wire);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], (std::vector<uint8_t>{0x05, 0x00, 0xAA, 0x12, 0xAA, 0xAA}));
    EXPECT_EQ(frames[1], (std::vector<uint8_t>{0x04, 0x00}));
}

TEST(LinkFrames, DecoderEdgeCases)
{
    {
        // AA AA cancel out while hunting: 05 is no length; the next lone AA starts the frame.
        FrameDecoder d;
        auto frames = Decode(d, {0xAA, 0xAA, 0x05, 0x01, 0xAA, 0x02, 0x04, 0x00});
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0], (std::vector<uint8_t>{0x04, 0x00}));
    }
    {
        // AA 07 inside a frame restarts it with length 7, dropping what was collected.
        FrameDecoder d;
        auto frames = Decode(d, {0xAA, 0x05, 0x01, 0x02, 0xAA, 0x07, 1, 2, 3, 4, 5, 6, 7});
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0], (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7}));
    }
    {
        // Length 0 completes an empty payload and writes nothing; the decoder goes on hunting.
        FrameDecoder d;
        Payload p{};
        p.fill(0x77);
        EXPECT_FALSE(d.Put(0xAA, p));
        EXPECT_TRUE(d.Put(0x00, p));
        EXPECT_EQ(p[0], 0);
        EXPECT_EQ(p[1], 0x77);
        EXPECT_FALSE(d.InFrame());
        std::vector<uint8_t> junk(600, 0x01);
        EXPECT_TRUE(Decode(d, junk).empty());
        EXPECT_EQ(Decode(d, {0xAA, 0x01, 0x09}).size(), 1u);
    }
    {
        // A frame of 255 raw bytes of doubled AA fits the buffer.
        FrameDecoder d;
        std::vector<uint8_t> wire = {0xAA, 0xFE};
        for (int i = 0; i < 127; ++i)
            wire.insert(wire.end(), {0xAA, 0xAA});
        auto frames = Decode(d, wire);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].size(), 127u);
    }
}

TEST(LinkCommands, Encodings)
{
    Payload p{};
    TargetCommand c;
    c.cw = 10;
    c.param1 = 0x0000;
    c.param2 = 0x1000;
    EXPECT_EQ(EncodeCommand(c, p), kLinkOk);
    EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 6), (std::vector<uint8_t>{5, 0x0A, 0, 0, 0x10, 0}));

    c = TargetCommand{};
    c.cw = 7;
    c.param1 = 0x1234;
    c.param2 = 0xAB56;
    EXPECT_EQ(EncodeCommand(c, p), kLinkOk);
    EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 5), (std::vector<uint8_t>{4, 7, 0x12, 0x34, 0x56}));

    c = TargetCommand{};
    c.cw = 8;
    c.param1 = 0x0102;
    c.param2 = 2;
    c.words[0] = 0xA1B2;
    c.words[1] = 0xC3D4;
    EXPECT_EQ(EncodeCommand(c, p), kLinkOk);
    EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 9),
              (std::vector<uint8_t>{8, 8, 1, 2, 2, 0xA1, 0xB2, 0xC3, 0xD4}));

    c.param2 = 65;
    EXPECT_EQ(EncodeCommand(c, p), kLinkBadFormat);
    EXPECT_EQ(p[0], 4);

    c = TargetCommand{};
    c.cw = 12;
    EXPECT_EQ(EncodeCommand(c, p), kLinkBadCommandWord);
    EXPECT_EQ(p[0], 1);
    EXPECT_EQ(p[1], 12);

    for (uint8_t cw : {0, 4, 5, 9}) {
        c = TargetCommand{};
        c.cw = cw;
        EXPECT_EQ(EncodeCommand(c, p), kLinkOk);
        EXPECT_EQ(p[0], 1);
    }
}

TEST(LinkConfirmations, LengthTableForEveryCommandWord)
{
    const int expected[12] = {5, 3, 3, 3, 2, 6, 3, -1, 2, 6, 2, 6};
    for (int cw = 0; cw <= 11; ++cw) {
        if (cw == 7)
            continue;
        for (int length = 2; length <= 8; ++length) {
            Payload p{};
            p[0] = static_cast<uint8_t>(length);
            p[1] = static_cast<uint8_t>(cw);
            p[2] = 0;
            TargetConfirmation c;
            int code = DecodeConfirmation(p, c);
            EXPECT_EQ(code, length == expected[cw] ? kLinkOk : kLinkBadFormat) << "cw " << cw << " length " << length;
        }
    }
}

TEST(LinkConfirmations, DataFields)
{
    TargetConfirmation c;
    EXPECT_EQ(DecodeConfirmation(P({0, 0, 2, 3, 12}), c), kLinkOk);
    EXPECT_EQ(c.info[0], 2);
    EXPECT_EQ(c.info[1], 3);
    EXPECT_EQ(c.info[2], 12);

    EXPECT_EQ(DecodeConfirmation(P({5, 0, 0x1A, 0x2B, 0xAA, 0x01}), c), kLinkOk);
    EXPECT_EQ(c.value1, 0x1A2B);
    EXPECT_EQ(c.value2, 0xAA01);

    // CW 7 with count 3 is exactly 9 bytes long.
    EXPECT_EQ(DecodeConfirmation(P({7, 0, 3, 0, 1, 0, 2, 0xFF, 0xFE}), c), kLinkOk);
    EXPECT_EQ(c.count, 3);
    EXPECT_EQ(c.words[2], 0xFFFE);
    EXPECT_EQ(DecodeConfirmation(P({7, 0, 3, 0, 1, 0, 2, 0xFF}), c), kLinkBadFormat);
    EXPECT_EQ(DecodeConfirmation(P({7, 0, 3, 0, 1, 0, 2, 0xFF, 0xFE, 0}), c), kLinkBadFormat);
    EXPECT_EQ(DecodeConfirmation(P({7, 0, 65}), c), kLinkBadFormat);
}

TEST(LinkConfirmations, ResultCodesAndForeignCommandWords)
{
    TargetConfirmation c;
    EXPECT_EQ(DecodeConfirmation(P({4, 2}), c), kLinkOk);
    EXPECT_EQ(c.result, 2);
    // With R other than 0 any data makes a format error.
    EXPECT_EQ(DecodeConfirmation(P({4, 2, 0}), c), kLinkBadFormat);
    EXPECT_EQ(DecodeConfirmation(P({5, 3, 0, 0, 0, 0}), c), kLinkBadFormat);
    // Command word 12: code 9 when exactly two bytes long, 4 otherwise.
    EXPECT_EQ(DecodeConfirmation(P({12, 0}), c), kLinkBadCommandWord);
    EXPECT_EQ(DecodeConfirmation(P({12, 0, 0}), c), kLinkBadFormat);
    EXPECT_EQ(DecodeConfirmation(P({200, 4}), c), kLinkBadCommandWord);
}

TEST(LinkConfirmations, ResultTexts)
{
    auto text = [](uint8_t cw, uint8_t r) {
        TargetConfirmation c;
        c.cw = cw;
        c.result = r;
        char buffer[256];
        FormatResultText(buffer, sizeof buffer, c);
        return std::string(buffer);
    };
    EXPECT_EQ(text(4, 1), "The target cannot execute the last command ! (CW=4)");
    EXPECT_EQ(text(4, 2), "The flash memory can't be erased ! (CW=4)");
    EXPECT_EQ(text(5, 3), "\rError while writing into the flash memory !");
    EXPECT_EQ(text(0, 4), "Bad parameters ! (CW=0)");
    EXPECT_EQ(text(10, 5), "Address error in last command ! (CW=10)");
    EXPECT_EQ(text(9, 6), "Error in S records file !");
    EXPECT_EQ(text(4, 7), "Flash not supported ! (CW=4)");
    EXPECT_EQ(text(5, 8), "Unexpected result (CW=5, R=8).");
    EXPECT_EQ(text(3, 9), "The last command is unknown ! (CW=3)");
    EXPECT_EQ(text(2, 200), "Unexpected result (CW=2, R=200).");
}
