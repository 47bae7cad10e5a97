// Reads registry.reg into a registry, applying its deletions in order as an
// import into an empty registry would.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <unordered_map>

#include "platform/AsciiCase.h"
#include "platform/Platform.h"
#include "platform/sim/CodePage.h"
#include "platform/sim/RegistryNode.h"
#include "tools/uninst-sim/regfile/RegFile.h"
#include "tools/uninst-sim/regfile/RegSyntax.h"
#include "tools/uninst-sim/regfile/TextCodec.h"

namespace uninst::tool {

namespace {

struct Failure {
  int line = 0;
  std::string message;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// At most 40 bytes of text in the code page, as UTF-8 for a message.
std::string Excerpt(std::string_view text, std::uint32_t codePage) {
  const std::string shown = sim::CodePageToUtf8Lossy(codePage, std::string(text.substr(0, 40)));
  return text.size() > 40 ? shown + "..." : shown;
}

// Reads up to `maxDigits` hex digits at `i` into `value`; returns the count.
std::size_t ReadHexNumber(std::string_view text, std::size_t i, std::size_t maxDigits,
                          std::uint32_t* value) {
  std::size_t count = 0;
  *value = 0;
  while (i + count < text.size() && HexDigit(text[i + count]) >= 0) {
    if (count == maxDigits) return 0;
    *value = (*value << 4) | static_cast<std::uint32_t>(HexDigit(text[i + count]));
    ++count;
  }
  return count;
}

int LineAtOffset(std::string_view text, std::size_t offset) {
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + offset, '\n'));
}

// UTF-16LE text of ASCII characters alone, as most exports are, narrowed
// to `out` without a conversion; false for any other text.
bool NarrowAsciiUtf16(std::string_view units, std::string* out) {
  if (units.size() % 2 != 0) return false;
  out->resize(units.size() / 2);
  char* to = out->data();
  for (std::size_t i = 0; i < units.size(); i += 2) {
    if (units[i + 1] != 0 || static_cast<unsigned char>(units[i]) >= 0x80) return false;
    *to++ = units[i];
  }
  return true;
}

// Appends UTF-8 text in the code page; when a character is none
// of the code page's, or one the code page gives the code of another (which
// would merge names the file keeps apart), appends it lossily and returns
// what is wrong.
std::string AppendInCodePage(std::string_view line, std::uint32_t codePage, std::string* out) {
  const std::string utf8(line);
  std::size_t bad = 0;
  const std::optional<std::string> converted = sim::Utf8ToCodePage(codePage, utf8, &bad);
  const std::optional<std::string> back =
      converted ? sim::CodePageToUtf8(codePage, *converted) : std::nullopt;
  const bool shared = converted && back != utf8;
  if (converted && !shared) {
    *out += *converted;
    return "";
  }
  *out += sim::Utf8ToCodePageLossy(codePage, utf8);
  if (shared) {
    bad = static_cast<std::size_t>(
        std::mismatch(utf8.begin(), utf8.end(), back->begin(), back->end()).first - utf8.begin());
    while (bad > 0 && (static_cast<unsigned char>(utf8[bad]) & 0xC0) == 0x80) --bad;
  }
  std::size_t end = bad + 1;
  while (end < utf8.size() && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) ++end;
  return "\"" + utf8.substr(bad, end - bad) +
         (shared ? "\" shares its code with another character in " : "\" is no character of ") +
         "code page " + std::to_string(codePage) + ", the machine's ANSI code page";
}

// A value's data text, joined from its continuation lines, or the line
// itself when it has none, so that a large value is not copied; remembers
// where each physical line starts so that an error can name it.
struct Logical {
  std::string_view text;
  std::string joined;
  std::vector<std::pair<std::size_t, int>> starts;  // offset in text, line number

  int LineAt(std::size_t offset) const {
    int line = starts.front().second;
    for (const auto& [start, number] : starts) {
      if (start <= offset) line = number;
    }
    return line;
  }
};

// The values of a key as the file sets and deletes them, settled when
// the key ends, so that a key with a great many values costs no more than
// its lines: a value set again keeps its place and its first spelling, a
// deleted one goes, and one set again after its deletion comes last.
class GatheredValues {
 public:
  explicit GatheredValues(const sim::NameRules& names) : m_names(names) {}

