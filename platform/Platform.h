// The Windows operations the uninstaller performs, as one interface.
//
// The portable core (app/, registry/, files/) talks to the machine only through
// this interface. platform/win32 forwards each call to the single-byte ("A")
// Windows API; platform/sim answers it from a simulated machine. Argument and
// result conventions follow the Windows calls of the same name, so that the
// core reads like code written directly against Windows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace uninst {

// Registry handles and the predefined root, as Windows numbers them.
using RegHandle = std::uintptr_t;
constexpr RegHandle kLocalMachine = 0x80000002u;

// Access rights of RegOpenKeyEx.
constexpr std::uint32_t kKeyQueryValue = 0x0001;
constexpr std::uint32_t kKeySetValue = 0x0002;
constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;

// Value types.
constexpr std::uint32_t kRegNone = 0;
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegMultiSz = 7;

// Windows error codes the callers and the simulated machine use.
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorPathNotFound = 3;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorSharingViolation = 32;
constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorMoreData = 234;
constexpr long kErrorNoMoreItems = 259;
constexpr long kErrorKeyDeleted = 1018;
constexpr long kErrorNoUnicodeTranslation = 1113;

// The registry nests keys at most 512 levels deep.
constexpr int kMaxKeyDepth = 512;

// Message box styles and answers.
constexpr std::uint32_t kMbOk = 0x00;
constexpr std::uint32_t kMbYesNoCancel = 0x03;
constexpr std::uint32_t kMbYesNo = 0x04;
constexpr std::uint32_t kMbIconQuestion = 0x20;
constexpr std::uint32_t kMbIconWarning = 0x30;
constexpr std::uint32_t kMbIconInformation = 0x40;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

constexpr std::uint32_t kEwxReboot = 0x02;

constexpr std::uint32_t kSemFailCriticalErrors = 0x0001;
constexpr std::uint32_t kSemNoOpenFileErrorBox = 0x8000;

// Files.
using FileHandle = std::uintptr_t;
constexpr FileHandle kInvalidFile = ~static_cast<FileHandle>(0);  // INVALID_HANDLE_VALUE
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kFileShareRead = 0x00000001u;
constexpr std::uint32_t kInvalidFileSize = 0xFFFFFFFFu;
constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr std::uint32_t kFileAttributeReadOnly = 0x01;
constexpr std::uint32_t kFileAttributeHidden = 0x02;
constexpr std::uint32_t kFileAttributeSystem = 0x04;
constexpr std::uint32_t kFileAttributeDirectory = 0x10;
constexpr std::uint32_t kFileAttributeArchive = 0x20;
constexpr std::uint32_t kFileAttributeNormal = 0x80;

// FILETIME as one number: 100-nanosecond intervals since 1601-01-01.
struct FileTime {
  std::uint64_t ticks = 0;
};
constexpr std::uint64_t kFileTimeTicksPerSecond = 10000000u;
// Seconds from the FILETIME epoch to 1970-01-01 00:00:00 UTC.
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600LL;

// SYSTEMTIME.
struct SystemTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t dayOfWeek = 0;
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;
};

// What FindFirstFileA reports of one file.
struct FindData {
  std::uint32_t attributes = 0;
  FileTime creationTime;
  FileTime lastAccessTime;
  FileTime lastWriteTime;
  std::uint64_t size = 0;
};

// VS_FIXEDFILEINFO, the root block of a version resource.
struct FixedFileInfo {
  std::uint32_t signature = 0;
  std::uint32_t structVersion = 0;
  std::uint32_t fileVersionMS = 0;
  std::uint32_t fileVersionLS = 0;
  std::uint32_t productVersionMS = 0;
  std::uint32_t productVersionLS = 0;
  std::uint32_t fileFlagsMask = 0;
  std::uint32_t fileFlags = 0;
  std::uint32_t fileOS = 0;
  std::uint32_t fileType = 0;
  std::uint32_t fileSubtype = 0;
  std::uint32_t fileDateMS = 0;
  std::uint32_t fileDateLS = 0;
};

