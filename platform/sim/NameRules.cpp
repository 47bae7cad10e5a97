#include "platform/sim/NameRules.h"

#include <algorithm>

#include "platform/AsciiCase.h"

namespace uninst::sim {

int NameRules::Compare(std::string_view a, std::string_view b) const {
  const std::size_t common = std::min(a.size(), b.size());
  // Up to a difference both names hold the same characters, so a trail byte
  // stands at the same offset in both.
  bool trail = false;
  for (std::size_t i = 0; i < common; ++i) {
    const char folded = trail ? a[i] : UpperAscii(a[i]);
    const char other = trail ? b[i] : UpperAscii(b[i]);
    if (folded != other) {
      return static_cast<unsigned char>(folded) < static_cast<unsigned char>(other) ? -1 : 1;
    }
    trail = !trail && IsLead(a[i]);
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

NameRules::SortKey NameRules::SortKeyOf(std::string_view name) const {
  SortKey key{};
  constexpr std::size_t kWordBytes = sizeof(std::uint64_t);
  const std::size_t length = std::min(name.size(), key.size() * kWordBytes);
  bool trail = false;
  for (std::size_t i = 0; i < length; ++i) {
    const char folded = trail ? name[i] : UpperAscii(name[i]);
    key[i / kWordBytes] |= std::uint64_t{static_cast<unsigned char>(folded)}
                           << (8 * (kWordBytes - 1 - i % kWordBytes));
    trail = !trail && IsLead(name[i]);
  }
  return key;
}

std::uint64_t NameRules::Hash(std::string_view name) const {
  std::uint64_t hash = 14695981039346656037ull;
  bool trail = false;
  for (const char c : name) {
    const char folded = trail ? c : UpperAscii(c);
    hash = (hash ^ static_cast<unsigned char>(folded)) * 1099511628211ull;
    trail = !trail && IsLead(c);
  }
  return hash;
}

std::size_t NameRules::FindSeparator(std::string_view path, std::size_t from) const {
  std::size_t at = from;
  while (at < path.size() && path[at] != '\\') at += IsLead(path[at]) ? 2 : 1;
  return std::min(at, path.size());
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