  void Set(std::string_view name, std::uint32_t type, const std::uint8_t* data, std::size_t size) {
    const std::size_t entry = m_logEntries++;
    m_log.Append(name, type, data, size);
    if (Slot* slot = Find(name)) {
      slot->latest = entry;
      return;
    }
    m_slots.push_back(Slot{std::string(name), entry, false});
    if (!m_index.empty() || m_slots.size() > kIndexedValues) Index(m_slots.size() - 1);
  }

  // Takes the values a key already holds, as the first it sets.
  void Seed(sim::ValueList& values) {
    values.ForEach([this](const sim::ValueList::View& value) {
      Set(value.name, value.type, value.data, value.size);
    });
    values.Clear();
  }

  void Delete(std::string_view name) {
    Slot* slot = Find(name);
    if (!slot) return;
    slot->gone = true;
    const auto [first, last] = m_index.equal_range(m_names.FoldKey(name));
    for (auto at = first; at != last; ++at) {
      if (&m_slots[at->second] == slot) {
        m_index.erase(at);
        break;
      }
    }
  }

  void MoveInto(sim::ValueList& values) {
    m_views.clear();
    m_log.ForEach([this](const sim::ValueList::View& view) { m_views.push_back(view); });
    std::size_t size = 0;
    bool each = m_logEntries == m_slots.size();
    for (const Slot& slot : m_slots) {
      each = each && !slot.gone;
      if (!slot.gone)
        size += 3 * sizeof(std::uint32_t) + slot.name.size() + m_views[slot.latest].size;
    }
    // Each value set once and none deleted: the log is the list itself,
    // which a large one takes over rather than being copied.
    if (each && size >= kMovedBytes) {
      values = std::move(m_log);
      return;
    }
    values.Reserve(size);
    for (const Slot& slot : m_slots) {
      if (slot.gone) continue;
      const sim::ValueList::View& latest = m_views[slot.latest];
      values.Append(slot.name, latest.type, latest.data, latest.size);
    }
  }

  void Clear() {
    m_log.Clear();
    m_logEntries = 0;
    m_slots.clear();
    m_index.clear();
  }

 private:
  // Below this many values a scan finds a name faster than an index would.
  static constexpr std::size_t kIndexedValues = 16;
  // Values this large move from the log whole; smaller ones are copied into
  // a list of their exact size, which many small keys' memory needs.
  static constexpr std::size_t kMovedBytes = std::size_t{1} << 20;

  // A value: its first spelling and the entry of the log that last set it.
  struct Slot {
    std::string name;
    std::size_t latest;
    bool gone;
  };

  Slot* Find(std::string_view name) {
    if (!m_index.empty()) {
      const auto [first, last] = m_index.equal_range(m_names.FoldKey(name));
      for (auto at = first; at != last; ++at) {
        if (m_names.Equal(m_slots[at->second].name, name)) return &m_slots[at->second];
      }
      return nullptr;
    }
    for (Slot& slot : m_slots) {
      if (!slot.gone && m_names.Equal(slot.name, name)) return &slot;
    }
    return nullptr;
  }

  // Indexes the slot `added`, or every slot once the index is needed.
  void Index(std::size_t added) {
    const std::size_t first = m_index.empty() ? 0 : added;
    for (std::size_t k = first; k <= added; ++k) {
      if (!m_slots[k].gone) m_index.emplace(m_names.FoldKey(m_slots[k].name), k);
    }
  }

  sim::ValueList m_log;  // every value set, in order
  std::size_t m_logEntries = 0;
  std::vector<Slot> m_slots;
  // Slots by their names' NameRules::FoldKey, equal exactly for names the
  // rules take for one.
  std::unordered_multimap<std::string, std::size_t> m_index;
  const sim::NameRules& m_names;
  std::vector<sim::ValueList::View> m_views;
};

// Reads the text line by line straight into the registry; the buffers it
// reuses keep a whole machine's export from costing an allocation a line.
class Reader {
 public:
  Reader(std::string_view text, std::uint32_t codePage, sim::Registry& registry,
         const std::vector<UnreadableLine>& unreadable)
      : m_text(text),
        m_codePage(codePage),
        m_registry(registry),
        m_gathered(registry.Names()),
        m_unreadable(unreadable) {}

