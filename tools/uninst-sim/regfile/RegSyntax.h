// The fixed words of registry.reg and the rule for its key paths, shared by
// its reader and writer.
#pragma once

#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "platform/sim/NameRules.h"

namespace uninst::tool {

constexpr char kRegedit4Header[] = "REGEDIT4";
constexpr char kVersion5Header[] = "Windows Registry Editor Version 5.00";
constexpr char kRootName[] = "HKEY_LOCAL_MACHINE";

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
