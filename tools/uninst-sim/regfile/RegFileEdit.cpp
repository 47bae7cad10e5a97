// Takes what a run removed out of registry.reg as it was read, so that every
// line it did not remove stays byte for byte: other roots, comments, blank
// lines, line endings and the wrapping of long hex lists.
#include <string_view>

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

bool FirstBytesDiffer(std::string_view a, std::string_view b) {
  const auto ascii = [](char c) { return static_cast<unsigned char>(c) < 0x80; };
  return !a.empty() && !b.empty() && ascii(a[0]) && ascii(b[0]) &&
         uninst::UpperAscii(a[0]) != uninst::UpperAscii(b[0]);
}

// Decides line by line what stays.
class Removal {
 public:
  Removal(const RegRemovals& removed, const sim::NameRules& names)
      : m_removed(removed), m_names(names) {}

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
    m_droppingSection = false;
    m_sectionPath = std::string_view();
    constexpr std::string_view kMachinePrefix = "HKEY_LOCAL_MACHINE\\";
    const std::string_view inner = line.substr(1, line.size() - 2);
    if (!StartsWithIgnoringCase(inner, kMachinePrefix) || inner.size() == kMachinePrefix.size()) {
      return true;
    }
    m_sectionPath = inner.substr(kMachinePrefix.size());
    m_droppingSection = IsBelowRemovedKey(m_sectionPath);
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

  bool IsBelowRemovedKey(std::string_view path) const {
    for (const std::string& key : m_removed.keys) {
      if (path.size() < key.size() || FirstBytesDiffer(path, key)) continue;
      if ((path.size() == key.size() || path[key.size()] == '\\') &&
          m_names.Equal(path.substr(0, key.size()), key)) {
        return true;
      }
    }
    return false;
  }

  bool IsRemovedValue(std::string_view name) const {
    if (m_sectionPath.empty()) return false;
    for (const RegRemovals::Value& value : m_removed.values) {
      if (!FirstBytesDiffer(m_sectionPath, value.keyPath) &&
          m_names.Equal(m_sectionPath, value.keyPath) && m_names.Equal(name, value.name)) {
        return true;
      }
    }
    return false;
  }

  const RegRemovals& m_removed;
  const sim::NameRules& m_names;
  std::string_view m_sectionPath;  // below HKEY_LOCAL_MACHINE, or empty
  bool m_droppingSection = false;
  bool m_droppingValue = false;
  bool m_continued = false;  // the next line goes on with a hex list
  bool m_previousDropped = false;
  std::string m_name;
};

}  // namespace

Outcome<std::string> RemoveFromRegFile(const RegDocument& document, const RegRemovals& removed,
                                       const sim::NameRules& names, std::uint32_t codePage) {
  RegEncoding encoding = RegEncoding::kBytes;
  std::string owned;
  std::string_view text;
  const std::string problem = DecodeRegText(document.bytes, codePage, &encoding, &owned, &text);
  if (!problem.empty()) return Outcome<std::string>::Failure(problem);
  const std::string_view bytes = document.bytes;
  const ByteLines lines(bytes, encoding);
  Removal removal(removed, names);
  std::string out;
  out.reserve(bytes.size());
  // The kept lines are copied a run at a time.
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
      out.append(bytes, keptFrom, start - keptFrom);
      keptFrom = after;
    }
    start = after;
  }
  out.append(bytes, keptFrom, bytes.size() - keptFrom);
  return out;
}

}  // namespace uninst::tool
