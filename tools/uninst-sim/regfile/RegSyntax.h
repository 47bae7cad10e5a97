// The fixed words of registry.reg and the rules for its lines, shared by its
// reader, its writer and the editing of a file as read.
#pragma once

#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>

#include "platform/AsciiCase.h"
#include "platform/Platform.h"
#include "platform/sim/NameRules.h"

namespace uninst::tool {

constexpr char kRegedit4Header[] = "REGEDIT4";
constexpr char kVersion5Header[] = "Windows Registry Editor Version 5.00";
constexpr char kRootName[] = "HKEY_LOCAL_MACHINE";

// Every root key regedit exports, in the order of RegRoot.
constexpr const char* kRootNames[] = {"HKEY_CLASSES_ROOT",   "HKEY_CURRENT_USER",
                                      "HKEY_LOCAL_MACHINE",  "HKEY_USERS",
                                      "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};
constexpr int kNoRoot = -1;

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

inline std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

inline std::size_t SkipBlanks(std::string_view text, std::size_t i) {
  while (i < text.size() && IsBlank(text[i])) ++i;
  return i;
}

inline bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && uninst::EqualsIgnoringAsciiCase(a.data(), b.data(), a.size());
}

inline bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return SameIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// The root a key line's text between its brackets names, or kNoRoot.
inline int RootOf(std::string_view inner) {
  const std::string_view root = inner.substr(0, inner.find('\\'));
  for (std::size_t i = 0; i < std::size(kRootNames); ++i) {
    if (SameIgnoringCase(root, kRootNames[i])) return static_cast<int>(i);
  }
  return kNoRoot;
}

// A hex list goes on past a line that ends with a backslash.
inline bool ContinuesHexList(std::string_view data) {
  data = TrimRight(data.substr(SkipBlanks(data, 0)));
  return StartsWithIgnoringCase(data, "hex") && !data.empty() && data.back() == '\\';
}

// Reads the quoted string that starts at `*i` into `out`, its escapes
// undone, and moves `*i` past it; the second byte of a double-byte
// character is never taken for a quote or a backslash. "" or what is wrong.
inline const char* ReadQuotedText(std::string_view line, std::size_t* i, std::string* out,
                                  const sim::NameRules& names) {
  for (std::size_t k = *i + 1; k < line.size(); ++k) {
    if (names.IsLead(line[k]) && k + 1 < line.size()) {
      *out += line[k++];
      *out += line[k];
      continue;
    }
    if (line[k] == '"') {
      *i = k + 1;
      return "";
    }
    if (line[k] == '\\') {
      if (k + 1 == line.size() || (line[k + 1] != '\\' && line[k + 1] != '"')) {
        return "unknown escape in a quoted string (only \\\\ and \\\" exist)";
      }
      ++k;
    }
    *out += line[k];
  }
  return "a quoted string is not closed";
}

// What is wrong with a key path below the root ("has an empty name"), or ""
// when it can stand in the file; the path is in the code page `names` reads,
// where the second byte of a character is never a separator. A deeper path
// than the registry allows cannot come from a real machine; refusing it
// keeps the regedit layout, which writes every key with its full path, from
// growing with the square of the depth.
inline std::string KeyPathProblem(std::string_view path, const sim::NameRules& names) {
  int depth = 0;
  for (std::size_t start = 0;; ++depth) {
    const std::size_t end = names.FindSeparator(path, start);
    if (end == start) return "has an empty name";
    if (end == path.size()) break;
    start = end + 1;
  }
  if (depth >= kMaxKeyDepth) {
    return "is deeper than " + std::to_string(kMaxKeyDepth) + " levels, the registry's limit";
  }
  return "";
}

}  // namespace uninst::tool
