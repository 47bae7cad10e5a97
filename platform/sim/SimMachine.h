// A simulated Windows machine: the registry below HKEY_LOCAL_MACHINE, drive
// letters backed by host folders, the code page, the windows directory, a
// local time zone, message boxes answered by a script or a person, and fault
// injection. Host tests and uninst-sim run the real core against it.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace uninst::sim {

struct RegValue {
  std::string name;  // as stored, with its case; "" is the default value
  std::uint32_t type = kRegSz;
  std::vector<std::uint8_t> data;
};

// The registry below HKEY_LOCAL_MACHINE with Windows semantics: names
// compared case-insensitively and kept with their case, subkeys enumerated in
// case-insensitive alphabetical order.
class Registry {
 public:
  Registry();
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Creates the key and any missing parent.
  void CreateKey(const std::string& path);
  // Creates the key if needed and sets the value.
  void SetValue(const std::string& keyPath, const std::string& name, std::uint32_t type,
                std::vector<std::uint8_t> data);
  // REG_SZ with its terminating zero.
  void SetString(const std::string& keyPath, const std::string& name, const std::string& text);
  // A registry link at `path` (an NT family key made with
  // REG_OPTION_CREATE_LINK) that leads to the key `target`, a path below the
  // root. Opening a path follows it; deleting it deletes the link alone.
  void CreateLink(const std::string& path, const std::string& target);
  // With its whole subtree; a link at `path` is deleted, not followed.
  bool DeleteKey(const std::string& path);

  bool KeyExists(const std::string& path) const;
  std::optional<RegValue> GetValue(const std::string& keyPath, const std::string& name) const;
  // Names of the direct subkeys, in enumeration order; empty for a missing key.
  std::vector<std::string> SubKeyNames(const std::string& path) const;
  // Values of a key, in the order they were created.
  std::vector<RegValue> Values(const std::string& path) const;
  // Every key path below the root, depth-first in enumeration order, each
  // written with its stored case ("Enum", "Enum\FLOP", ...).
  std::vector<std::string> AllKeys() const;

  struct Node;
  // Calls `visit` for every key in the order of AllKeys, with its values.
  using KeyVisitor =
      std::function<void(const std::string& path, const std::vector<RegValue>& values)>;
  void VisitKeys(const KeyVisitor& visit) const;
  Node* Root() const { return m_root.get(); }
  Node* Find(const std::string& path) const;

 private:
  std::unique_ptr<Node> m_root;
};

// One message box as the program showed it, and the answer it got.
struct MessageBoxRecord {
  std::string caption;
  std::string text;
  std::uint32_t style = 0;
  int answer = 0;
};

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

struct MachineConfig {
  std::uint32_t oemCodePage = 437;
  // The code page of the single-byte ("A") text; 932 makes 0x81-0x9F and
  // 0xE0-0xFC lead bytes.
  std::uint32_t ansiCodePage = 1252;
  // Empty: the system gives no windows directory (GetWindowsDirectory fails).
  std::optional<std::string> windowsDirectory = std::string("C:\\WINDOWS");
  // Local time = UTC - bias, as Windows' TIME_ZONE_INFORMATION::Bias. No DST.
  int timeZoneBiasMinutes = 0;
  // The whole process command line, program name included.
  std::string commandLine = "UNINST.EXE";
};

class SimMachine final : public Platform {
 public:
  using Responder = std::function<int(const MessageBoxRecord&)>;

  SimMachine();
  ~SimMachine();

  MachineConfig& Config() { return m_config; }
  Registry& GetRegistry() { return m_registry; }

  // Drive `letter` (A-Z) is backed by the host folder `hostFolder`.
  void MapDrive(char letter, const std::string& hostFolder);
  // Host path of a Windows path, resolved case-insensitively component by
  // component; nullopt when the drive is unmapped or a component is missing.
  std::optional<std::string> HostPath(const std::string& windowsPath) const;
  // Host path for creating a file at `windowsPath`: existing components keep
  // their case, missing directories are created.
  std::string CreateHostPath(const std::string& windowsPath);
  // Writes a file (creating directories) with the given bytes and last-write
  // time (seconds since 1970, UTC).
  void WriteFile(const std::string& windowsPath, const std::vector<std::uint8_t>& bytes,
                 std::int64_t lastWriteUnixSeconds = 920419200 /* 1999-03-03 00:00 UTC */);
  bool FileExists(const std::string& windowsPath) const;
  // Read-only maps to the host's write permission, hidden and system to the
  // user.DOSATTRIB extended attribute (kept in memory where the host file
  // system has no extended attributes).
  void SetAttributesOf(const std::string& windowsPath, std::uint32_t attributes);
  std::uint32_t AttributesOf(const std::string& windowsPath) const;
  // Sets the last-write and last-access times (seconds since 1970, UTC).
  void SetLastWriteTime(const std::string& windowsPath, std::int64_t unixSeconds);
  // A file in use cannot be opened with no sharing, nor deleted.
  void SetInUse(const std::string& windowsPath, bool inUse);

