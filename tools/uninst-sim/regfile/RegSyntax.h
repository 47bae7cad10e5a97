// The fixed words of registry.reg and the rule for its key paths, shared by
// its reader and writer.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace uninst::tool {

constexpr char kRegedit4Header[] = "REGEDIT4";
constexpr char kVersion5Header[] = "Windows Registry Editor Version 5.00";
constexpr char kRootName[] = "HKEY_LOCAL_MACHINE";

// What is wrong with a key path below the root ("has an empty name"), or ""
// when it can stand in the file. A deeper path than the registry allows
// cannot come from a real machine; refusing it keeps the regedit layout,
// which writes every key with its full path, from growing with the square of
// the depth.
inline std::string KeyPathProblem(std::string_view path) {
  if (path.empty() || path.front() == '\\' || path.back() == '\\' ||
      path.find("\\\\") != std::string_view::npos) {
    return "has an empty name";
  }
  if (std::count(path.begin(), path.end(), '\\') >= kMaxKeyDepth) {
    return "is deeper than " + std::to_string(kMaxKeyDepth) + " levels, the registry's limit";
  }
  return "";
}

}  // namespace uninst::tool