class Platform {
 public:
  // Registry. Paths are relative to `root` and use backslashes. Results are
  // Windows error codes (0 = success). A failed open sets `key` to 0. On the
  // NT family every key of a path is opened as itself, and a registry link
  // at any key of it fails the open as a missing key would
  // (ERROR_FILE_NOT_FOUND): nothing behind a link is ever reached.
  [[nodiscard]] virtual long RegOpenKey(RegHandle root, const char* path, RegHandle* key) = 0;
  [[nodiscard]] virtual long RegOpenKeyEx(RegHandle root, const char* path, std::uint32_t access,
                                          RegHandle* key) = 0;
  // Writes nothing but the name of subkey `index`, exactly: a name that does
  // not fit fails with ERROR_MORE_DATA, and on the NT family a name that the
  // ANSI code page cannot hold exactly with ERROR_NO_UNICODE_TRANSLATION.
  // Either is an unreadable index; the indexes after it can still be read.
  [[nodiscard]] virtual long RegEnumKey(RegHandle key, std::uint32_t index, char* name,
                                        std::uint32_t size) = 0;
  [[nodiscard]] virtual long RegQueryInfoKey(RegHandle key, std::uint32_t* subKeyCount) = 0;
  // `size`: in, the capacity of `data`; out, the bytes stored (or needed).
  [[nodiscard]] virtual long RegQueryValueEx(RegHandle key, const char* valueName,
                                             std::uint32_t* type, std::uint8_t* data,
                                             std::uint32_t* size) = 0;
  // Deletes the key with every key below it, as the Windows 95 registry does.
  // A registry link, whether `path` names it or it lies below, is deleted
  // itself: its target is never entered nor deleted. A link on the way to
  // the key fails the deletion as a missing key would, deleting nothing.
  [[nodiscard]] virtual long RegDeleteKey(RegHandle root, const char* path) = 0;
  [[nodiscard]] virtual long RegDeleteValue(RegHandle key, const char* valueName) = 0;
  virtual long RegCloseKey(RegHandle key) = 0;

  // System.
  virtual std::uint32_t GetOEMCP() = 0;
  // As GetWindowsDirectoryA: the length written; when `buffer` is too small,
  // the size needed with the terminator, and nothing written; 0 on failure.
  [[nodiscard]] virtual std::uint32_t GetWindowsDirectory(char* buffer, std::uint32_t size) = 0;
  virtual std::uint32_t SetErrorMode(std::uint32_t mode) = 0;
  // Whether `byte` starts a double-byte character of the ANSI code page.
  virtual bool IsDBCSLeadByte(std::uint8_t byte) = 0;
  // Text of the process command line, program name included.
  virtual const char* GetCommandLine() = 0;

  // User interface. A message box has no owner window; 0 = it could not be shown.
  virtual int MessageBox(const char* text, const char* caption, std::uint32_t style) = 0;
  virtual bool ExitWindowsEx(std::uint32_t flags, std::uint32_t reserved) = 0;
  // Loads string resource `id` in the ANSI code page; returns its length, 0
  // when the ID has no text. Always terminates `buffer` (size >= 1).
  virtual int LoadString(std::uint32_t id, char* buffer, int size) = 0;

  // Files. CreateFile opens an existing file (OPEN_EXISTING,
  // FILE_ATTRIBUTE_NORMAL, no template); kInvalidFile on failure.
  virtual FileHandle CreateFile(const char* path, std::uint32_t access, std::uint32_t shareMode,
                                bool inheritHandle) = 0;
  virtual bool CloseHandle(FileHandle file) = 0;
  virtual bool GetFileTime(FileHandle file, FileTime* creation, FileTime* lastAccess,
                           FileTime* lastWrite) = 0;
  // Low 32 bits of the size; kInvalidFileSize on failure.
  virtual std::uint32_t GetFileSize(FileHandle file) = 0;
  // A null time is left unchanged.
  virtual bool SetFileTime(FileHandle file, const FileTime* creation, const FileTime* lastAccess,
                           const FileTime* lastWrite) = 0;
  // FindFirstFileA followed by FindClose.
  virtual bool FindFile(const char* path, FindData* data) = 0;
  virtual std::uint32_t GetFileAttributes(const char* path) = 0;
  virtual bool SetFileAttributes(const char* path, std::uint32_t attributes) = 0;
  virtual bool DeleteFile(const char* path) = 0;

  // Time conversions, in the machine's local time zone.
  virtual bool FileTimeToLocalFileTime(const FileTime& utc, FileTime* local) = 0;
  virtual bool LocalFileTimeToFileTime(const FileTime& local, FileTime* utc) = 0;
  virtual bool FileTimeToSystemTime(const FileTime& time, SystemTime* fields) = 0;
  virtual bool SystemTimeToFileTime(const SystemTime& fields, FileTime* time) = 0;

  // Version information.
  virtual std::uint32_t GetFileVersionInfoSize(const char* path) = 0;
  virtual bool GetFileVersionInfo(const char* path, std::uint32_t size, void* block) = 0;
  // VerQueryValueA with the root sub-block "\".
  virtual bool QueryFixedFileInfo(const void* block, FixedFileInfo* info) = 0;

 protected:
  // Never destroyed through the interface; keeps operator delete out of the
  // Windows program.
  ~Platform() = default;
};

}  // namespace uninst
