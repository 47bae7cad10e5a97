// Reads registry.reg into the keys it leaves, applying its deletions in order
// as an import into an empty registry would.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>

#include "platform/Platform.h"
#include "platform/sim/CodePage.h"
#include "tools/uninst-sim/RegFile.h"
#include "tools/uninst-sim/RegSyntax.h"
#include "tools/uninst-sim/TextCodec.h"

namespace uninst::tool {

namespace {

struct Failure {
  int line = 0;
  std::string message;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string TrimRight(std::string text) {
  while (!text.empty() && IsBlank(text.back())) text.pop_back();
  return text;
}

std::size_t SkipBlanks(const std::string& text, std::size_t i) {
  while (i < text.size() && IsBlank(text[i])) ++i;
  return i;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWithIgnoringCase(const std::string& text, std::size_t at, const char* prefix) {
  const std::string wanted(prefix);
  return text.size() - at >= wanted.size() &&
         EqualsIgnoringAsciiCase(text.substr(at, wanted.size()), wanted);
}

// Reads up to `maxDigits` hex digits at `i` into `value`; returns the count.
std::size_t ReadHexNumber(const std::string& text, std::size_t i, std::size_t maxDigits,
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

int LineAtOffset(const std::string& text, std::size_t offset) {
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + offset, '\n'));
}

// The file's text as UTF-8, which the lines are parsed in: single-byte text
// is in the machine's ANSI code page, and Unicode text must hold only
// characters of that code page, as the machine keeps every string in it.
std::string DecodeText(const std::string& bytes, std::uint32_t codePage, RegEncoding* encoding,
                       std::string* text) {
  *encoding = RegEncoding::kBytes;
  std::size_t bad = 0;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    *encoding = RegEncoding::kUtf16Le;
    std::optional<std::string> decoded = Utf16LeToUtf8(bytes.substr(2), &bad);
    if (!decoded) {
      const std::string good = *Utf16LeToUtf8(bytes.substr(2, bad));
      return "line " + std::to_string(LineAtOffset(good, good.size())) +
             ": the text is not valid UTF-16LE";
    }
    *text = std::move(*decoded);
  } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    *encoding = RegEncoding::kUtf8WithMark;
    *text = bytes.substr(3);
  } else {
    *text = bytes;
  }
  const std::string page = "code page " + std::to_string(codePage);
  if (*encoding == RegEncoding::kBytes) {
    std::optional<std::string> decoded = sim::CodePageToUtf8(codePage, *text, &bad);
    if (!decoded) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>((*text)[bad]));
      return "line " + std::to_string(LineAtOffset(*text, bad)) + ": the byte " + hex +
             " is not text in " + page + ", the machine's ANSI code page";
    }
    *text = std::move(*decoded);
  } else if (!sim::Utf8ToCodePage(codePage, *text, &bad)) {
    std::size_t end = bad + 1;
    while (end < text->size() && (static_cast<unsigned char>((*text)[end]) & 0xC0) == 0x80) ++end;
    return "line " + std::to_string(LineAtOffset(*text, bad)) + ": \"" +
           text->substr(bad, end - bad) + "\" is no character of " + page +
           ", the machine's ANSI code page";
  }
  return "";
}

