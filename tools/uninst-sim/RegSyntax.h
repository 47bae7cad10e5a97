// The fixed words of registry.reg, shared by its reader and writer.
#pragma once

#include <cstddef>

namespace uninst::tool {

constexpr char kRegedit4Header[] = "REGEDIT4";
constexpr char kVersion5Header[] = "Windows Registry Editor Version 5.00";
constexpr char kRootName[] = "HKEY_LOCAL_MACHINE";
// Windows keeps a registry tree at most 512 levels deep. A deeper path cannot
// come from a real machine, and refusing it keeps the regedit layout, which
// writes every key with its full path, from growing with the square of the
// depth.
constexpr std::size_t kMaxKeyDepth = 512;

}  // namespace uninst::tool
