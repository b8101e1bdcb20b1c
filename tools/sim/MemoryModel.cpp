#include "tools/sim/MemoryModel.h"

namespace tarvo::sim {

void MemoryModel::Write(uint32_t address, const uint8_t* data, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        const uint32_t a = address + static_cast<uint32_t>(i);
        auto [it, created] = m_pages.try_emplace(a >> kPageBits);
        if (created)
            it->second.fill(Blank());
        uint8_t& cell = it->second[a & (kPageSize - 1)];
        cell = m_kind == Kind::Flash ? static_cast<uint8_t>(cell & data[i]) : data[i];
    }
}

uint8_t MemoryModel::Read(uint32_t address) const
{
    auto it = m_pages.find(address >> kPageBits);
    return it == m_pages.end() ? Blank() : it->second[address & (kPageSize - 1)];
}

std::vector<uint8_t> MemoryModel::Read(uint32_t address, std::size_t length) const
{
    std::vector<uint8_t> out(length);
    for (std::size_t i = 0; i < length; ++i)
        out[i] = Read(address + static_cast<uint32_t>(i));
    return out;
}

uint16_t MemoryModel::Sum16(uint32_t address, std::size_t length) const
{
    uint16_t sum = 0;
    for (std::size_t i = 0; i < length; ++i)
        sum = static_cast<uint16_t>(sum + Read(address + static_cast<uint32_t>(i)));
    return sum;
}

}  // namespace tarvo::sim
