#include "platform/sim/MachineConfig.h"

#include <cstddef>

namespace uninst::sim {
namespace {

constexpr const char* kOpNames[] = {
    "RegOpenKey",
    "RegOpenKeyEx",
    "RegEnumKey",
    "RegQueryInfoKey",
    "RegQueryValueEx",
    "RegDeleteKey",
    "RegDeleteValue",
    "RegCloseKey",
    "GetOEMCP",
    "GetWindowsDirectory",
    "SetErrorMode",
    "MessageBox",
    "ExitWindowsEx",
    "LoadString",
    "CreateFile",
    "CloseHandle",
    "GetFileTime",
    "GetFileSize",
    "SetFileTime",
    "FindFile",
    "GetFileAttributes",
    "SetFileAttributes",
    "DeleteFile",
    "FileTimeToLocalFileTime",
    "LocalFileTimeToFileTime",
    "FileTimeToSystemTime",
    "SystemTimeToFileTime",
    "GetFileVersionInfoSize",
    "GetFileVersionInfo",
    "QueryFixedFileInfo",
    "IsDBCSLeadByte",
    "GetCommandLine",
};
static_assert(sizeof(kOpNames) / sizeof(kOpNames[0]) ==
                  static_cast<std::size_t>(Op::kGetCommandLine) + 1,
              "one name per operation");

}  // namespace

const char* OpName(Op op) {
  const std::size_t index = static_cast<std::size_t>(op);
  return index < sizeof(kOpNames) / sizeof(kOpNames[0]) ? kOpNames[index] : "?";
}

std::vector<int> ButtonsOf(std::uint32_t style) {
  switch (style & 0x0F) {
    case kMbYesNoCancel:
      return {kIdYes, kIdNo, kIdCancel};
    case kMbYesNo:
      return {kIdYes, kIdNo};
    default:
      return {kIdOk};
  }
}

}  // namespace uninst::sim
