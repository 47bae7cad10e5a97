// Writes keys as registry.reg, the way regedit lays the file out.
#include <cstdio>
#include <string_view>

#include "platform/sim/RegistryNode.h"
#include "tools/uninst-sim/RegFile.h"
#include "tools/uninst-sim/RegSyntax.h"
#include "tools/uninst-sim/TextCodec.h"

namespace uninst::tool {

namespace {

constexpr char kNewline[] = "\r\n";
// regedit wraps hex lists before this column, going on after two blanks.
constexpr std::size_t kHexLineLimit = 77;

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// What the text of a file must be: Unicode for "Version 5.00" and for UTF-16LE.
struct Layout {
  RegFormat format;
  RegEncoding encoding;

  bool NeedsUtf8() const {
    return format == RegFormat::kVersion5 || encoding == RegEncoding::kUtf16Le;
  }
};

// Why `name` cannot stand in the file, or "" when it can.
std::string NameProblem(std::string_view name, Layout layout) {
  if (HasLineBreak(name)) return "it holds a line break";
  if (layout.NeedsUtf8() && !IsValidUtf8(std::string(name))) return "it is not valid UTF-8 text";
  return "";
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + '"';
}

// A string value is written as text only when reading that text back gives
// exactly the same bytes.
std::string_view TextOf(const sim::ValueList::View& value) {
  return std::string_view(reinterpret_cast<const char*>(value.data), value.size - 1);
}

bool IsWritableString(const sim::ValueList::View& value, Layout layout) {
  if (value.type != kRegSz || value.size == 0 || value.data[value.size - 1] != 0) return false;
  const std::string_view text = TextOf(value);
  return text.find('\0') == std::string_view::npos && NameProblem(text, layout).empty();
}

std::string HexList(std::string line, const std::uint8_t* data, std::size_t size) {
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    char piece[4];
    std::snprintf(piece, sizeof piece, i + 1 < size ? "%02x," : "%02x", data[i]);
    if (line.size() + 3 > kHexLineLimit) {
      out += line + "\\" + kNewline;
      line = "  ";
    }
    line += piece;
  }
  return out + line;
}

std::string ValueLine(const sim::ValueList::View& value, Layout layout) {
  std::string line = (value.name.empty() ? "@" : Quoted(value.name)) + "=";
  if (IsWritableString(value, layout)) return line + Quoted(TextOf(value));
  const std::uint8_t* data = value.data;
  if (value.type == kRegDword && value.size == 4) {
    char number[16];
    std::snprintf(number, sizeof number, "dword:%08x",
                  static_cast<unsigned>(data[0] | (data[1] << 8) | (data[2] << 16) |
                                        (static_cast<unsigned>(data[3]) << 24)));
    return line + number;
  }
  if (value.type == kRegBinary) return HexList(line + "hex:", data, value.size);
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
  return HexList(line + prefix, data, value.size);
}

std::string KeyProblem(const std::string& path, Layout layout) {
  const std::string problem = KeyPathProblem(path);
  return problem.empty() ? NameProblem(path, layout) : "it " + problem;
}

// The text of one key and its values, or why it cannot be written.
Outcome<std::string> KeyText(const std::string& path, const sim::ValueList& values, Layout layout) {
  const std::string keyProblem = KeyProblem(path, layout);
  if (!keyProblem.empty()) {
    return Outcome<std::string>::Failure("the key \"" + path +
                                         "\" cannot be written back: " + keyProblem);
  }
  std::string text = std::string("[") + kRootName + "\\" + path + "]" + kNewline;
  std::string problem;
  values.ForEach([&](const sim::ValueList::View& value) {
    if (!problem.empty()) return;
    const std::string valueProblem = NameProblem(value.name, layout);
    if (!valueProblem.empty()) {
      problem = "the value \"" + std::string(value.name) + "\" of key \"" + path +
                "\" cannot be written back: " + valueProblem;
      return;
    }
    text += ValueLine(value, layout) + kNewline;
  });
  if (!problem.empty()) return Outcome<std::string>::Failure(problem);
  return text + kNewline;
}

}  // namespace

Outcome<std::string> WriteRegFile(const sim::Registry& registry, RegFormat format) {
  return WriteRegFile(registry, format,
                      format == RegFormat::kVersion5 ? RegEncoding::kUtf16Le : RegEncoding::kBytes);
}

Outcome<std::string> WriteRegFile(const sim::Registry& registry, RegFormat format,
                                  RegEncoding encoding) {
  const Layout layout{format, encoding};
  std::string text = format == RegFormat::kRegedit4 ? kRegedit4Header : kVersion5Header;
  text += std::string(kNewline) + kNewline;
  std::string problem;
  registry.VisitKeys([&](const std::string& path, const sim::Registry::Node& key) {
    if (!problem.empty()) return;
    Outcome<std::string> keyText = KeyText(path, key.values, layout);
    if (keyText.Ok()) {
      text += keyText.Value();
    } else {
      problem = keyText.Error();
    }
  });
  if (!problem.empty()) return Outcome<std::string>::Failure(problem);
  switch (encoding) {
    case RegEncoding::kBytes:
      return text;
    case RegEncoding::kUtf8WithMark:
      return "\xEF\xBB\xBF" + text;
    case RegEncoding::kUtf16Le:
      break;
  }
  // Every name was checked, so the whole text is valid UTF-8.
  return "\xFF\xFE" + *Utf8ToUtf16Le(text);
}

}  // namespace uninst::tool