  // The roots of the key lines read, a bit each, 1 << RegRoot.
  unsigned Roots() const { return m_roots; }
  int LongNameLine() const { return m_longNameLine; }

  Outcome<RegFormat> Read() {
    RegFormat format = RegFormat::kRegedit4;
    if (!ReadHeader(NextLine(), &format)) return Fail();
    while (m_next <= m_text.size()) {
      if (!ReadLine(NextLine())) return Fail();
    }
    FinishKey();
    return format;
  }

 private:
  Outcome<RegFormat> Fail() const {
    return Outcome<RegFormat>::Failure("line " + std::to_string(m_failure.line) + ": " +
                                       m_failure.message);
  }

  bool Error(int line, std::string message) {
    m_failure = {line, std::move(message)};
    return false;
  }

  // The next line without its line break; m_line becomes its number.
  std::string_view NextLine() {
    std::size_t end = m_text.find('\n', m_next);
    if (end == std::string_view::npos) end = m_text.size();
    std::string_view line = m_text.substr(m_next, end - m_next);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    m_next = end + 1;
    ++m_line;
    m_lineLossy = nullptr;
    if (m_nextUnreadable < m_unreadable.size() && m_unreadable[m_nextUnreadable].line == m_line) {
      m_lineLossy = &m_unreadable[m_nextUnreadable++];
    }
    if (!m_lossy) m_lossy = m_lineLossy;
    return line;
  }

  // Refuses a line read lossily, or a hex list with one, that the registry
  // would keep.
  bool RefuseLossy() { return Error(m_lossy->line, m_lossy->problem); }

  bool HasLongName(std::string_view path) const {
    for (const std::string_view name : m_registry.Names().Split(path)) {
      if (m_registry.Names().Length(name) > sim::kMaxKeyNameLength) return true;
    }
    return false;
  }

  bool AtEnd() const { return m_next > m_text.size(); }

  bool ReadHeader(std::string_view line, RegFormat* format) {
    const std::string_view first = TrimRight(line);
    if (first == kRegedit4Header) {
      *format = RegFormat::kRegedit4;
    } else if (first == kVersion5Header) {
      *format = RegFormat::kVersion5;
    } else {
      return Error(1, std::string("not a registry file: the first line must be \"") +
                          kRegedit4Header + "\" or \"" + kVersion5Header + "\"");
    }
    return true;
  }

  bool ReadLine(std::string_view line) {
    const std::size_t first = SkipBlanks(line, 0);
    // Only the lines of this logical line count.
    m_lossy = m_lineLossy;
    if (first == line.size() || line[first] == ';') return true;
    if (line[first] == '[') return ReadKeyLine(TrimRight(line.substr(first)));
    if (line[first] == '"' || line[first] == '@') return ReadValueLine(line, first);
    return Error(m_line, "unexpected text \"" + Excerpt(line.substr(first), m_codePage) + "\"");
  }

  // True when the line's last character is the single byte `c`, not the
  // second byte of a double-byte character.
  bool EndsWithCharacter(std::string_view line, char c) const {
    std::size_t at = 0;
    std::size_t last = 0;
    while (at < line.size()) {
      last = at;
      at += m_registry.Names().IsLead(line[at]) ? 2 : 1;
    }
    return at == line.size() && last + 1 == at && line[last] == c;
  }

  bool ReadKeyLine(std::string_view line) {
    if (!EndsWithCharacter(line, ']')) return Error(m_line, "a key line must end with ']'");
    std::string_view inner = line.substr(1, line.size() - 2);
    const bool deleted = !inner.empty() && inner[0] == '-';
    if (deleted) inner.remove_prefix(1);
    const int root = RootOf(inner);
    if (root == kNoRoot) {
      return Error(m_line, "the key \"" + Excerpt(inner, m_codePage) +
                               "\" is below none of the root keys regedit writes");
    }
    const std::size_t slash = inner.find('\\');
    std::string_view path =
        slash == std::string_view::npos ? std::string_view() : inner.substr(slash + 1);
    const std::string problem = KeyPathProblem(path, m_registry.Names());
    if (slash != std::string_view::npos && !problem.empty()) {
      return Error(m_line, "the key path \"" + Excerpt(inner, m_codePage) + "\" " + problem);
    }
    if (deleted && path.empty()) {
      return Error(m_line, std::string("cannot delete ") + kRootNames[root]);
    }
    if (m_lossy && root == RootOf(kRootName)) return RefuseLossy();
    if (m_longNameLine == 0 && root == RootOf(kRootName) && HasLongName(path)) {
      m_longNameLine = m_line;
    }
    FinishKey();
    m_roots |= 1u << root;
    m_keyDeleted = deleted;
    // Only HKEY_LOCAL_MACHINE is the program's to see; the other roots'
    // lines are checked alike and stay in the file as they are.
    m_otherRoot = kRootNames[root] != std::string_view(kRootName);
    if (m_otherRoot) return true;
    if (deleted) {
      m_registry.DeleteKey(std::string(path));
      m_previousKeys.clear();
    } else if (!path.empty()) {
      m_current = OpenKey(path);
    }
    return true;
  }

