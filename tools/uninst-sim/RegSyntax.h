// The fixed words of registry.reg, shared by its reader and writer.
#pragma once

namespace uninst::tool {

constexpr char kRegedit4Header[] = "REGEDIT4";
constexpr char kVersion5Header[] = "Windows Registry Editor Version 5.00";
constexpr char kRootName[] = "HKEY_LOCAL_MACHINE";

}  // namespace uninst::tool
