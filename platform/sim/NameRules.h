// How Windows reads registry names in its ANSI code page.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace uninst::sim {

// The longest key name the NT family holds, in characters.
constexpr std::size_t kMaxKeyNameLength = 255;

// A lead byte and the byte after it are one double-byte character: never a
// path separator, however much the trail byte looks like an ASCII letter or
// a backslash. The 9x family compares ASCII letters without case and every
// other byte as it is; the NT family compares names as their upper-cased
// UTF-16 characters, so that CAFÉ and café are one name and XŒ sorts
// after XÀ (U+0152 after U+00C0).
class NameRules {
 public:
  // The upper-cased character of each byte of a single-byte code page, or
  // of each lead and trail byte pair ((lead << 8) | trail) of a double-byte
  // one (FoldTableOf in CodePage.h).
  using FoldTable = std::vector<std::uint32_t>;

  // A single-byte code page, 9x rules.
  NameRules() = default;
  explicit NameRules(const std::bitset<256>& leadBytes) : m_leadBytes(leadBytes) {}
  // NT rules over the code page's characters.
  NameRules(const std::bitset<256>& leadBytes, FoldTable fold)
      : m_leadBytes(leadBytes), m_fold(std::make_shared<const FoldTable>(std::move(fold))) {}

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
  // The characters of `name`, a double-byte one counting once.
  std::size_t Length(std::string_view name) const;
  // A string equal for two names exactly when the names are equal.
  std::string FoldKey(std::string_view name) const;
  // A number equal for names that are equal, made without a copy.
  std::size_t Hash(std::string_view name) const;

 private:
  // The folded characters of `name`, one a call, from `*at` on.
  std::uint32_t NextFolded(std::string_view name, std::size_t* at) const;

  std::bitset<256> m_leadBytes;
  // Shared between copies: a double-byte code page's table is large.
  std::shared_ptr<const FoldTable> m_fold;
};

}  // namespace uninst::sim