  void FinishKey() {
    if (m_current) m_gathered.MoveInto(m_current->values);
    m_gathered.Clear();
    m_current = nullptr;
  }

  void SetValue(std::uint32_t type) {
    if (m_otherRoot) return;
    m_gathered.Set(m_name, type, reinterpret_cast<const std::uint8_t*>(m_bytes.data()),
                   m_bytes.size());
  }

  void DeleteValue() {
    if (!m_otherRoot) m_gathered.Delete(m_name);
  }

  // The key at `path`, created with its missing parents. A key mostly comes
  // right after its parent or a sibling: it is then made from the nearest
  // key it shares with the previous path, so that each costs one step rather
  // than one per level.
  sim::Registry::Node* OpenKey(std::string_view path) {
    while (!m_previousKeys.empty() && !SharesKey(path, m_previousKeys.back().end)) {
      m_previousKeys.pop_back();
    }
    sim::Registry::Node* key =
        m_previousKeys.empty() ? m_registry.Root() : m_previousKeys.back().key;
    std::size_t start = m_previousKeys.empty() ? 0 : m_previousKeys.back().end + 1;
    while (start < path.size()) {
      const std::size_t end = m_registry.Names().FindSeparator(path, start);
      key = key->AddChild(path.substr(start, end - start), m_registry.Names());
      m_previousKeys.push_back({end, key});
      start = end + 1;
    }
    m_previousPath.assign(path);
    // A key met again gathers on from the values it holds, so that no
    // section costs more than its own lines and those values.
    m_gathered.Seed(key->values);
    return key;
  }

  // True when the first `end` bytes of `path` and of the previous path, a
  // whole key path up to a separator, name the same key.
  bool SharesKey(std::string_view path, std::size_t end) const {
    return (path.size() == end || (path.size() > end && path[end] == '\\')) &&
           path.compare(0, end, m_previousPath, 0, end) == 0;
  }

  bool ReadValueLine(std::string_view line, std::size_t first) {
    if (m_keyDeleted) return Error(m_line, "a value follows a deleted key");
    if (!m_current && !m_otherRoot) {
      return Error(m_line, m_roots == 0 ? std::string("a value must follow a key")
                                        : std::string(kRootName) + " holds no values of its own");
    }
    m_name.clear();
    std::size_t i = first;
    if (line[i] == '@') {
      ++i;
    } else if (!ReadQuoted(line, &i, &m_name, m_line)) {
      return false;
    }
    i = SkipBlanks(line, i);
    if (i == line.size() || line[i] != '=') return Error(m_line, "expected '=' after the name");
    i = SkipBlanks(line, i + 1);
    if (!JoinContinuations(line.substr(i))) {
      return Error(m_line, "the hex list continues past the end of the file");
    }
    if (m_lossy && !m_otherRoot) return RefuseLossy();
    return ReadData();
  }

  // A hex list continues on the next line after a trailing backslash.
  bool JoinContinuations(std::string_view piece) {
    m_data.joined.clear();
    m_data.starts.clear();
    piece = TrimRight(piece);
    m_data.starts.emplace_back(0, m_line);
    m_data.text = piece;
    const bool isHex = StartsWithIgnoringCase(piece, "hex");
    if (!isHex || piece.empty() || piece.back() != '\\') return true;
    while (!piece.empty() && piece.back() == '\\') {
      piece.remove_suffix(1);
      m_data.joined += piece;
      if (AtEnd()) return false;
      const std::string_view next = NextLine();
      piece = TrimRight(next.substr(SkipBlanks(next, 0)));
      m_data.starts.emplace_back(m_data.joined.size(), m_line);
    }
    m_data.joined += piece;
    m_data.text = m_data.joined;
    return true;
  }

