// The simulated handset's protocol logic, free of any I/O and clock: bytes from the station
// go in, and out come the frames to send (each with the handset-time delay after which it
// leaves), a hang-up, and the events tests look at. TargetSim runs it on a pseudo-terminal.
//
// What it models:
// - the resident loader (bootloader or flashloader) answering identify (CW 0);
// - the bootloader taking the monitor (CW 9, then raw S-record lines 'S', type, count,
//   count bytes), checking every record's checksum, storing the data in a RAM model and
//   confirming with the 16-bit sums of the data as received and as stored; then CW 10 starts
//   the monitor;
// - the flashloader or the running monitor erasing the flash (CW 4, confirmed after the
//   erase time) and taking the image (CW 5, no answer of its own, then raw image lines 'S',
//   '3', 16-bit length, 32-bit address, data, checksum, each acknowledged with a frame), up to
//   the termination line ('S', '7'/'8'/'9', count, count bytes), which it confirms with the
//   16-bit sum of every data byte received and the sum of the same addresses read back from
//   the flash model.
//
// Choices where the station expects nothing in particular:
// - An image block with a wrong checksum is acknowledged ([5, 6] instead of [5, 0]; the
//   station looks at no acknowledgement's content) but not written to flash, so the final
//   sums differ and the station reports FAIL. A block shorter than its address is treated
//   the same way.
// - A frame that arrives between raw lines ends the monitor load or the download and is
//   handled as a command (a restarted station polls with identify).
// - After the final confirmation the handset is a fresh one again: resident loader, no
//   monitor, per-handset fault counters (identifies, blocks) from zero. The flash model is
//   kept until the next erase so that tests can read back what was written.
// - A command the current program cannot carry out (erase in the bootloader, CW 9 in the
//   flashloader, CW 10 before a monitor was loaded) gets [cw, 1]; a command word the handset
//   does not implement gets [cw, 9]; a known command with parameters of the wrong length
//   gets [cw, 4].
//
// Threading: a plain object; its owner serialises every call.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "tools/sim/MemoryModel.h"
#include "tools/sim/SimConfig.h"
#include "tools/sim/SimFrame.h"

namespace tarvo::sim {

struct HandsetAction {
    enum class Kind {
        Send,           // write the frame of `bytes` (a payload) after `delay`
        HangUp,         // the device disappears now; nothing more is sent
        FrameReceived,  // `bytes`: a complete payload from the station
        LineReceived,   // `bytes`: one raw line as received, from 'S' to its last byte
    };
    Kind kind = Kind::Send;
    std::vector<uint8_t> bytes;
    std::chrono::milliseconds delay{0};  // Send: handset time after the byte that caused it
    bool endsCycle = false;  // Send: the download's end (an empty payload sends nothing)
};

enum class HandsetState {
    Resident,          // the resident loader waits for commands
    ReceivingMonitor,  // after CW 9: monitor lines until the termination record
    MonitorRunning,    // after CW 10: the monitor waits for commands
    ReceivingImage,    // after CW 5: image lines until the termination line
    HungUp,            // the device is gone
};

struct HandsetStats {
    uint64_t identifies = 0;        // identify commands received, all handsets
    uint64_t framesReceived = 0;
    uint64_t linesReceived = 0;
    uint64_t blocksReceived = 0;    // image blocks, all downloads
    uint64_t blockErrors = 0;       // image blocks with a wrong checksum or length
    uint64_t recordErrors = 0;      // monitor records with a wrong checksum or count
    uint64_t erases = 0;
    uint64_t monitorLoads = 0;      // termination records of the monitor received
    uint64_t downloadsEnded = 0;    // termination lines of the image received
    uint32_t runAddress = 0;        // the last CW 10 address
    uint16_t monitorFileSum = 0, monitorRamSum = 0;  // last load, as computed
    uint16_t imageSum = 0, flashSum = 0;             // last download, as computed
};

class Handset {
public:
    explicit Handset(const SimConfig& config);

    // Feeds received bytes in wire order; appends what the handset does. After a hang-up
    // every further byte is ignored.
    void Receive(const uint8_t* data, std::size_t length, std::vector<HandsetAction>& actions);

    HandsetState State() const;
    const HandsetStats& Stats() const { return m_stats; }
    const MemoryModel& Flash() const { return m_flash; }
    const MemoryModel& Ram() const { return m_ram; }

    // The confirmation payload that is well formed for `cw` with R = 0 and zero data.
    static std::vector<uint8_t> WellFormedConfirmation(uint8_t cw);

private:
    enum class Mode { Commands, MonitorLines, ImageLines };
    enum class LineStep { Idle, Type, Count, Body };
    struct Range {
        uint32_t address;
        std::size_t length;
    };

    void Put(uint8_t byte, std::vector<HandsetAction>& actions);
    void PutFrameByte(uint8_t byte, std::vector<HandsetAction>& actions);
    void StartLine(uint8_t type);
    void HandleCommand(const std::vector<uint8_t>& payload, std::vector<HandsetAction>& actions);
    void HandleIdentify(const std::vector<uint8_t>& payload, std::vector<HandsetAction>& actions);
    void HandleMonitorRecord(std::vector<HandsetAction>& actions);
    void HandleImageLine(std::vector<HandsetAction>& actions);
    void HandleImageBlock(std::vector<HandsetAction>& actions);
    void FinishDownload(std::vector<HandsetAction>& actions);
    void BecomeFresh();
    bool CanFlash() const;

    static void Send(std::vector<HandsetAction>& actions, std::vector<uint8_t> payload,
                     std::chrono::milliseconds delay = {}, bool endsCycle = false);

    SimConfig m_config;
    FrameReader m_frames;
    std::vector<uint8_t> m_payload;

    Mode m_mode = Mode::Commands;
    bool m_monitorLoaded = false;
    bool m_monitorRunning = false;
    bool m_hungUp = false;
    int m_handsetIdentifies = 0;  // this handset's, for the identify faults
    int m_downloadBlocks = 0;     // this download's, for the block faults

    // The raw line being received.
    LineStep m_lineStep = LineStep::Idle;
    uint8_t m_lineType = 0;
    int m_countBytesLeft = 0;
    std::size_t m_bodyLeft = 0;
    std::vector<uint8_t> m_line;  // 'S', type, count byte(s), body

    // Monitor load and download in progress.
    bool m_recordError = false;
    bool m_corruptionDone = false;
    uint16_t m_receivedSum = 0;
    std::vector<Range> m_ranges;

    MemoryModel m_flash{MemoryModel::Kind::Flash};
    MemoryModel m_ram{MemoryModel::Kind::Ram};
    HandsetStats m_stats;
};

}  // namespace tarvo::sim
