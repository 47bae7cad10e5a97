// Takes what a run removed out of registry.reg as it was read, so that every
// line it did not remove stays byte for byte: other roots, comments, blank
// lines, line endings and the wrapping of long hex lists.
#include <algorithm>
#include <deque>
#include <string_view>
#include <vector>

#include "tools/uninst-sim/regfile/RegFile.h"
#include "tools/uninst-sim/regfile/RegSyntax.h"

namespace uninst::tool {

namespace {

constexpr std::string_view kMachinePrefix = "HKEY_LOCAL_MACHINE\\";

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

// A key that stays although every line naming it went with a removed key
// below it: the file gets a line of its own for it where the first of them
// was, or the next load would lose it.
struct KeptParent {
  std::string folded;
  std::size_t depth = 0;  // its names
  bool named = false;     // a kept key line names it or a key below it
  bool dropped = false;   // a removed line named a key below it
  std::size_t at = 0;     // the first such line's offset in the bytes
  std::string line;       // its key line, in the code page, with the line break
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
    for (const std::string& key : removed.keys) NoteParentOf(key);
  }

  // `line` without its line break, which `lineBreak` is.
  bool Keeps(std::string_view line, std::string_view lineBreak, std::size_t at) {
    m_lineBreak = lineBreak;
    m_at = at;
    const bool kept = Decide(line);
    m_previousDropped = !kept;
    return kept;
  }

  // The parents that need a key line of their own, in the order of the file.
  std::vector<const KeptParent*> UnnamedParents() const {
    std::vector<const KeptParent*> parents;
    for (const KeptParent& parent : m_parents) {
      if (parent.dropped && !parent.named) parents.push_back(&parent);
    }
    std::sort(parents.begin(), parents.end(),
              [](const KeptParent* a, const KeptParent* b) { return a->at < b->at; });
    return parents;
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
    m_inMachine = false;
    const std::string_view inner = line.substr(1, line.size() - 2);
    if (!StartsWithIgnoringCase(inner, kMachinePrefix) || inner.size() == kMachinePrefix.size()) {
      return true;
    }
    m_inMachine = true;
    m_sectionPath = m_names.FoldKey(inner.substr(kMachinePrefix.size()));
    m_droppingSection = IsBelowRemovedKey();
    for (KeptParent& parent : m_parents) {
      if (!IsAtOrBelow(m_sectionPath, parent.folded)) continue;
      if (!m_droppingSection) {
        parent.named = true;
      } else if (!parent.dropped) {
        parent.dropped = true;
        parent.at = m_at;
        parent.line = ParentLine(inner, parent.depth);
      }
    }
    return !m_droppingSection;
  }

  // The key line of the first `depth` names of the section `inner`, spelt
  // as the file spells them.
  std::string ParentLine(std::string_view inner, std::size_t depth) const {
    std::size_t end = kMachinePrefix.size() - 1;
    for (std::size_t i = 0; i < depth; ++i) end = m_names.FindSeparator(inner, end + 1);
    std::string line = "[";
    line.append(inner.substr(0, std::min(end, inner.size())));
    line += "]";
    line.append(m_lineBreak);
    line.append(m_lineBreak);
    return line;
  }

  void NoteParentOf(const std::string& key) {
    const std::vector<std::string_view> names = m_names.Split(key);
    if (names.size() < 2) return;
    const std::size_t end =
        names[names.size() - 2].data() + names[names.size() - 2].size() - key.data();
    KeptParent parent;
    parent.folded = m_names.FoldKey(std::string_view(key).substr(0, end));
    parent.depth = names.size() - 1;
    for (const std::string& removedKey : m_keys) {
      if (IsAtOrBelow(parent.folded, removedKey)) return;
    }
    for (const KeptParent& known : m_parents) {
      if (known.folded == parent.folded) return;
    }
    m_parents.push_back(std::move(parent));
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

  bool IsAtOrBelow(const std::string& path, const std::string& key) const {
    return path.compare(0, key.size(), key) == 0 &&
           (path.size() == key.size() ||
            path.compare(key.size(), m_separator.size(), m_separator) == 0);
  }

  bool IsBelowRemovedKey() const {
    for (const std::string& key : m_keys) {
      if (IsAtOrBelow(m_sectionPath, key)) return true;
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
  std::vector<KeptParent> m_parents;
  std::string_view m_lineBreak;
  std::size_t m_at = 0;  // the offset of the line being decided
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
                                                         std::deque<std::string>* added,
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
  // The byte ranges of the removed lines, in order.
  std::vector<std::pair<std::size_t, std::size_t>> dropped;
  std::size_t start = 0;
  for (std::size_t next = 0; next <= text.size();) {
    std::size_t end = text.find('\n', next);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(next, end - next);
    const bool returns = !line.empty() && line.back() == '\r';
    if (returns) line.remove_suffix(1);
    next = end + 1;
    const std::size_t after = lines.EndOf(start);
    if (!removal.Keeps(line, end < text.size() && !returns ? "\n" : "\r\n", start)) {
      if (!dropped.empty() && dropped.back().second == start) {
        dropped.back().second = after;
      } else {
        dropped.emplace_back(start, after);
      }
    }
    start = after;
  }
  // The kept lines go a run at a time, a parent's own line where its first
  // removed line was.
  const std::vector<const KeptParent*> parents = removal.UnnamedParents();
  auto parent = parents.begin();
  std::vector<std::string_view> kept;
  std::size_t keptFrom = 0;
  for (const auto& [from, to] : dropped) {
    if (from > keptFrom) kept.push_back(bytes.substr(keptFrom, from - keptFrom));
    for (; parent != parents.end() && (*parent)->at < to; ++parent) {
      std::string line = EncodeRegText((*parent)->line, encoding, codePage);
      // Without the byte-order mark the encoding begins a file with.
      line.erase(0, encoding == RegEncoding::kUtf16Le        ? 2
                    : encoding == RegEncoding::kUtf8WithMark ? 3
                                                             : 0);
      kept.push_back(added->emplace_back(std::move(line)));
    }
    keptFrom = to;
  }
  if (bytes.size() > keptFrom) kept.push_back(bytes.substr(keptFrom));
  return kept;
}

}  // namespace uninst::tool
