// The handset's pieces without a pseudo-terminal: its frame reader against the station-side
// encoder, its memories, and its protocol fed in arbitrary pieces.
#include <gtest/gtest.h>

#include <random>

#include "sim/StationSide.h"
#include "tools/sim/Handset.h"
#include "tools/sim/MemoryModel.h"
#include "tools/sim/SimFrame.h"

namespace tarvo::sim::test {
namespace {

std::vector<Bytes> ReadFrames(const Bytes& wire)
{
    FrameReader reader;
    std::vector<Bytes> out;
    Bytes payload;
    for (uint8_t b : wire)
        if (reader.Put(b, payload))
            out.push_back(payload);
    return out;
}

TEST(SimFrame, EncodesTheDocumentedExamples)
{
    EXPECT_EQ(EncodeFrame({0x00}), (Bytes{0xAA, 0x01, 0x00}));
    EXPECT_EQ(EncodeFrame({0x0A, 0x00, 0x00, 0x10, 0x00}),
              (Bytes{0xAA, 0x05, 0x0A, 0x00, 0x00, 0x10, 0x00}));
    EXPECT_EQ(EncodeFrame({0x0A, 0x00, 0x00, 0x00, 0xAA}),
              (Bytes{0xAA, 0x06, 0x0A, 0x00, 0x00, 0x00, 0xAA, 0xAA}));
    EXPECT_EQ(EncodeFrame(Bytes(255, 0x01)).size(), 257u);
    EXPECT_TRUE(EncodeFrame(Bytes(128, 0xAA)).empty()) << "256 raw bytes do not fit";
}

TEST(SimFrame, ReaderFollowsTheFramingRules)
{
    // Junk, an AA pair while hunting, then a frame.
    EXPECT_EQ(ReadFrames({0x01, 0xAA, 0xAA, 0x05, 0xAA, 0x01, 0x07}), (std::vector<Bytes>{{0x07}}));
    // AA 07 inside a frame restarts it with length 7.
    EXPECT_EQ(ReadFrames({0xAA, 0x03, 0x01, 0xAA, 0x02, 0x09, 0x08}),
              (std::vector<Bytes>{{0x09, 0x08}}));
    // An empty frame, then a doubled AA inside a frame.
    EXPECT_EQ(ReadFrames({0xAA, 0x00, 0xAA, 0x03, 0x05, 0xAA, 0xAA}),
              (std::vector<Bytes>{{}, {0x05, 0xAA}}));
}

TEST(SimFrame, RoundTripsThroughTheStationEncoder)
{
    std::mt19937 rng(7);
    for (int i = 0; i < 500; ++i) {
        Bytes payload(rng() % 40);
        for (uint8_t& b : payload)
            b = (rng() % 4 == 0) ? 0xAA : static_cast<uint8_t>(rng());
        ASSERT_EQ(EncodeFrame(payload), Frame(payload));
        const Bytes wire = Concat({{0x13, 0x00}, Frame(payload), {0x55}, Frame({1})});
        ASSERT_EQ(ReadFrames(wire), (std::vector<Bytes>{payload, {1}}));
    }
}

TEST(MemoryModel, FlashProgramsOnlyZerosRamOverwrites)
{
    MemoryModel flash(MemoryModel::Kind::Flash);
    EXPECT_EQ(flash.Read(0x12345678), 0xFF);
    const Bytes data = {0xF0, 0x0F, 0x55};
    flash.Write(0x0FFF, data.data(), data.size());  // across a page boundary
    EXPECT_EQ(flash.Read(0x0FFF, 3), data);
    EXPECT_EQ(flash.Sum16(0x0FFF, 3), 0xF0 + 0x0F + 0x55);
    const Bytes again = {0x0F, 0xF0, 0xAA};
    flash.Write(0x0FFF, again.data(), again.size());
    EXPECT_EQ(flash.Read(0x0FFF, 3), (Bytes{0x00, 0x00, 0x00})) << "not erased in between";
    flash.Erase();
    EXPECT_EQ(flash.Read(0x1000), 0xFF);
    EXPECT_EQ(flash.PageCount(), 0u);

    MemoryModel ram(MemoryModel::Kind::Ram);
    EXPECT_EQ(ram.Read(0x10), 0x00);
    ram.Write(0xFFFFFFFF, data.data(), data.size());  // wraps to address 0
    ram.Write(0xFFFFFFFF, again.data(), again.size());
    EXPECT_EQ(ram.Read(0xFFFFFFFF, 3), again);
}

// A whole bootloader session as the station writes it.
Bytes Session()
{
    return Concat({kIdentify, kLoadMonitor, Record('0', 0, 2, {1}),
                   Record('2', 0x012345, 3, {0xAA, 0x53, 0x33}), Record('8', 0, 3, {}),
                   RunAt(0x012345), kErase, kDownload, Block(0x100, Bytes(300, 0xAA)),
                   Block(0x400, {0x53, 0x37, 0x05}), Record('5', 0, 2, {}), {0x99},
                   Termination(0x100), kIdentify});
}

std::vector<HandsetAction> Feed(const Bytes& wire, std::size_t piece)
{
    Handset handset{SimConfig{}};
    std::vector<HandsetAction> actions;
    for (std::size_t i = 0; i < wire.size(); i += piece)
        handset.Receive(wire.data() + i, std::min(piece, wire.size() - i), actions);
    return actions;
}

Bytes Sent(const std::vector<HandsetAction>& actions)
{
    Bytes out;
    for (const HandsetAction& a : actions)
        if (a.kind == HandsetAction::Kind::Send)
            out = Concat({out, Frame(a.bytes)});
    return out;
}

TEST(Handset, AnswersDoNotDependOnHowBytesArrive)
{
    const std::vector<HandsetAction> whole = Feed(Session(), Session().size());
    const uint16_t ram = 0xAA + 0x53 + 0x33;
    const uint16_t image = 300 * 0xAA + 0x53 + 0x37 + 0x05;
    EXPECT_EQ(Sent(whole),
              Concat({Frame({0, 0, 2, 3, 12}), SumsAnswer(9, ram, ram), Frame({10, 0}),
                      Frame({4, 0}), Frame({5, 0}), Frame({5, 0}), SumsAnswer(5, image, image),
                      Frame({0, 0, 2, 3, 12})}));
    for (std::size_t piece : {1, 2, 7, 64}) {
        SCOPED_TRACE(piece);
        EXPECT_EQ(Sent(Feed(Session(), piece)), Sent(whole));
    }
}

TEST(Handset, ShortBlockIsAnErrorButTheStreamStaysInStep)
{
    SimConfig flash;
    flash.loader = Loader::Flashloader;
    Handset h(flash);
    std::vector<HandsetAction> actions;
    const Bytes wire = Concat({kDownload, {'S', '3', 0x00, 0x03, 0x01, 0x02, 0x03},
                               Block(0x20, {0x10}), Termination(0)});
    h.Receive(wire.data(), wire.size(), actions);
    EXPECT_EQ(Sent(actions), Concat({Frame({5, 6}), Frame({5, 0}), SumsAnswer(5, 0x10, 0x10)}));
    EXPECT_EQ(h.Stats().blockErrors, 1u);
}

TEST(Handset, WellFormedConfirmationsHaveTheLengthOfTheirWord)
{
    const std::size_t lengths[] = {5, 3, 3, 3, 2, 6, 3, 3, 2, 6, 2, 6, 2};
    for (uint8_t cw = 0; cw < 13; ++cw) {
        const Bytes p = Handset::WellFormedConfirmation(cw);
        EXPECT_EQ(p.size(), lengths[cw]) << int(cw);
        EXPECT_EQ(p[0], cw);
        EXPECT_EQ(p[1], 0);
    }
}

}  // namespace
}  // namespace tarvo::sim::test
