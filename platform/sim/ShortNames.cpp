#include "platform/sim/ShortNames.h"

#include <cctype>
#include <cstring>

#include "platform/sim/CodePage.h"

namespace uninst::sim {
namespace {

constexpr std::size_t kBaseLength = 8;
constexpr std::size_t kExtensionLength = 3;
constexpr std::size_t kBasisLength = 6;

bool IsShortNameCharacter(unsigned char c) {
  return c < 0x80 && (std::isalnum(c) || std::strchr("$%'-_@~`!(){}^#&", c) != nullptr);
}

// The characters of `part` as an 8.3 name holds them; a character beyond
// ASCII, whatever its length in UTF-8, is one '_'.
std::string ShortNameCharacters(const std::string& part) {
  std::string result;
  for (const char c : part) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == ' ' || byte == '.' || (byte & 0xC0) == 0x80) continue;
    result += IsShortNameCharacter(byte) ? static_cast<char>(std::toupper(byte)) : '_';
  }
  return result;
}

}  // namespace

bool IsShortName(const std::string& name) {
  const std::size_t dot = name.find('.');
  const std::string base = name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (base.empty() || base.size() > kBaseLength || extension.size() > kExtensionLength ||
      extension.find('.') != std::string::npos || (dot != std::string::npos && extension.empty())) {
    return false;
  }
  for (const char c : base + extension) {
    if (!IsShortNameCharacter(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::string ShortNameOf(const std::string& name, int number) {
  // A leading period starts no extension.
  const std::size_t dot = name.rfind('.');
  const bool hasExtension = dot != std::string::npos && dot > 0;
  const std::string base = ShortNameCharacters(hasExtension ? name.substr(0, dot) : name);
  const std::string extension =
      hasExtension ? ShortNameCharacters(name.substr(dot + 1)).substr(0, kExtensionLength) : "";
  const std::string tail = "~" + std::to_string(number);
  const std::size_t kept = std::min(base.size(), std::min(kBasisLength, kBaseLength - tail.size()));
  std::string shortName = base.substr(0, kept) + tail;
  if (!extension.empty()) shortName += "." + extension;
  return shortName;
}

void ShortNameTable::Assign(const std::vector<std::string>& names,
                            const std::function<bool(const std::string&)>& isName) {
  m_assigned = true;
  for (const std::string& name : names) {
    if (IsShortName(name) || !m_named.insert(name).second) continue;
    // Names that share a basis count on from the last one's number, so that
    // a folder of many such names is named in one pass.
    int& number = m_nextNumber[ShortNameOf(name, 0)];
    std::string shortName;
    do {
      shortName = ShortNameOf(name, ++number);
    } while (isName(shortName) || m_longByShort.count(shortName));
    m_longByShort.emplace(std::move(shortName), name);
  }
}

std::optional<std::string> ShortNameTable::LongNameOf(const std::string& upperName) const {
  const auto found = m_longByShort.find(upperName);
  if (found == m_longByShort.end()) return std::nullopt;
  return found->second;
}

}  // namespace uninst::sim
