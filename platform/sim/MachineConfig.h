// What a simulated machine is set up with, and the faults a test injects.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/sim/TimeZone.h"

namespace uninst::sim {

// One message box as the program showed it, and the answer it got.
struct MessageBoxRecord {
  std::string caption;
  std::string text;
  std::uint32_t style = 0;
  int answer = 0;
};

// The answers a box of `style` can give, in the order of its buttons.
std::vector<int> ButtonsOf(std::uint32_t style);

// The platform operations, for fault injection.
enum class Op {
  kRegOpenKey,
  kRegOpenKeyEx,
  kRegEnumKey,
  kRegQueryInfoKey,
  kRegQueryValueEx,
  kRegDeleteKey,
  kRegDeleteValue,
  kRegCloseKey,
  kGetOEMCP,
  kGetWindowsDirectory,
  kSetErrorMode,
  kMessageBox,
  kExitWindowsEx,
  kLoadString,
  kCreateFile,
  kCloseHandle,
  kGetFileTime,
  kGetFileSize,
  kSetFileTime,
  kFindFile,
  kGetFileAttributes,
  kSetFileAttributes,
  kDeleteFile,
  kFileTimeToLocalFileTime,
  kLocalFileTimeToFileTime,
  kFileTimeToSystemTime,
  kSystemTimeToFileTime,
  kGetFileVersionInfoSize,
  kGetFileVersionInfo,
  kQueryFixedFileInfo,
  kIsDBCSLeadByte,
  kGetCommandLine,
};
const char* OpName(Op op);

// Makes matching calls fail. A call matches when its operation is `op` and
// `path` is empty or equals, case-insensitively, the key path (below
// HKEY_LOCAL_MACHINE) or file path the call works on; for handle calls the
// path is the one the handle was opened with. `nth` counts matching calls
// from 1; 0 fails every matching call.
struct Fault {
  Op op;
  std::string path;
  int nth = 0;
  long error = kErrorAccessDenied;
};

// The Windows family the machine behaves as: the 95/98/Me family or the NT
// family (NT, 2000, XP and later).
enum class WindowsFamily { k9x, kNt };

constexpr std::uint32_t kWesternAnsiCodePage = 1252;

struct MachineConfig {
  WindowsFamily family = WindowsFamily::kNt;
  std::uint32_t oemCodePage = 437;
  // The code page of the single-byte ("A") text; 932 makes 0x81-0x9F and
  // 0xE0-0xFC lead bytes.
  std::uint32_t ansiCodePage = kWesternAnsiCodePage;
  // Empty: the system gives no windows directory (GetWindowsDirectory fails).
  std::optional<std::string> windowsDirectory = std::string("C:\\WINDOWS");
  // Local time = UTC - bias, as Windows' TIME_ZONE_INFORMATION::Bias.
  int timeZoneBiasMinutes = 0;
  // When the clocks change; none: never.
  std::optional<DaylightRule> daylight;
  // The machine's clock, in seconds since 1970 (UTC); unset: the host's.
  std::optional<std::int64_t> clockUnixSeconds;
  // The whole process command line, program name included.
  std::string commandLine = "UNINST.EXE";
};

}  // namespace uninst::sim
