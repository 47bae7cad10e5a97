// How Windows reads registry names in its ANSI code page.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace uninst::sim {

// A lead byte and the byte after it are one double-byte character: never a
// path separator, and compared as they are, however much the trail byte
// looks like an ASCII letter or a backslash. Single-byte ASCII letters
// compare without case; every other byte as it is.
class NameRules {
 public:
  // A single-byte code page.
  NameRules() = default;
  explicit NameRules(const std::bitset<256>& leadBytes) : m_leadBytes(leadBytes) {}

  int Compare(std::string_view a, std::string_view b) const;
  bool Equal(std::string_view a, std::string_view b) const { return Compare(a, b) == 0; }
  // The first 16 bytes of `name` as Compare folds them, packed: names whose
  // keys differ compare as their keys do, so that a sort seldom needs the
  // names themselves.
  using SortKey = std::array<std::uint64_t, 2>;
  SortKey SortKeyOf(std::string_view name) const;
  // The offset of the first backslash at or after `from` that is a character
  // of its own, or the size of `path`; `from` must start a character.
  std::size_t FindSeparator(std::string_view path, std::size_t from = 0) const;
  // The non-empty components of a backslash-separated path, as parts of it.
  std::vector<std::string_view> Split(std::string_view path) const;
  bool IsLead(char c) const { return m_leadBytes[static_cast<unsigned char>(c)]; }
  // A hash under which names that compare equal are equal, and names that
  // differ only in a second byte's case are not.
  std::uint64_t Hash(std::string_view name) const;
  bool operator==(const NameRules& other) const { return m_leadBytes == other.m_leadBytes; }
  bool operator!=(const NameRules& other) const { return !(*this == other); }

 private:
  std::bitset<256> m_leadBytes;
};

}  // namespace uninst::sim
