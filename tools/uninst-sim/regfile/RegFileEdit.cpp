// Takes what a run removed out of registry.reg as it was read, so that every
// line it did not remove stays byte for byte: other roots, comments, blank
// lines, line endings and the wrapping of long hex lists.
#include <string_view>
#include <vector>

#include "tools/uninst-sim/regfile/RegFile.h"
#include "tools/uninst-sim/regfile/RegSyntax.h"

namespace uninst::tool {

namespace {

// The lines of the file's bytes in their encoding, in step with the lines of
// its decoded text: a conversion keeps every line break where it was.
class ByteLines {
 public:
  ByteLines(std::string_view bytes, RegEncoding encoding)
      : m_bytes(bytes), m_unit(encoding == RegEncoding::kUtf16Le ? 2 : 1) {}

  // The offset just past the line that starts at `start`, its line break
  // included.
  std::size_t EndOf(std::size_t start) const {
    for (std::size_t at = start;; ++at) {
      at = m_bytes.find('\n', at);
      if (at == std::string_view::npos) return m_bytes.size();
      if (m_unit == 1) return at + 1;
      if (at % 2 == 0 && at + 1 < m_bytes.size() && m_bytes[at + 1] == '\0') return at + 2;
    }
  }

 private:
  std::string_view m_bytes;
  std::size_t m_unit;
};

// Decides line by line what stays.
class Removal {
 public:
  // Paths are compared as their folded characters, each path folded once.
  Removal(const RegRemovals& removed, const sim::NameRules& names)
      : m_names(names), m_separator(names.FoldKey("\\")) {
    for (const std::string& key : removed.keys) m_keys.push_back(names.FoldKey(key));
    for (const RegRemovals::Value& value : removed.values) {
      m_values.push_back({names.FoldKey(value.keyPath), value.name});
    }
  }

  bool Keeps(std::string_view line) {
    const bool kept = Decide(line);
    m_previousDropped = !kept;
    return kept;
  }

 private:
  bool Decide(std::string_view line) {
    if (m_continued) {
      m_continued = !TrimRight(line).empty() && TrimRight(line).back() == '\\';
      return !m_droppingValue;
    }
    const std::size_t first = SkipBlanks(line, 0);
    if (first == line.size()) return !(m_droppingSection && m_previousDropped);
    if (line[first] == '[') return KeepsKeyLine(TrimRight(line.substr(first)));
    if (line[first] == '"' || line[first] == '@') return KeepsValueLine(line, first);
    return true;
  }

  bool KeepsKeyLine(std::string_view line) {
    constexpr std::string_view kMachinePrefix = "HKEY_LOCAL_MACHINE\\";
    m_droppingSection = false;
    m_inMachine = false;
    const std::string_view inner = line.substr(1, line.size() - 2);
    if (!StartsWithIgnoringCase(inner, kMachinePrefix) || inner.size() == kMachinePrefix.size()) {
      return true;
    }
    m_inMachine = true;
    m_sectionPath = m_names.FoldKey(inner.substr(kMachinePrefix.size()));
    m_droppingSection = IsBelowRemovedKey();
    return !m_droppingSection;
  }

  bool KeepsValueLine(std::string_view line, std::size_t first) {
    std::size_t i = first;
    m_name.clear();
    if (line[first] == '@') {
      ++i;
    } else {
      ReadQuotedText(line, &i, &m_name, m_names);
    }
    const std::size_t equals = line.find('=', i);
    m_continued = equals != std::string_view::npos && ContinuesHexList(line.substr(equals + 1));
    m_droppingValue = m_droppingSection || IsRemovedValue(m_name);
    return !m_droppingValue;
  }

  bool IsBelowRemovedKey() const {
    for (const std::string& key : m_keys) {
      if (m_sectionPath.compare(0, key.size(), key) == 0 &&
          (m_sectionPath.size() == key.size() ||
           m_sectionPath.compare(key.size(), m_separator.size(), m_separator) == 0)) {
        return true;
      }
    }
    return false;
  }

  bool IsRemovedValue(std::string_view name) const {
    if (!m_inMachine) return false;
    for (const FoldedValue& value : m_values) {
      if (m_sectionPath == value.keyPath && m_names.Equal(name, value.name)) return true;
    }
    return false;
  }

  struct FoldedValue {
    std::string keyPath;
    std::string name;
  };

  const sim::NameRules& m_names;
  const std::string m_separator;
  std::vector<std::string> m_keys;
  std::vector<FoldedValue> m_values;
  // The section's key below HKEY_LOCAL_MACHINE, folded, when it is one.
  bool m_inMachine = false;
  std::string m_sectionPath;
  bool m_droppingSection = false;
  bool m_droppingValue = false;
  bool m_continued = false;  // the next line goes on with a hex list
  bool m_previousDropped = false;
  std::string m_name;
};

}  // namespace

Outcome<std::vector<std::string_view>> RemoveFromRegFile(const RegDocument& document,
                                                         const RegRemovals& removed,
                                                         const sim::NameRules& names,
                                                         std::uint32_t codePage) {
  using Result = Outcome<std::vector<std::string_view>>;
  RegEncoding encoding = RegEncoding::kBytes;
  std::string owned;
  std::string_view text;
  // The file was read: a line the code page lacks is none of the registry's.
  std::vector<UnreadableLine> unreadable;
  const std::string problem =
      DecodeRegText(document.bytes, codePage, &encoding, &owned, &text, &unreadable);
  if (!problem.empty()) return Result::Failure(problem);
  const std::string_view bytes = document.bytes;
  const ByteLines lines(bytes, encoding);
  Removal removal(removed, names);
  std::vector<std::string_view> kept;
  // The kept lines go a run at a time.
  std::size_t keptFrom = 0;
  std::size_t start = 0;
  for (std::size_t next = 0; next <= text.size();) {
    std::size_t end = text.find('\n', next);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(next, end - next);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    next = end + 1;
    const std::size_t after = lines.EndOf(start);
    if (!removal.Keeps(line)) {
      if (start > keptFrom) kept.push_back(bytes.substr(keptFrom, start - keptFrom));
      keptFrom = after;
    }
    start = after;
  }
  if (bytes.size() > keptFrom) kept.push_back(bytes.substr(keptFrom));
  return kept;
}

}  // namespace uninst::tool
