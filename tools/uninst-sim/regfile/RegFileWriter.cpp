// Writes keys as registry.reg, the way regedit lays the file out.
#include <algorithm>
#include <cstdio>
#include <string_view>

#include "platform/sim/CodePage.h"
#include "platform/sim/RegistryNode.h"
#include "tools/uninst-sim/regfile/RegFile.h"
#include "tools/uninst-sim/regfile/RegSyntax.h"

namespace uninst::tool {

namespace {

constexpr char kNewline[] = "\r\n";
// regedit wraps hex lists before this column, going on after two blanks.
constexpr std::size_t kHexLineLimit = 77;

bool HasLineBreak(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; });
}

// True when `text` is text in the code page. ASCII text is in every one.
bool IsText(std::uint32_t codePage, std::string_view text) {
  return sim::IsAscii(text) || sim::CodePageToUtf8(codePage, std::string(text)).has_value();
}

// Why `name` cannot stand in the file, or "" when it can.
std::string NameProblem(std::string_view name, std::uint32_t codePage) {
  if (HasLineBreak(name)) return "it holds a line break";
  if (!IsText(codePage, name)) return "it is not text in code page " + std::to_string(codePage);
  return "";
}

// The text in quotes, its backslashes and quotes escaped; the second byte of
// a double-byte character is never taken for one.
void AppendQuoted(std::string& out, std::string_view text, const sim::NameRules& names) {
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (names.IsLead(text[i]) && i + 1 < text.size()) {
      out += text[i++];
    } else if (text[i] == '\\' || text[i] == '"') {
      out += '\\';
    }
    out += text[i];
  }
  out += '"';
}

std::string_view TextOf(const sim::ValueList::View& value) {
  return std::string_view(reinterpret_cast<const char*>(value.data), value.size - 1);
}

// A string value is written as text only when reading that text back gives
// exactly the same bytes.
bool IsWritableString(const sim::ValueList::View& value, std::uint32_t codePage) {
  if (value.type != kRegSz || value.size == 0 || value.data[value.size - 1] != 0) return false;
  const std::string_view text = TextOf(value);
  return text.find('\0') == std::string_view::npos && NameProblem(text, codePage).empty();
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

// A value whose name was checked.
void AppendValueLine(std::string& out, const sim::ValueList::View& value, std::uint32_t codePage,
                     const sim::NameRules& names) {
  const std::size_t lineStart = out.size();
  if (value.name.empty()) {
    out += '@';
  } else {
    AppendQuoted(out, value.name, names);
  }
  out += '=';
  if (IsWritableString(value, codePage)) {
    AppendQuoted(out, TextOf(value), names);
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

// Why the key or one of its values cannot be written, or "".
std::string KeyError(const std::string& path, const sim::ValueList& values, std::uint32_t codePage,
                     const sim::NameRules& names) {
  std::string keyProblem = NameProblem(path, codePage);
  if (keyProblem.empty()) {
    const std::string shape = KeyPathProblem(path, names);
    if (!shape.empty()) keyProblem = "it " + shape;
  }
  if (!keyProblem.empty()) return "the key \"" + path + "\" cannot be written back: " + keyProblem;
  std::string problem;
  values.ForEach([&](const sim::ValueList::View& value) {
    const std::string valueProblem = problem.empty() ? NameProblem(value.name, codePage) : "";
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
// the keys before it, in the code page, as they are stored.
std::string WriteKeys(const sim::Registry& registry, std::uint32_t codePage, std::string* text) {
  std::string problem;
  const sim::NameRules& names = registry.Names();
  registry.VisitKeys([&](const std::string& path, const sim::Registry::Node& key) {
    if (!problem.empty()) return;
    if (!text) {
      problem = KeyError(path, key.values, codePage, names);
    } else {
      problem = AppendKeySection(*text, path, key.values, codePage, names);
    }
  });
  return problem;
}

}  // namespace

std::string RegFileProblem(const sim::Registry& registry, std::uint32_t codePage) {
  return WriteKeys(registry, codePage, nullptr);
}

Outcome<std::string> WriteRegFile(const sim::Registry& registry, RegFormat format) {
  return WriteRegFile(registry, format,
                      format == RegFormat::kVersion5 ? RegEncoding::kUtf16Le : RegEncoding::kBytes);
}

Outcome<std::string> WriteRegFile(const sim::Registry& registry, RegFormat format,
                                  RegEncoding encoding, std::uint32_t codePage) {
  std::string text = format == RegFormat::kRegedit4 ? kRegedit4Header : kVersion5Header;
  text += std::string(kNewline) + kNewline;
  text.reserve(EstimatedSize(registry));
  const std::string problem = WriteKeys(registry, codePage, &text);
  if (!problem.empty()) return Outcome<std::string>::Failure(problem);
  return EncodeRegText(std::move(text), encoding, codePage);
}

std::string AppendKeySection(std::string& text, const std::string& path,
                             const sim::ValueList& values, std::uint32_t codePage,
                             const sim::NameRules& names) {
  std::string problem = KeyError(path, values, codePage, names);
  if (!problem.empty()) return problem;
  text += '[';
  text += kRootName;
  text += '\\';
  text += path;
  text += ']';
  text += kNewline;
  values.ForEach(
      [&](const sim::ValueList::View& value) { AppendValueLine(text, value, codePage, names); });
  text += kNewline;
  return "";
}

std::string EncodeRegText(std::string text, RegEncoding encoding, std::uint32_t codePage) {
  // Every name and string is text in the code page, which Unicode forms
  // convert whole.
  if (encoding == RegEncoding::kBytes) return text;
  const std::string utf8 = sim::IsAscii(text) ? text : *sim::CodePageToUtf8(codePage, text);
  if (encoding == RegEncoding::kUtf8WithMark) return "\xEF\xBB\xBF" + utf8;
  return "\xFF\xFE" + *sim::Utf8ToUtf16Le(utf8);
}

}  // namespace uninst::tool