  bool ReadQuoted(std::string_view line, std::size_t* i, std::string* out, int number) {
    const char* problem = ReadQuotedText(line, i, out, m_registry.Names());
    return *problem == '\0' || Error(number, problem);
  }

  bool ReadData() {
    const std::string_view text = m_data.text;
    const int number = m_data.starts.front().second;
    std::uint32_t type = kRegSz;
    m_bytes.clear();
    std::size_t end = 0;
    if (!text.empty() && text[0] == '"') {
      if (!ReadQuoted(text, &end, &m_bytes, number)) return false;
      m_bytes.push_back('\0');
    } else if (text == "-") {
      DeleteValue();
      return true;
    } else if (StartsWithIgnoringCase(text, "dword:")) {
      std::uint32_t number32 = 0;
      const std::size_t digits = ReadHexNumber(text, 6, 8, &number32);
      if (digits == 0) return Error(number, "a dword needs one to eight hex digits");
      end = 6 + digits;
      type = kRegDword;
      for (int shift = 0; shift < 32; shift += 8) {
        m_bytes.push_back(static_cast<char>(number32 >> shift));
      }
    } else if (!ReadHexValue(&type)) {
      return false;
    } else {
      end = text.size();
    }
    if (SkipBlanks(text, end) != text.size()) {
      return Error(m_data.LineAt(end), "unexpected text after the value");
    }
    SetValue(type);
    return true;
  }

  bool ReadHexValue(std::uint32_t* type) {
    const std::string_view text = m_data.text;
    const int number = m_data.starts.front().second;
    std::size_t i = 0;
    if (StartsWithIgnoringCase(text, "hex:")) {
      *type = kRegBinary;
      i = 4;
    } else if (StartsWithIgnoringCase(text, "hex(")) {
      const std::size_t digits = ReadHexNumber(text, 4, 8, type);
      if (digits == 0 || text.compare(4 + digits, 2, "):") != 0) {
        return Error(number, "a typed hex value is written hex(type):");
      }
      i = 4 + digits + 2;
    } else {
      return Error(number, "unknown value type \"" + Excerpt(text, m_codePage) + "\"");
    }
    return ReadHexBytes(i);
  }

  bool ReadHexBytes(std::size_t i) {
    const std::string_view text = m_data.text;
    i = SkipBlanks(text, i);
    if (i == text.size()) return true;
    for (;;) {
      std::uint32_t byte = 0;
      const std::size_t digits = ReadHexNumber(text, i, 2, &byte);
      if (digits == 0) return Error(m_data.LineAt(i), "a hex list holds bytes such as 0a,ff");
      m_bytes.push_back(static_cast<char>(byte));
      i = SkipBlanks(text, i + digits);
      if (i == text.size()) return true;
      if (text[i] != ',') return Error(m_data.LineAt(i), "expected ',' between hex bytes");
      i = SkipBlanks(text, i + 1);
      if (i == text.size()) return Error(m_data.LineAt(i), "a hex list ends with ','");
    }
  }

  std::string_view m_text;
  std::uint32_t m_codePage;
  std::size_t m_next = 0;
  int m_line = 0;
  sim::Registry& m_registry;
  sim::Registry::Node* m_current = nullptr;
  bool m_keyDeleted = false;
  // The key line read last is of a root other than HKEY_LOCAL_MACHINE.
  bool m_otherRoot = false;
  unsigned m_roots = 0;
  int m_longNameLine = 0;
  // The last key opened and its ancestors, each with the offset in the path
  // where its name ends, to create the next key from.
  struct OpenedKey {
    std::size_t end;
    sim::Registry::Node* key;
  };
  std::string m_previousPath;
  std::vector<OpenedKey> m_previousKeys;
  // Reused for every value.
  std::string m_name;
  Logical m_data;
  std::string m_bytes;  // the value's data
  // The values of the key being read, given to it whole when the key ends.
  GatheredValues m_gathered;
  // The lines converted lossily, in order; the first of the logical line
  // being read, or nullptr.
  const std::vector<UnreadableLine>& m_unreadable;
  std::size_t m_nextUnreadable = 0;
  const UnreadableLine* m_lineLossy = nullptr;  // the line read last
  const UnreadableLine* m_lossy = nullptr;
  Failure m_failure;
};

}  // namespace

