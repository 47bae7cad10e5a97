// Writes keys as registry.reg, the way regedit lays the file out.
#include <algorithm>
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
  return std::any_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; });
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

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t start = 0; start < text.size();) {
    std::size_t special = start;
    while (special < text.size() && text[special] != '\\' && text[special] != '"') ++special;
    out.append(text, start, special - start);
    if (special == text.size()) break;
    out += '\\';
    out += text[special];
    start = special + 1;
  }
  out += '"';
}

std::string_view TextOf(const sim::ValueList::View& value) {
  return std::string_view(reinterpret_cast<const char*>(value.data), value.size - 1);
}

bool IsWritableString(const sim::ValueList::View& value, Layout layout) {
  if (value.type != kRegSz || value.size == 0 || value.data[value.size - 1] != 0) return false;
  const std::string_view text = TextOf(value);
  return text.find('\0') == std::string_view::npos && NameProblem(text, layout).empty();
}

// The bytes as "0a,ff", the line that starts at `lineStart` wrapped as
// regedit wraps it.
void AppendHexList(std::string& out, std::size_t lineStart, const std::uint8_t* data,
                   std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < size; ++i) {
    if (out.size() - lineStart + 3 > kHexLineLimit) {
      out += '\\';
      out += kNewline;
      lineStart = out.size();
      out += "  ";
    }
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 0xF];
    if (i + 1 < size) out += ',';
  }
}

void AppendValueLine(std::string& out, const sim::ValueList::View& value, Layout layout) {
  const std::size_t lineStart = out.size();
  if (value.name.empty()) {
    out += '@';
  } else {
    AppendQuoted(out, value.name);
  }
  out += '=';
  if (IsWritableString(value, layout)) {
    AppendQuoted(out, TextOf(value));
  } else if (value.type == kRegDword && value.size == 4) {
    const std::uint8_t* data = value.data;
    char number[16];
    std::snprintf(number, sizeof number, "dword:%08x",
                  static_cast<unsigned>(data[0] | (data[1] << 8) | (data[2] << 16) |
                                        (static_cast<unsigned>(data[3]) << 24)));
    out += number;
  } else {
    char prefix[16] = "hex:";
    if (value.type != kRegBinary) {
      std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
    }
    out += prefix;
    AppendHexList(out, lineStart, value.data, value.size);
  }
  out += kNewline;
}

std::string KeyProblem(const std::string& path, Layout layout) {
  const std::string problem = KeyPathProblem(path);
  return problem.empty() ? NameProblem(path, layout) : "it " + problem;
}

// Why the key or one of its values cannot be written, or "".
std::string KeyError(const std::string& path, const sim::ValueList& values, Layout layout) {
  const std::string keyProblem = KeyProblem(path, layout);
  if (!keyProblem.empty()) return "the key \"" + path + "\" cannot be written back: " + keyProblem;
  std::string problem;
  values.ForEach([&](const sim::ValueList::View& value) {
    const std::string valueProblem = problem.empty() ? NameProblem(value.name, layout) : "";
    if (!valueProblem.empty()) {
      problem = "the value \"" + std::string(value.name) + "\" of key \"" + path +
                "\" cannot be written back: " + valueProblem;
    }
  });
  return problem;
}

// Room for the text of every key, as hex lists at most: a whole machine's
// text is then written without being copied as it grows. Pages reserved but
// never written cost no memory.
std::size_t EstimatedSize(const sim::Registry& registry) {
  std::size_t size = 0;
  registry.VisitKeys([&size](const std::string& path, const sim::Registry::Node& key) {
    size += path.size() + sizeof kRootName + 8;
    key.values.ForEach([&size](const sim::ValueList::View& value) {
      size += 2 * value.name.size() + 20 + value.size * 4;
    });
  });
  return size;
}

// The first key that cannot be written, or ""; `text`, when given, receives
// the keys before it.
std::string WriteKeys(const sim::Registry& registry, Layout layout, std::string* text) {
  std::string problem;
  registry.VisitKeys([&](const std::string& path, const sim::Registry::Node& key) {
    if (!problem.empty()) return;
    problem = KeyError(path, key.values, layout);
    if (!problem.empty() || !text) return;
    *text += '[';
    *text += kRootName;
    *text += '\\';
    *text += path;
    *text += ']';
    *text += kNewline;
    key.values.ForEach(
        [&](const sim::ValueList::View& value) { AppendValueLine(*text, value, layout); });
    *text += kNewline;
  });
  return problem;
}

}  // namespace

std::string RegFileProblem(const sim::Registry& registry, RegFormat format, RegEncoding encoding) {
  return WriteKeys(registry, Layout{format, encoding}, nullptr);
}

Outcome<std::string> WriteRegFile(const sim::Registry& registry, RegFormat format) {
  return WriteRegFile(registry, format,
                      format == RegFormat::kVersion5 ? RegEncoding::kUtf16Le : RegEncoding::kBytes);
}

Outcome<std::string> WriteRegFile(const sim::Registry& registry, RegFormat format,
                                  RegEncoding encoding) {
  std::string text = format == RegFormat::kRegedit4 ? kRegedit4Header : kVersion5Header;
  text += std::string(kNewline) + kNewline;
  text.reserve(EstimatedSize(registry));
  const std::string problem = WriteKeys(registry, Layout{format, encoding}, &text);
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
