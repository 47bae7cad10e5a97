#include "platform/sim/NameRules.h"

#include <algorithm>

#include "platform/AsciiCase.h"

namespace uninst::sim {

std::uint32_t NameRules::NextFolded(std::string_view name, std::size_t* at) const {
  const unsigned char first = static_cast<unsigned char>(name[*at]);
  if (IsLead(name[*at]) && *at + 1 < name.size()) {
    const unsigned char trail = static_cast<unsigned char>(name[*at + 1]);
    *at += 2;
    // Without a table (9x) a double-byte character is its two bytes as they are.
    return m_fold ? (*m_fold)[(first << 8) | trail] : 0x10000u | (first << 8) | trail;
  }
  ++*at;
  if (m_fold) return (*m_fold)[first];
  return static_cast<unsigned char>(UpperAscii(static_cast<char>(first)));
}

int NameRules::Compare(std::string_view a, std::string_view b) const {
  std::size_t atA = 0;
  std::size_t atB = 0;
  while (atA < a.size() && atB < b.size()) {
    const std::uint32_t folded = NextFolded(a, &atA);
    const std::uint32_t other = NextFolded(b, &atB);
    if (folded != other) return folded < other ? -1 : 1;
  }
  if (atA == a.size() && atB == b.size()) return 0;
  return atA == a.size() ? -1 : 1;
}

std::string NameRules::FoldKey(std::string_view name) const {
  std::string key;
  key.reserve(name.size() * sizeof(std::uint32_t));
  for (std::size_t at = 0; at < name.size();) {
    const std::uint32_t folded = NextFolded(name, &at);
    key.append(reinterpret_cast<const char*>(&folded), sizeof folded);
  }
  return key;
}

std::size_t NameRules::Hash(std::string_view name) const {
  // FNV-1a over the folded characters.
  std::uint64_t hash = 14695981039346656037u;
  for (std::size_t at = 0; at < name.size();) {
    hash = (hash ^ NextFolded(name, &at)) * 1099511628211u;
  }
  return static_cast<std::size_t>(hash ^ (hash >> 32));
}

NameRules::SortKey NameRules::SortKeyOf(std::string_view name) const {
  // Folded characters take 17 bits: the first six, each in 18 bits, and
  // Compare for names that share them.
  SortKey key{};
  constexpr unsigned kBits = 18;
  constexpr std::size_t kPerWord = 64 / kBits;
  std::size_t at = 0;
  for (std::size_t n = 0; n < key.size() * kPerWord && at < name.size(); ++n) {
    // One more than the character, so that a shorter name sorts first.
    const std::uint64_t folded = NextFolded(name, &at) + 1u;
    key[n / kPerWord] |= folded << (kBits * (kPerWord - 1 - n % kPerWord));
  }
  return key;
}

std::size_t NameRules::FindSeparator(std::string_view path, std::size_t from) const {
  std::size_t at = from;
  while (at < path.size() && path[at] != '\\') at += IsLead(path[at]) ? 2 : 1;
  return std::min(at, path.size());
}

std::size_t NameRules::Length(std::string_view name) const {
  std::size_t characters = 0;
  for (std::size_t at = 0; at < name.size(); at += IsLead(name[at]) ? 2 : 1) ++characters;
  return characters;
}

std::vector<std::string_view> NameRules::Split(std::string_view path) const {
  std::vector<std::string_view> components;
  std::size_t start = 0;
  while (start < path.size()) {
    const std::size_t end = FindSeparator(path, start);
    if (end > start) components.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

}  // namespace uninst::sim