// The file's text in the machine's ANSI code page, which the lines are
// parsed in, character by character, so that a 0x5C trail byte is never
// taken for a backslash: single-byte text is the file's bytes themselves,
// once they are known to be text in that code page, and `*text` views them;
// Unicode text must hold only characters of the code page, as the machine
// keeps every string in it, and is converted into `*owned`. `encoding`
// receives how the text was stored. "" or what is wrong.
std::string DecodeRegText(std::string_view bytes, std::uint32_t codePage, RegEncoding* encoding,
                          std::string* owned, std::string_view* text,
                          std::vector<UnreadableLine>* unreadable) {
  *encoding = RegEncoding::kBytes;
  std::size_t bad = 0;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    *encoding = RegEncoding::kUtf16Le;
    if (!NarrowAsciiUtf16(bytes.substr(2), owned)) {
      std::optional<std::string> decoded = Utf16LeToUtf8(std::string(bytes.substr(2)), &bad);
      if (!decoded) {
        const std::string good = *Utf16LeToUtf8(std::string(bytes.substr(2, bad)));
        return "line " + std::to_string(LineAtOffset(good, good.size())) +
               ": the text is not valid UTF-16LE";
      }
      *owned = std::move(*decoded);
    }
    bytes = *owned;
  } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    *encoding = RegEncoding::kUtf8WithMark;
    bytes.remove_prefix(3);
  }
  *text = bytes;
  if (sim::IsAscii(bytes)) return "";
  if (*encoding == RegEncoding::kBytes) {
    const std::string page = "code page " + std::to_string(codePage);
    if (!sim::CodePageToUtf8(codePage, std::string(bytes), &bad)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(bytes[bad]));
      return "line " + std::to_string(LineAtOffset(bytes, bad)) + ": the byte " + hex +
             " is not text in " + page + ", the machine's ANSI code page";
    }
    return "";
  }
  // Whole when it can be, else line by line, so that a line the registry
  // does not keep (another root's, a comment) may hold what the code page
  // lacks.
  std::string converted;
  if (AppendInCodePage(bytes, codePage, &converted).empty()) {
    *owned = std::move(converted);
    *text = *owned;
    return "";
  }
  converted.clear();
  int number = 1;
  for (std::size_t start = 0;; ++number) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view line = bytes.substr(start, end - start);
    if (sim::IsAscii(line)) {
      converted += line;
    } else if (std::string problem = AppendInCodePage(line, codePage, &converted);
               !problem.empty()) {
      unreadable->push_back({number, std::move(problem)});
    }
    if (end == bytes.size()) break;
    converted += '\n';
    start = end + 1;
  }
  *owned = std::move(converted);
  *text = *owned;
  return "";
}

bool operator==(const RegKeyEntry& a, const RegKeyEntry& b) {
  if (a.path != b.path || a.values.size() != b.values.size()) return false;
  for (std::size_t i = 0; i < a.values.size(); ++i) {
    const sim::RegValue& x = a.values[i];
    const sim::RegValue& y = b.values[i];
    if (x.name != y.name || x.type != y.type || x.data != y.data) return false;
  }
  return true;
}

Outcome<RegDocument> ReadRegFile(std::string bytes, std::uint32_t codePage) {
  RegDocument document;
  // In the order of the file, which needs no sorting while the document is checked.
  document.registry = sim::Registry(sim::WindowsFamily::k9x, codePage);
  document.bytes = std::move(bytes);
  std::string owned;
  std::string_view text;
  std::vector<UnreadableLine> unreadable;
  const std::string problem =
      DecodeRegText(document.bytes, codePage, &document.encoding, &owned, &text, &unreadable);
  if (!problem.empty()) return Outcome<RegDocument>::Failure(problem);
  Reader reader(text, codePage, document.registry, unreadable);
  Outcome<RegFormat> format = reader.Read();
  if (!format.Ok()) return Outcome<RegDocument>::Failure(format.Error());
  document.format = format.Value();
  document.roots = reader.Roots();
  document.longNameLine = reader.LongNameLine();
  return document;
}

}  // namespace uninst::tool
