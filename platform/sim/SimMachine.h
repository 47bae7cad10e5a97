// A simulated Windows machine: the registry below HKEY_LOCAL_MACHINE, drive
// letters backed by host folders, the code page, the windows directory, a
// local time zone, message boxes answered by a script or a person, and fault
// injection. Host tests and uninst-sim run the real core against it.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/sim/HostFiles.h"
#include "platform/sim/Journal.h"
#include "platform/sim/MachineConfig.h"
#include "platform/sim/Registry.h"
#include "platform/sim/Trace.h"

namespace uninst::sim {

class SimMachine final : public Platform {
 public:
  using Responder = std::function<int(const MessageBoxRecord&)>;

  SimMachine();
  ~SimMachine();

  MachineConfig& Config() { return m_config; }
  Registry& GetRegistry() { return m_registry; }

  // Drive `letter` (A-Z) is backed by the host folder `hostFolder`.
  void MapDrive(char letter, const std::string& hostFolder);
  // The same with the folder already open; `hostFolder` only names it.
  void MapDrive(char letter, const std::string& hostFolder, UniqueFd folder);
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
  // Read-only maps to the host's write permission, hidden, system and
  // archive to the user.DOSATTRIB extended attribute (kept in memory where
  // the host file system has no extended attributes); a file without it is
  // archived and nothing else, as Windows makes a file. The attributes are
  // set as given, as SetFileAttributes sets them.
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

  // Every change the machine made, in order, with what stood there before.
  const Journal& GetJournal() const;
  void ObserveJournal(Journal::Observer observer);
  // From now on no change reaches the host files: each is only journaled,
  // and the machine shows the program its files as the journal has them.
  void KeepHostUnchanged();
  // Deleted files move into the open folder `folder`, each named by its
  // number in the journal, so that they can be put back; without it they
  // are unlinked.
  void KeepDeletedFilesIn(UniqueFd folder);
  // From now on, tells `observer` of each read, removal and answer the
  // program asks for, as it is made.
  void ObserveTrace(std::function<void(const TraceEntry&)> observer);

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
  // The path below HKEY_LOCAL_MACHINE of `path` opened relative to `root`.
  std::string KeyPathOf(RegHandle root, const char* path) const;
  long EnumKey(RegHandle key, std::uint32_t index, char* name, std::uint32_t size);
  long QueryValue(RegHandle key, const char* valueName, std::uint32_t* type, std::uint8_t* data,
                  std::uint32_t* size);
  long DeleteKey(RegHandle root, const char* path);
  long DeleteValue(RegHandle key, const char* valueName);
  FileHandle OpenFile(const char* path, std::uint32_t access, std::uint32_t shareMode,
                      bool inheritHandle);
  bool RemoveFile(const char* path);
  void TraceOpen(RegHandle root, const char* path, long result);
  // Tells the trace's observer of `entry`, with the journal entry a
  // successful deletion made.
  void Note(TraceEntry entry);

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
