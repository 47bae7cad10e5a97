// A bounds-checked, little-endian view of an executable image held in memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace uninst::sim {

class Image {
 public:
  Image(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

  std::size_t Size() const { return m_size; }
  bool Contains(std::uint64_t offset, std::uint64_t length) const {
    return offset <= m_size && length <= m_size - offset;
  }
  bool Read16(std::uint64_t offset, std::uint16_t* value) const {
    if (!Contains(offset, 2)) return false;
    const std::uint8_t* p = m_data + offset;
    *value = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
    return true;
  }
  bool Read32(std::uint64_t offset, std::uint32_t* value) const {
    if (!Contains(offset, 4)) return false;
    const std::uint8_t* p = m_data + offset;
    *value = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
             (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    return true;
  }
  bool Matches(std::uint64_t offset, const char* bytes, std::size_t length) const {
    if (!Contains(offset, length)) return false;
    for (std::size_t i = 0; i < length; ++i) {
      if (m_data[offset + i] != static_cast<std::uint8_t>(bytes[i])) return false;
    }
    return true;
  }

 private:
  const std::uint8_t* m_data;
  std::size_t m_size;
};

}  // namespace uninst::sim