  // Message boxes: each is recorded, then answered by the responder. Without
  // one, answers are taken from the list; when it runs out the box cannot be
  // shown (answer 0) and UnansweredBoxes() counts it.
  void SetResponder(Responder responder);
  void SetAnswers(std::vector<int> answers);
  const std::vector<MessageBoxRecord>& Boxes() const { return m_boxes; }
  int UnansweredBoxes() const { return m_unanswered; }
  bool RestartRequested() const { return m_restartRequested; }
  std::uint32_t ErrorMode() const { return m_errorMode; }

  // Once `*stop` is non-zero every call fails with ERROR_OPERATION_ABORTED
  // and boxes get no answer, so that a run comes to its end changing nothing
  // more. For a flag set by a signal handler.
  void StopWhen(const volatile std::sig_atomic_t* stop) { m_stop = stop; }

  void AddFault(Fault fault);
  // Fails the n-th platform call of any kind (counted from 1) with `error`.
  void FailCallNumber(std::uint64_t n, long error = kErrorAccessDenied);
  std::uint64_t CallCount() const { return m_callCount; }
  // From now on, notes the operation of every call, for OpOfCall.
  void KeepCallLog();
  // The operation of call n (numbered as CallCount counts), when the log kept it.
  std::optional<Op> OpOfCall(std::uint64_t n) const;
  // Registry keys and files still open.
  std::size_t OpenHandleCount() const;
  // The error code of the last failed call, as GetLastError would give it.
  long LastError() const;

  // Platform.
  long RegOpenKey(RegHandle root, const char* path, RegHandle* key) override;
  long RegOpenKeyEx(RegHandle root, const char* path, std::uint32_t access,
                    RegHandle* key) override;
  long RegEnumKey(RegHandle key, std::uint32_t index, char* name, std::uint32_t size) override;
  long RegQueryInfoKey(RegHandle key, std::uint32_t* subKeyCount) override;
  long RegQueryValueEx(RegHandle key, const char* valueName, std::uint32_t* type,
                       std::uint8_t* data, std::uint32_t* size) override;
  long RegDeleteKey(RegHandle root, const char* path) override;
  long RegDeleteValue(RegHandle key, const char* valueName) override;
  long RegCloseKey(RegHandle key) override;
  std::uint32_t GetOEMCP() override;
  std::uint32_t GetWindowsDirectory(char* buffer, std::uint32_t size) override;
  std::uint32_t SetErrorMode(std::uint32_t mode) override;
  bool IsDBCSLeadByte(std::uint8_t byte) override;
  const char* GetCommandLine() override;
  int MessageBox(const char* text, const char* caption, std::uint32_t style) override;
  bool ExitWindowsEx(std::uint32_t flags, std::uint32_t reserved) override;
  int LoadString(std::uint32_t id, char* buffer, int size) override;
  FileHandle CreateFile(const char* path, std::uint32_t access, std::uint32_t shareMode,
                        bool inheritHandle) override;
  bool CloseHandle(FileHandle file) override;
  bool GetFileTime(FileHandle file, FileTime* creation, FileTime* lastAccess,
                   FileTime* lastWrite) override;
  std::uint32_t GetFileSize(FileHandle file) override;
  bool SetFileTime(FileHandle file, const FileTime* creation, const FileTime* lastAccess,
                   const FileTime* lastWrite) override;
  bool FindFile(const char* path, FindData* data) override;
  std::uint32_t GetFileAttributes(const char* path) override;
  bool SetFileAttributes(const char* path, std::uint32_t attributes) override;
  bool DeleteFile(const char* path) override;
  bool FileTimeToLocalFileTime(const FileTime& utc, FileTime* local) override;
  bool LocalFileTimeToFileTime(const FileTime& local, FileTime* utc) override;
  bool FileTimeToSystemTime(const FileTime& time, SystemTime* fields) override;
  bool SystemTimeToFileTime(const SystemTime& fields, FileTime* time) override;
  std::uint32_t GetFileVersionInfoSize(const char* path) override;
  bool GetFileVersionInfo(const char* path, std::uint32_t size, void* block) override;
  bool QueryFixedFileInfo(const void* block, FixedFileInfo* info) override;

 private:
  // Counts the call and applies the faults: the error to fail it with.
  std::optional<long> Enter(Op op, const std::string& path);
  long OpenKey(Op op, RegHandle root, const char* path, std::uint32_t access, RegHandle* key);

  // Implementation state is the helper's to define; kept here so tests can
  // construct the machine on the stack.
  struct State;
  std::unique_ptr<State> m_state;
  MachineConfig m_config;
  Registry m_registry;
  std::vector<MessageBoxRecord> m_boxes;
  Responder m_responder;
  std::vector<int> m_answers;
  std::size_t m_nextAnswer = 0;
  int m_unanswered = 0;
  bool m_restartRequested = false;
  std::uint32_t m_errorMode = 0;
  std::uint64_t m_callCount = 0;
  bool m_keepCallLog = false;
  // The operations of the calls from number m_callLogFirst on.
  std::vector<Op> m_callLog;
  std::uint64_t m_callLogFirst = 0;
  const volatile std::sig_atomic_t* m_stop = nullptr;
};

// FILETIME ticks of a count of seconds since 1970-01-01 00:00:00 UTC.
constexpr std::uint64_t FileTimeFromUnix(std::int64_t seconds) {
  return static_cast<std::uint64_t>(seconds + kSecondsFrom1601To1970) * kFileTimeTicksPerSecond;
}

}  // namespace uninst::sim
