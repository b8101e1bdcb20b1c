// A sparse byte-addressed memory of the simulated handset: the flash (erased state 0xFF,
// programming can only clear bits, as NOR flash does) or the RAM that receives the monitor
// (plain writes).
//
// Only pages that were written take memory, so a 32-bit address space costs what the image
// costs. Threading: a plain value; the owner serialises access.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

namespace tarvo::sim {

class MemoryModel {
public:
    enum class Kind { Flash, Ram };

    explicit MemoryModel(Kind kind) : m_kind(kind) {}

    // Flash: every byte back to 0xFF. RAM: every byte back to 0x00.
    void Erase() { m_pages.clear(); }
    // Flash: each byte becomes old AND new (a byte not erased first may not hold what was
    // written). RAM: each byte becomes the new value. Addresses wrap at 2^32.
    void Write(uint32_t address, const uint8_t* data, std::size_t length);
    uint8_t Read(uint32_t address) const;
    std::vector<uint8_t> Read(uint32_t address, std::size_t length) const;
    // The 16-bit sum of `length` bytes from `address`.
    uint16_t Sum16(uint32_t address, std::size_t length) const;
    // Number of pages that hold written data.
    std::size_t PageCount() const { return m_pages.size(); }

private:
    static constexpr uint32_t kPageBits = 12;
    static constexpr uint32_t kPageSize = 1u << kPageBits;
    using Page = std::array<uint8_t, kPageSize>;

    uint8_t Blank() const { return m_kind == Kind::Flash ? 0xFF : 0x00; }

    Kind m_kind;
    std::map<uint32_t, Page> m_pages;  // keyed by address >> kPageBits
};

}  // namespace tarvo::sim