// The text of the file as UTF-8 lines; `encoding` receives how it was stored.
Outcome<std::vector<std::string>> SplitLines(const std::string& bytes, std::uint32_t codePage,
                                             RegEncoding* encoding) {
  std::string text;
  const std::string problem = DecodeText(bytes, codePage, encoding, &text);
  if (!problem.empty()) return Outcome<std::vector<std::string>>::Failure(problem);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// A value's data text, joined from its continuation lines; remembers where
// each physical line starts so that an error can name it.
struct Logical {
  std::string text;
  std::vector<std::pair<std::size_t, int>> starts;  // offset in text, line number

  int LineAt(std::size_t offset) const {
    int line = starts.front().second;
    for (const auto& [start, number] : starts) {
      if (start <= offset) line = number;
    }
    return line;
  }
};

class Reader {
  using Subkeys = std::map<std::string, std::size_t>;
  static constexpr std::size_t kNoKey = static_cast<std::size_t>(-1);

 public:
  explicit Reader(std::vector<std::string> lines) : m_lines(std::move(lines)) {}

  Outcome<RegDocument> Read() {
    if (!ReadHeader()) return Fail();
    for (m_next = 1; m_next < m_lines.size();) {
      const std::size_t index = m_next++;
      if (!ReadLine(index)) return Fail();
    }
    DropDeletedKeys();
    return std::move(m_document);
  }

 private:
  Outcome<RegDocument> Fail() const {
    return Outcome<RegDocument>::Failure("line " + std::to_string(m_failure.line) + ": " +
                                         m_failure.message);
  }

  bool Error(int line, std::string message) {
    m_failure = {line, std::move(message)};
    return false;
  }

  bool ReadHeader() {
    const std::string first = TrimRight(m_lines.front());
    if (first == kRegedit4Header) {
      m_document.format = RegFormat::kRegedit4;
    } else if (first == kVersion5Header) {
      m_document.format = RegFormat::kVersion5;
    } else {
      return Error(1, std::string("not a registry file: the first line must be \"") +
                          kRegedit4Header + "\" or \"" + kVersion5Header + "\"");
    }
    return true;
  }

  bool ReadLine(std::size_t index) {
    const std::string& line = m_lines[index];
    const int number = static_cast<int>(index) + 1;
    const std::size_t first = SkipBlanks(line, 0);
    if (first == line.size() || line[first] == ';') return true;
    if (line[first] == '[') return ReadKeyLine(TrimRight(line.substr(first)), number);
    if (line[first] == '"' || line[first] == '@') return ReadValueLine(index, first);
    return Error(number, "unexpected text \"" + Excerpt(line.substr(first)) + "\"");
  }

  static std::string Excerpt(const std::string& text) {
    return text.size() > 40 ? text.substr(0, 40) + "..." : text;
  }

  bool ReadKeyLine(const std::string& line, int number) {
    if (line.back() != ']') return Error(number, "a key line must end with ']'");
    std::string inner = line.substr(1, line.size() - 2);
    const bool deleted = !inner.empty() && inner[0] == '-';
    if (deleted) inner.erase(0, 1);
    const std::size_t slash = inner.find('\\');
    const std::string rootName = inner.substr(0, slash);
    if (!EqualsIgnoringAsciiCase(rootName, kRootName)) {
      return Error(number, "the key \"" + Excerpt(inner) + "\" is not below " + kRootName);
    }
    const std::string path = slash == std::string::npos ? "" : inner.substr(slash + 1);
    if (slash != std::string::npos && !HasOnlyNamedParts(path)) {
      return Error(number, "the key path \"" + Excerpt(inner) + "\" has an empty name");
    }
    // A deeper path cannot come from a real machine; refusing it keeps the
    // regedit layout, which writes every key with its full path, from growing
    // with the square of the depth.
    if (std::count(path.begin(), path.end(), '\\') >= kMaxKeyDepth) {
      return Error(number, "the key path \"" + Excerpt(inner) + "\" is deeper than " +
                               std::to_string(kMaxKeyDepth) + " levels, the registry's limit");
    }
    m_keyDeleted = deleted;
    m_currentKey = kNoKey;
    if (deleted) {
      if (path.empty()) return Error(number, std::string("cannot delete ") + kRootName);
      DeleteKey(path);
    } else if (!path.empty()) {
      m_currentKey = WalkTo(path, true);
    }
    return true;
  }

  static bool HasOnlyNamedParts(const std::string& path) {
    return !path.empty() && path.front() != '\\' && path.back() != '\\' &&
           path.find("\\\\") == std::string::npos;
  }

  bool ReadValueLine(std::size_t index, std::size_t first) {
    const std::string& line = m_lines[index];
    const int number = static_cast<int>(index) + 1;
    if (m_keyDeleted) return Error(number, "a value follows a deleted key");
    if (m_currentKey == kNoKey) {
      return Error(number, std::string("a value must follow a key below ") + kRootName);
    }
    std::string name;
    std::size_t i = first;
    if (line[i] == '@') {
      ++i;
    } else if (!ReadQuoted(line, &i, &name, number)) {
      return false;
    }
    i = SkipBlanks(line, i);
    if (i == line.size() || line[i] != '=') return Error(number, "expected '=' after the name");
    i = SkipBlanks(line, i + 1);
    Logical data = JoinContinuations(index, i);
    if (data.starts.empty()) {
      return Error(static_cast<int>(m_lines.size()),
                   "the hex list continues past the end of the file");
    }
    return ReadData(data, name);
  }

  // A hex list continues on the next line after a trailing backslash.
  Logical JoinContinuations(std::size_t index, std::size_t offset) {
    Logical data;
    std::string piece = TrimRight(m_lines[index].substr(offset));
    data.starts.emplace_back(0, static_cast<int>(index) + 1);
    const bool isHex = StartsWithIgnoringCase(piece, 0, "hex");
    while (isHex && !piece.empty() && piece.back() == '\\') {
      piece.pop_back();
      data.text += piece;
      if (m_next >= m_lines.size()) return Logical{};
      const std::size_t nextIndex = m_next++;
      const std::string& next = m_lines[nextIndex];
      piece = TrimRight(next.substr(SkipBlanks(next, 0)));
      data.starts.emplace_back(data.text.size(), static_cast<int>(nextIndex) + 1);
    }
    data.text += piece;
    return data;
  }

  bool ReadQuoted(const std::string& line, std::size_t* i, std::string* out, int number) {
    for (std::size_t k = *i + 1; k < line.size(); ++k) {
      if (line[k] == '"') {
        *i = k + 1;
        return true;
      }
      if (line[k] == '\\') {
        if (k + 1 == line.size() || (line[k + 1] != '\\' && line[k + 1] != '"')) {
          return Error(number, "unknown escape in a quoted string (only \\\\ and \\\" exist)");
        }
        ++k;
      }
      *out += line[k];
    }
    return Error(number, "a quoted string is not closed");
  }

  bool ReadData(const Logical& data, const std::string& name) {
    const std::string& text = data.text;
    const int number = data.starts.front().second;
    sim::RegValue value;
    value.name = name;
    std::size_t end = 0;
    if (!text.empty() && text[0] == '"') {
      std::string content;
      if (!ReadQuoted(text, &end, &content, number)) return false;
      value.type = kRegSz;
      value.data.assign(content.begin(), content.end());
      value.data.push_back(0);
    } else if (text == "-") {
      DeleteValue(name);
      return true;
    } else if (StartsWithIgnoringCase(text, 0, "dword:")) {
      std::uint32_t number32 = 0;
      const std::size_t digits = ReadHexNumber(text, 6, 8, &number32);
      if (digits == 0) return Error(number, "a dword needs one to eight hex digits");
      end = 6 + digits;
      value.type = kRegDword;
      for (int shift = 0; shift < 32; shift += 8) {
        value.data.push_back(static_cast<std::uint8_t>(number32 >> shift));
      }
    } else if (!ReadHexValue(data, &value)) {
      return false;
    } else {
      end = text.size();
    }
    if (SkipBlanks(text, end) != text.size()) {
      return Error(data.LineAt(end), "unexpected text after the value");
    }
    SetValue(std::move(value));
    return true;
  }

  bool ReadHexValue(const Logical& data, sim::RegValue* value) {
    const std::string& text = data.text;
    const int number = data.starts.front().second;
    std::size_t i = 0;
    if (StartsWithIgnoringCase(text, 0, "hex:")) {
      value->type = kRegBinary;
      i = 4;
    } else if (StartsWithIgnoringCase(text, 0, "hex(")) {
      const std::size_t digits = ReadHexNumber(text, 4, 8, &value->type);
      if (digits == 0 || text.compare(4 + digits, 2, "):") != 0) {
        return Error(number, "a typed hex value is written hex(type):");
      }
      i = 4 + digits + 2;
    } else {
      return Error(number, "unknown value type \"" + Excerpt(text) + "\"");
    }
    return ReadHexBytes(data, i, &value->data);
  }

  bool ReadHexBytes(const Logical& data, std::size_t i, std::vector<std::uint8_t>* bytes) {
    const std::string& text = data.text;
    i = SkipBlanks(text, i);
    if (i == text.size()) return true;
    for (;;) {
      std::uint32_t byte = 0;
      const std::size_t digits = ReadHexNumber(text, i, 2, &byte);
      if (digits == 0) return Error(data.LineAt(i), "a hex list holds bytes such as 0a,ff");
      bytes->push_back(static_cast<std::uint8_t>(byte));
      i = SkipBlanks(text, i + digits);
      if (i == text.size()) return true;
      if (text[i] != ',') return Error(data.LineAt(i), "expected ',' between hex bytes");
      i = SkipBlanks(text, i + 1);
      if (i == text.size()) return Error(data.LineAt(i), "a hex list ends with ','");
    }
  }

  Subkeys& SubkeysOf(std::size_t key) {
    return key == kNoKey ? m_rootSubkeys : m_slots[key].subkeys;
  }

  // The key at `path` (its position in the document), or kNoKey when it is
  // missing and `create` is false. Created keys come after their missing
  // parents, as an import creates them; a parent that exists keeps the case
  // it was first written with.
  std::size_t WalkTo(const std::string& path, bool create) {
    std::size_t key = kNoKey;
    for (std::size_t start = 0; start <= path.size();) {
      std::size_t end = path.find('\\', start);
      if (end == std::string::npos) end = path.size();
      const std::string name = path.substr(start, end - start);
      start = end + 1;
      Subkeys& subkeys = SubkeysOf(key);
      const auto found = subkeys.find(UpperAscii(name));
      if (found != subkeys.end()) {
        key = found->second;
        continue;
      }
      if (!create) return kNoKey;
      const std::size_t added = m_document.keys.size();
      subkeys.emplace(UpperAscii(name), added);
      m_document.keys.push_back(
          RegKeyEntry{key == kNoKey ? name : m_document.keys[key].path + "\\" + name, {}});
      m_slots.emplace_back();
      key = added;
    }
    return key;
  }

  // Deletes the key and its subtree; each key is visited once in the file's
  // whole life, so deletions cost what the keys cost to create.
  void DeleteKey(const std::string& path) {
    const std::size_t last = path.rfind('\\');
    const std::size_t parent =
        last == std::string::npos ? kNoKey : WalkTo(path.substr(0, last), false);
    if (last != std::string::npos && parent == kNoKey) return;
    Subkeys& siblings = SubkeysOf(parent);
    const auto found = siblings.find(UpperAscii(path.substr(last + 1)));
    if (found == siblings.end()) return;
    std::vector<std::size_t> doomed{found->second};
    siblings.erase(found);
    while (!doomed.empty()) {
      const std::size_t key = doomed.back();
      doomed.pop_back();
      m_slots[key].deleted = true;
      m_document.keys[key].values.clear();
      m_slots[key].values.clear();
      for (const auto& subkey : m_slots[key].subkeys) doomed.push_back(subkey.second);
      m_slots[key].subkeys.clear();
    }
  }

  void DropDeletedKeys() {
    std::vector<RegKeyEntry> kept;
    for (std::size_t key = 0; key < m_slots.size(); ++key) {
      if (m_slots[key].deleted) continue;
      std::vector<sim::RegValue>& values = m_document.keys[key].values;
      std::size_t next = 0;
      for (std::size_t k = 0; k < values.size(); ++k) {
        if (m_slots[key].valueGone[k]) continue;
        if (next != k) values[next] = std::move(values[k]);
        ++next;
      }
      values.resize(next);
      kept.push_back(std::move(m_document.keys[key]));
    }
    m_document.keys = std::move(kept);
  }

  void SetValue(sim::RegValue value) {
    RegKeyEntry& key = m_document.keys[m_currentKey];
    Slot& slot = m_slots[m_currentKey];
    const auto [found, added] = slot.values.emplace(UpperAscii(value.name), key.values.size());
    if (added) {
      key.values.push_back(std::move(value));
      slot.valueGone.push_back(false);
      return;
    }
    key.values[found->second].type = value.type;
    key.values[found->second].data = std::move(value.data);
  }

  // The value stays in place until the end, so that deleting costs no shift.
  void DeleteValue(const std::string& name) {
    Slot& slot = m_slots[m_currentKey];
    const auto found = slot.values.find(UpperAscii(name));
    if (found == slot.values.end()) return;
    slot.valueGone[found->second] = true;
    slot.values.erase(found);
  }

  std::vector<std::string> m_lines;
  std::size_t m_next = 0;
  RegDocument m_document;
  // Subkeys by upper-cased name: of the root, and of each key of the document
  // by its position there; with each key its values' positions by upper-cased
  // name and those deleted.
  struct Slot {
    Subkeys subkeys;
    std::map<std::string, std::size_t> values;
    std::vector<bool> valueGone;
    bool deleted = false;
  };
  Subkeys m_rootSubkeys;
  std::vector<Slot> m_slots;
  std::size_t m_currentKey = kNoKey;
  bool m_keyDeleted = false;
  Failure m_failure;
};

}  // namespace

bool operator==(const RegKeyEntry& a, const RegKeyEntry& b) {
  if (a.path != b.path || a.values.size() != b.values.size()) return false;
  for (std::size_t i = 0; i < a.values.size(); ++i) {
    const sim::RegValue& x = a.values[i];
    const sim::RegValue& y = b.values[i];
    if (x.name != y.name || x.type != y.type || x.data != y.data) return false;
  }
  return true;
}

Outcome<RegDocument> ReadRegFile(const std::string& bytes, std::uint32_t codePage) {
  RegEncoding encoding = RegEncoding::kBytes;
  Outcome<std::vector<std::string>> lines = SplitLines(bytes, codePage, &encoding);
  if (!lines.Ok()) return Outcome<RegDocument>::Failure(lines.Error());
  Outcome<RegDocument> document = Reader(std::move(lines.Value())).Read();
  if (document.Ok()) document.Value().encoding = encoding;
  return document;
}

}  // namespace uninst::tool
