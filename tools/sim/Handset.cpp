#include "tools/sim/Handset.h"

#include <utility>

namespace tarvo::sim {

namespace {

constexpr uint8_t kIdentify = 0;
constexpr uint8_t kErase = 4;
constexpr uint8_t kDownload = 5;
constexpr uint8_t kLoadMonitor = 9;
constexpr uint8_t kRun = 10;

// Result codes.
constexpr uint8_t kCannotExecute = 1;
constexpr uint8_t kBadParameters = 4;
constexpr uint8_t kBadRecords = 6;
constexpr uint8_t kUnknownCommand = 9;

constexpr uint8_t kFlashloaderType = 1;
constexpr uint8_t kBootloaderType = 2;

uint8_t Hi(uint16_t v) { return static_cast<uint8_t>(v >> 8); }
uint8_t Lo(uint16_t v) { return static_cast<uint8_t>(v & 0xFF); }

std::vector<uint8_t> SumsPayload(uint8_t cw, uint16_t v1, uint16_t v2)
{
    return {cw, 0, Hi(v1), Lo(v1), Hi(v2), Lo(v2)};
}

// Address bytes of an S-record type; 0 for a type without a defined layout.
int AddressBytes(uint8_t type)
{
    switch (type) {
    case '0': case '1': case '5': case '9': return 2;
    case '2': case '6': case '8': return 3;
    case '3': case '7': return 4;
    default: return 0;
    }
}

bool IsTermination(uint8_t type) { return type == '7' || type == '8' || type == '9'; }

uint32_t BigEndian(const uint8_t* p, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

}  // namespace

Handset::Handset(const SimConfig& config) : m_config(config) {}

std::vector<uint8_t> Handset::WellFormedConfirmation(uint8_t cw)
{
    std::size_t length = 2;
    switch (cw) {
    case 0: length = 5; break;
    case 1: case 2: case 3: case 6: case 7: length = 3; break;  // CW 7: a count of 0
    case 5: case 9: case 11: length = 6; break;
    default: break;
    }
    std::vector<uint8_t> payload(length, 0);
    payload[0] = cw;
    return payload;
}

HandsetState Handset::State() const
{
    if (m_hungUp)
        return HandsetState::HungUp;
    if (m_mode == Mode::MonitorLines)
        return HandsetState::ReceivingMonitor;
    if (m_mode == Mode::ImageLines)
        return HandsetState::ReceivingImage;
    return m_monitorRunning ? HandsetState::MonitorRunning : HandsetState::Resident;
}

bool Handset::CanFlash() const
{
    return m_config.loader == Loader::Flashloader || m_monitorRunning;
}

void Handset::Send(std::vector<HandsetAction>& actions, std::vector<uint8_t> payload,
                   std::chrono::milliseconds delay, bool endsCycle)
{
    HandsetAction a;
    a.kind = HandsetAction::Kind::Send;
    a.bytes = std::move(payload);
    a.delay = delay;
    a.endsCycle = endsCycle;
    actions.push_back(std::move(a));
}

void Handset::Receive(const uint8_t* data, std::size_t length,
                      std::vector<HandsetAction>& actions)
{
    for (std::size_t i = 0; i < length && !m_hungUp; ++i)
        Put(data[i], actions);
}

void Handset::Put(uint8_t byte, std::vector<HandsetAction>& actions)
{
    if (m_mode == Mode::Commands) {
        PutFrameByte(byte, actions);
        return;
    }
    switch (m_lineStep) {
    case LineStep::Idle:
        // Between lines only an 'S' starts a line; anything else may be a frame (a station
        // that gave up and polls again) or junk.
        if (byte == 'S' && !m_frames.InFrame()) {
            m_frames.Reset();
            m_lineStep = LineStep::Type;
        } else
            PutFrameByte(byte, actions);
        return;
    case LineStep::Type:
        if (byte < '0' || byte > '9') {
            // Not a record: forget the 'S' and look at this byte afresh.
            m_lineStep = LineStep::Idle;
            Put(byte, actions);
            return;
        }
        StartLine(byte);
        return;
    case LineStep::Count:
        m_line.push_back(byte);
        m_bodyLeft = (m_bodyLeft << 8) | byte;
        if (--m_countBytesLeft > 0)
            return;
        break;
    case LineStep::Body:
        m_line.push_back(byte);
        --m_bodyLeft;
        break;
    }
    if (m_bodyLeft > 0) {
        m_lineStep = LineStep::Body;
        return;
    }
    m_lineStep = LineStep::Idle;
    ++m_stats.linesReceived;
    actions.push_back({HandsetAction::Kind::LineReceived, m_line, {}, false});
    if (m_mode == Mode::MonitorLines)
        HandleMonitorRecord(actions);
    else
        HandleImageLine(actions);
}

void Handset::StartLine(uint8_t type)
{
    m_lineType = type;
    m_line.assign({'S', type});
    // Image blocks carry a 16-bit length; every other record a one-byte count.
    m_countBytesLeft = (m_mode == Mode::ImageLines && type == '3') ? 2 : 1;
    m_bodyLeft = 0;
    m_lineStep = LineStep::Count;
}

void Handset::PutFrameByte(uint8_t byte, std::vector<HandsetAction>& actions)
{
    if (!m_frames.Put(byte, m_payload))
        return;
    ++m_stats.framesReceived;
    actions.push_back({HandsetAction::Kind::FrameReceived, m_payload, {}, false});
    if (m_payload.empty())
        return;  // an empty frame carries no command
    if (m_mode != Mode::Commands) {
        // A command between lines ends the load or the download unfinished.
        m_mode = Mode::Commands;
        m_lineStep = LineStep::Idle;
    }
    HandleCommand(m_payload, actions);
}

void Handset::HandleCommand(const std::vector<uint8_t>& payload,
                            std::vector<HandsetAction>& actions)
{
    const uint8_t cw = payload[0];
    const SimFaults& faults = m_config.faults;
    switch (cw) {
    case kIdentify:
        HandleIdentify(payload, actions);
        return;
    case kErase:
        if (payload.size() != 1) {
            Send(actions, {cw, kBadParameters});
        } else if (!CanFlash()) {
            Send(actions, {cw, kCannotExecute});
        } else if (faults.eraseResult != 0) {
            Send(actions, {cw, faults.eraseResult});
        } else {
            ++m_stats.erases;
            m_flash.Erase();
            if (!faults.eraseUnconfirmed)
                Send(actions, {cw, 0}, m_config.eraseTime);
        }
        return;
    case kDownload:
        if (payload.size() != 1) {
            Send(actions, {cw, kBadParameters});
        } else if (!CanFlash()) {
            Send(actions, {cw, kCannotExecute});
        } else {
            // No answer now: the image lines follow, and the confirmation ends them.
            m_mode = Mode::ImageLines;
            m_lineStep = LineStep::Idle;
            m_downloadBlocks = 0;
            m_receivedSum = 0;
            m_ranges.clear();
            m_corruptionDone = false;
        }
        return;
    case kLoadMonitor:
        if (payload.size() != 1) {
            Send(actions, {cw, kBadParameters});
        } else if (m_config.loader != Loader::Bootloader || m_monitorRunning) {
            Send(actions, {cw, kCannotExecute});
        } else {
            m_mode = Mode::MonitorLines;
            m_lineStep = LineStep::Idle;
            m_monitorLoaded = false;
            m_recordError = false;
            m_corruptionDone = false;
            m_receivedSum = 0;
            m_ranges.clear();
            m_ram.Erase();
        }
        return;
    case kRun:
        if (payload.size() != 5) {
            Send(actions, {cw, kBadParameters});
        } else if (m_config.loader != Loader::Bootloader || m_monitorRunning ||
                   !m_monitorLoaded) {
            Send(actions, {cw, kCannotExecute});
        } else if (!faults.runUnconfirmed) {
            m_stats.runAddress = BigEndian(&payload[1], 4);
            m_monitorRunning = true;
            Send(actions, {cw, 0});
        }
        return;
    default:
        Send(actions, {cw, kUnknownCommand});
        return;
    }
}

void Handset::HandleIdentify(const std::vector<uint8_t>& payload,
                             std::vector<HandsetAction>& actions)
{
    ++m_stats.identifies;
    const int count = ++m_handsetIdentifies;
    const SimFaults& faults = m_config.faults;
    if (faults.hangupAfterIdentify > 0) {
        if (count >= faults.hangupAfterIdentify) {
            m_hungUp = true;
            actions.push_back({HandsetAction::Kind::HangUp, {}, {}, false});
        }
        return;
    }
    if (faults.identifyNever || count <= faults.identifySilent)
        return;
    if (payload.size() != 1) {
        Send(actions, {kIdentify, kBadParameters});
        return;
    }
    if (faults.identifyResult != 0) {
        Send(actions, {kIdentify, faults.identifyResult});
        return;
    }
    if (faults.identifyCommandWord >= 0) {
        Send(actions, WellFormedConfirmation(static_cast<uint8_t>(faults.identifyCommandWord)));
        return;
    }
    std::vector<uint8_t> answer;
    if (m_monitorRunning)
        answer = {kIdentify, 0, kFlashloaderType, m_config.monitorVersion1,
                  m_config.monitorVersion2};
    else
        answer = {kIdentify, 0,
                  m_config.loader == Loader::Bootloader ? kBootloaderType : kFlashloaderType,
                  m_config.version1, m_config.version2};
    if (faults.identifyShort)
        answer.pop_back();
    Send(actions, std::move(answer));
}

void Handset::HandleMonitorRecord(std::vector<HandsetAction>& actions)
{
    // m_line: 'S', type, count, then count bytes (address, data, checksum).
    const uint8_t count = m_line[2];
    const int addressBytes = AddressBytes(m_lineType);
    bool ok = addressBytes > 0 && count >= addressBytes + 1;
    if (ok) {
        uint8_t sum = count;
        for (std::size_t i = 3; i + 1 < m_line.size(); ++i)
            sum = static_cast<uint8_t>(sum + m_line[i]);
        ok = static_cast<uint8_t>(~sum) == m_line.back();
    }
    if (!ok) {
        ++m_stats.recordErrors;
        m_recordError = true;
    }
    const SimFaults& faults = m_config.faults;
    if (ok && (m_lineType == '1' || m_lineType == '2' || m_lineType == '3')) {
        const uint32_t address = BigEndian(&m_line[3], addressBytes);
        std::vector<uint8_t> data(m_line.begin() + 3 + addressBytes, m_line.end() - 1);
        for (uint8_t b : data)
            m_receivedSum = static_cast<uint16_t>(m_receivedSum + b);
        if (faults.monitorCorrupt && !m_corruptionDone && !data.empty()) {
            data[0] ^= 0x01;
            m_corruptionDone = true;
        }
        m_ram.Write(address, data.data(), data.size());
        m_ranges.push_back({address, data.size()});
    }
    if (!IsTermination(m_lineType))
        return;

    m_mode = Mode::Commands;
    ++m_stats.monitorLoads;
    if (m_recordError) {
        Send(actions, {kLoadMonitor, kBadRecords});
        return;
    }
    m_monitorLoaded = true;
    uint16_t ramSum = 0;
    for (const Range& r : m_ranges)
        ramSum = static_cast<uint16_t>(ramSum + m_ram.Sum16(r.address, r.length));
    m_stats.monitorFileSum = m_receivedSum;
    m_stats.monitorRamSum = ramSum;
    if (faults.monitorUnconfirmed)
        return;
    if (faults.monitorSums)
        Send(actions, SumsPayload(kLoadMonitor, faults.monitorSums->value1,
                                  faults.monitorSums->value2));
    else
        Send(actions, SumsPayload(kLoadMonitor, m_receivedSum, ramSum));
}

void Handset::HandleImageLine(std::vector<HandsetAction>& actions)
{
    if (m_lineType == '3') {
        HandleImageBlock(actions);
        return;
    }
    if (IsTermination(m_lineType))
        FinishDownload(actions);
    // Other record types have no place in an image: taken and ignored.
}

void Handset::HandleImageBlock(std::vector<HandsetAction>& actions)
{
    // m_line: 'S', '3', length (2 bytes), then length bytes: address (4), data, checksum.
    const int block = ++m_downloadBlocks;
    ++m_stats.blocksReceived;
    const SimFaults& faults = m_config.faults;
    const std::size_t length = (std::size_t{m_line[2]} << 8) | m_line[3];
    bool ok = length >= 5;
    if (ok) {
        uint8_t sum = static_cast<uint8_t>(m_line[2] + m_line[3]);
        for (std::size_t i = 4; i + 1 < m_line.size(); ++i)
            sum = static_cast<uint8_t>(sum + m_line[i]);
        ok = static_cast<uint8_t>(~sum) == m_line.back();

        const uint32_t address = BigEndian(&m_line[4], 4);
        std::vector<uint8_t> data(m_line.begin() + 8, m_line.end() - 1);
        for (uint8_t b : data)
            m_receivedSum = static_cast<uint16_t>(m_receivedSum + b);
        // A corrupt block is not programmed; the read-back sum then shows it.
        if (ok) {
            if (faults.blockCorrupt == block && !data.empty())
                data[0] ^= 0x01;
            m_flash.Write(address, data.data(), data.size());
        }
        m_ranges.push_back({address, data.size()});
    }
    if (!ok)
        ++m_stats.blockErrors;

    if (faults.hangupAfterBlock == block) {
        m_hungUp = true;
        actions.push_back({HandsetAction::Kind::HangUp, {}, {}, false});
        return;
    }
    if (faults.blockUnacked == block)
        return;
    std::chrono::milliseconds delay{0};
    if (faults.blockDelayIndex == 0 || faults.blockDelayIndex == block)
        delay = faults.blockDelay;
    Send(actions, {kDownload, ok ? uint8_t{0} : kBadRecords}, delay);
}

void Handset::FinishDownload(std::vector<HandsetAction>& actions)
{
    // m_line: 'S', type, count, then count bytes (address, checksum).
    const uint8_t count = m_line[2];
    const int addressBytes = AddressBytes(m_lineType);
    bool ok = count >= addressBytes + 1;
    if (ok) {
        uint8_t sum = count;
        for (std::size_t i = 3; i + 1 < m_line.size(); ++i)
            sum = static_cast<uint8_t>(sum + m_line[i]);
        ok = static_cast<uint8_t>(~sum) == m_line.back();
    }
    uint16_t flashSum = 0;
    for (const Range& r : m_ranges)
        flashSum = static_cast<uint16_t>(flashSum + m_flash.Sum16(r.address, r.length));
    m_stats.imageSum = m_receivedSum;
    m_stats.flashSum = flashSum;
    ++m_stats.downloadsEnded;

    const SimFaults& faults = m_config.faults;
    std::vector<uint8_t> answer;
    if (faults.finalMissing)
        answer = {};
    else if (faults.finalResult != 0)
        answer = {kDownload, faults.finalResult};
    else if (!ok)
        answer = {kDownload, kBadRecords};
    else if (faults.finalCommandWord >= 0)
        answer = WellFormedConfirmation(static_cast<uint8_t>(faults.finalCommandWord));
    else if (faults.finalSums)
        answer = SumsPayload(kDownload, faults.finalSums->value1, faults.finalSums->value2);
    else
        answer = SumsPayload(kDownload, m_receivedSum, flashSum);
    if (faults.finalShort && answer.size() == 6)
        answer.pop_back();
    Send(actions, std::move(answer), {}, true);
    BecomeFresh();
}

void Handset::BecomeFresh()
{
    m_mode = Mode::Commands;
    m_lineStep = LineStep::Idle;
    m_frames.Reset();
    m_monitorLoaded = false;
    m_monitorRunning = false;
    m_handsetIdentifies = 0;
    m_downloadBlocks = 0;
    m_receivedSum = 0;
    m_ranges.clear();
    m_ram.Erase();
}

}  // namespace tarvo::sim
