// Writes keys as registry.reg, the way regedit lays the file out.
#include <cstdio>

#include "platform/sim/CodePage.h"
#include "tools/uninst-sim/RegFile.h"
#include "tools/uninst-sim/RegSyntax.h"
#include "tools/uninst-sim/TextCodec.h"

namespace uninst::tool {

namespace {

constexpr char kNewline[] = "\r\n";
// regedit wraps hex lists before this column, going on after two blanks.
constexpr std::size_t kHexLineLimit = 77;

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

// Why `name` cannot stand in the file, or "" when it can.
// The keys hold UTF-8 text, whatever form the file takes.
std::string NameProblem(const std::string& name) {
  if (HasLineBreak(name)) return "it holds a line break";
  if (!IsValidUtf8(name)) return "it is not valid UTF-8 text";
  return "";
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + '"';
}

// A string value is written as text only when reading that text back gives
// exactly the same bytes.
bool IsWritableString(const sim::RegValue& value) {
  if (value.type != kRegSz || value.data.empty() || value.data.back() != 0) return false;
  const std::string text(value.data.begin(), value.data.end() - 1);
  return text.find('\0') == std::string::npos && NameProblem(text).empty();
}

std::string HexList(std::string line, const std::vector<std::uint8_t>& data) {
  std::string out;
  for (std::size_t i = 0; i < data.size(); ++i) {
    char piece[4];
    std::snprintf(piece, sizeof piece, i + 1 < data.size() ? "%02x," : "%02x", data[i]);
    if (line.size() + 3 > kHexLineLimit) {
      out += line + "\\" + kNewline;
      line = "  ";
    }
    line += piece;
  }
  return out + line;
}

std::string ValueLine(const sim::RegValue& value) {
  std::string line = (value.name.empty() ? "@" : Quoted(value.name)) + "=";
  if (IsWritableString(value)) {
    return line + Quoted(std::string(value.data.begin(), value.data.end() - 1));
  }
  if (value.type == kRegDword && value.data.size() == 4) {
    char number[16];
    std::snprintf(number, sizeof number, "dword:%08x",
                  static_cast<unsigned>(value.data[0] | (value.data[1] << 8) |
                                        (value.data[2] << 16) | (value.data[3] << 24)));
    return line + number;
  }
  if (value.type == kRegBinary) return HexList(line + "hex:", value.data);
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
  return HexList(line + prefix, value.data);
}

std::string KeyProblem(const std::string& path) {
  if (path.empty() || path.front() == '\\' || path.back() == '\\' ||
      path.find("\\\\") != std::string::npos) {
    return "it has an empty name";
  }
  return NameProblem(path);
}

// Single-byte text is in the machine's ANSI code page.
Outcome<std::string> InCodePage(const std::string& text, std::uint32_t codePage) {
  std::size_t bad = 0;
  std::optional<std::string> encoded = sim::Utf8ToCodePage(codePage, text, &bad);
  if (encoded) return *encoded;
  const std::size_t lineStart = text.rfind('\n', bad) + 1;
  return Outcome<std::string>::Failure(
      "the line \"" + text.substr(lineStart, text.find('\r', lineStart) - lineStart) +
      "\" cannot be written back: it holds text that is not in code page " +
      std::to_string(codePage));
}

}  // namespace

Outcome<std::string> WriteRegFile(const std::vector<RegKeyEntry>& keys, RegFormat format) {
  return WriteRegFile(keys, format,
                      format == RegFormat::kVersion5 ? RegEncoding::kUtf16Le : RegEncoding::kBytes);
}

Outcome<std::string> WriteRegFile(const std::vector<RegKeyEntry>& keys, RegFormat format,
                                  RegEncoding encoding, std::uint32_t codePage) {
  std::string text = format == RegFormat::kRegedit4 ? kRegedit4Header : kVersion5Header;
  text += std::string(kNewline) + kNewline;
  for (const RegKeyEntry& key : keys) {
    const std::string keyProblem = KeyProblem(key.path);
    if (!keyProblem.empty()) {
      return Outcome<std::string>::Failure("the key \"" + key.path +
                                           "\" cannot be written back: " + keyProblem);
    }
    text += std::string("[") + kRootName + "\\" + key.path + "]" + kNewline;
    for (const sim::RegValue& value : key.values) {
      const std::string valueProblem = NameProblem(value.name);
      if (!valueProblem.empty()) {
        return Outcome<std::string>::Failure("the value \"" + value.name + "\" of key \"" +
                                             key.path +
                                             "\" cannot be written back: " + valueProblem);
      }
      text += ValueLine(value) + kNewline;
    }
    text += kNewline;
  }
  switch (encoding) {
    case RegEncoding::kBytes:
      return InCodePage(text, codePage);
    case RegEncoding::kUtf8WithMark:
      return "\xEF\xBB\xBF" + text;
    case RegEncoding::kUtf16Le:
      break;
  }
  // Every name was checked, so the whole text is valid UTF-8.
  return "\xFF\xFE" + *Utf8ToUtf16Le(text);
}

}  // namespace uninst::tool
