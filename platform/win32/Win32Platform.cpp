#include "platform/win32/Win32Platform.h"

#include <windows.h>

#include "platform/win32/ScopedHandle.h"
#include "platform/win32/UndefWindowsNames.h"

namespace uninst {

namespace {

HKEY ToKey(RegHandle key) { return reinterpret_cast<HKEY>(key); }
HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FILETIME ToWindows(const FileTime& time) {
  FILETIME converted;
  converted.dwLowDateTime = static_cast<DWORD>(time.ticks);
  converted.dwHighDateTime = static_cast<DWORD>(time.ticks >> 32);
  return converted;
}

FileTime FromWindows(const FILETIME& time) {
  FileTime converted;
  converted.ticks = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return converted;
}

// A null time stays null: Windows then leaves that time alone.
const FILETIME* ToOptionalWindowsTime(const FileTime* time, FILETIME* storage) {
  if (time == nullptr) return nullptr;
  *storage = ToWindows(*time);
  return storage;
}

void StoreOptionalTime(const FILETIME& time, FileTime* destination) {
  if (destination != nullptr) *destination = FromWindows(time);
}

SYSTEMTIME ToWindows(const SystemTime& fields) {
  SYSTEMTIME converted;
  converted.wYear = fields.year;
  converted.wMonth = fields.month;
  converted.wDayOfWeek = fields.dayOfWeek;
  converted.wDay = fields.day;
  converted.wHour = fields.hour;
  converted.wMinute = fields.minute;
  converted.wSecond = fields.second;
  converted.wMilliseconds = fields.milliseconds;
  return converted;
}

SystemTime FromWindows(const SYSTEMTIME& fields) {
  SystemTime converted;
  converted.year = fields.wYear;
  converted.month = fields.wMonth;
  converted.dayOfWeek = fields.wDayOfWeek;
  converted.day = fields.wDay;
  converted.hour = fields.wHour;
  converted.minute = fields.wMinute;
  converted.second = fields.wSecond;
  converted.milliseconds = fields.wMilliseconds;
  return converted;
}

// A Windows time conversion applied to the interface's time types.
template <typename WindowsIn, typename WindowsOut, typename In, typename Out>
bool ConvertTime(BOOL(WINAPI* convert)(const WindowsIn*, WindowsOut*), const In& in, Out* out) {
  const WindowsIn windowsIn = ToWindows(in);
  WindowsOut windowsOut;
  if (!convert(&windowsIn, &windowsOut)) return false;
  *out = FromWindows(windowsOut);
  return true;
}

// A key name has at most 255 UTF-16 characters: up to 510 bytes on a
// double-byte code page, and the terminator.
constexpr DWORD kKeyNameSize = 512;

// NtDeleteKey deletes the key behind a handle, so a registry link opened as
// a link is deleted itself; RegDeleteKeyA would follow it and delete its
// target. Both calls exist in the NT family's ntdll.dll only and are looked
// up at run time, so that the program still loads on Windows 95 and 98,
// whose registry has no links and whose RegDeleteKeyA removes a subtree.
struct HandleDeletion {
  using DeleteKey = LONG(WINAPI*)(HANDLE);
  using StatusToError = ULONG(WINAPI*)(LONG);
  DeleteKey deleteKey = nullptr;
  StatusToError statusToError = nullptr;

  LONG Delete(HKEY key) const { return static_cast<LONG>(statusToError(deleteKey(key))); }
};

template <typename Function>
Function LookUp(HMODULE module, const char* name) {
  // Through the generic function type, which converts to any other.
  using Generic = void (*)();
  return reinterpret_cast<Function>(reinterpret_cast<Generic>(::GetProcAddress(module, name)));
}

// Whether the running system deletes keys by handle; fills `deletion` if so.
bool FindHandleDeletion(HandleDeletion* deletion) {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  if (ntdll == nullptr) return false;
  deletion->deleteKey = LookUp<HandleDeletion::DeleteKey>(ntdll, "NtDeleteKey");
  deletion->statusToError = LookUp<HandleDeletion::StatusToError>(ntdll, "RtlNtStatusToDosError");
  return deletion->deleteKey != nullptr && deletion->statusToError != nullptr;
}

// One open key of the subtree being deleted, and the index of its next
// subkey to visit: the subkeys that could not be deleted lie below it.
struct OpenLevel {
  ScopedKey key;
  DWORD next = 0;
  bool enumerable = false;
};

// Opens `name` below `parent` as itself: a link is opened as the link, never
// followed. A key that may be deleted but not enumerated is opened for
// deletion alone, which removes it when it has no subkeys.
LONG OpenForDeletion(HKEY parent, const char* name, OpenLevel* level) {
  level->next = 0;
  LONG result = ::RegOpenKeyExA(parent, name, REG_OPTION_OPEN_LINK, KEY_ENUMERATE_SUB_KEYS | DELETE,
                                level->key.Receive());
  level->enumerable = result == ERROR_SUCCESS;
  if (result == ERROR_ACCESS_DENIED) {
    result = ::RegOpenKeyExA(parent, name, REG_OPTION_OPEN_LINK, DELETE, level->key.Receive());
  }
  return result;
}

// Depth-first, without recursion: descends into the first subkey not yet
// stepped over, and deletes a key by its handle once it has no subkey left
// to visit. A link has no subkeys of its own, so it is deleted as it stands.
LONG DeleteTreeByHandle(const HandleDeletion& deletion, HKEY root, const char* path) {
  // As deep as the registry nests keys: it reaches the bottom of any subtree.
  OpenLevel levels[kMaxKeyDepth];
  int depth = 0;
  if (const LONG opened = OpenForDeletion(root, path, &levels[0])) return opened;
  char name[kKeyNameSize];
  for (;;) {
    OpenLevel& level = levels[depth];
    if (level.enumerable && depth + 1 < kMaxKeyDepth &&
        ::RegEnumKeyA(level.key.Get(), level.next, name, kKeyNameSize) == ERROR_SUCCESS) {
      if (OpenForDeletion(level.key.Get(), name, &levels[depth + 1]) == ERROR_SUCCESS) {
        ++depth;
      } else {
        ++level.next;
      }
      continue;
    }
    const LONG deleted = deletion.Delete(level.key.Get());
    level.key.Close();
    if (depth == 0) return deleted;
    --depth;
    // Each deletion renumbers the subkeys left; one that stays is stepped over.
    if (deleted != ERROR_SUCCESS) ++levels[depth].next;
  }
}

// Windows 95 has no privileges and fails the token call; the restart then
// needs none.
void EnableShutdownPrivilege() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return;
  const ScopedKernelHandle guard(token);
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!::LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
    return;
  }
  ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
}

}  // namespace

// The handle goes back as Windows leaves it, success or not: Windows sets it
// to null when an open fails.
long Win32Platform::RegOpenKey(RegHandle root, const char* path, RegHandle* key) {
  if (key == nullptr) return ERROR_INVALID_PARAMETER;
  HKEY opened = ToKey(*key);
  const LONG result = ::RegOpenKeyA(ToKey(root), path, &opened);
  *key = reinterpret_cast<RegHandle>(opened);
  return result;
}

long Win32Platform::RegOpenKeyEx(RegHandle root, const char* path, std::uint32_t access,
                                 RegHandle* key) {
  if (key == nullptr) return ERROR_INVALID_PARAMETER;
  HKEY opened = ToKey(*key);
  const LONG result = ::RegOpenKeyExA(ToKey(root), path, 0, access, &opened);
  *key = reinterpret_cast<RegHandle>(opened);
  return result;
}

long Win32Platform::RegEnumKey(RegHandle key, std::uint32_t index, char* name, std::uint32_t size) {
  return ::RegEnumKeyA(ToKey(key), index, name, size);
}

long Win32Platform::RegQueryInfoKey(RegHandle key, std::uint32_t* subKeyCount) {
  DWORD count = 0;
  const LONG result = ::RegQueryInfoKeyA(ToKey(key), nullptr, nullptr, nullptr, &count, nullptr,
                                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (result == ERROR_SUCCESS) *subKeyCount = count;
  return result;
}

long Win32Platform::RegQueryValueEx(RegHandle key, const char* valueName, std::uint32_t* type,
                                    std::uint8_t* data, std::uint32_t* size) {
  DWORD valueType = REG_NONE;
  DWORD dataSize = (size != nullptr) ? *size : 0;
  const LONG result = ::RegQueryValueExA(ToKey(key), valueName, nullptr, &valueType, data,
                                         (size != nullptr) ? &dataSize : nullptr);
  if (type != nullptr) *type = valueType;
  if (size != nullptr) *size = dataSize;
  return result;
}

long Win32Platform::RegDeleteKey(RegHandle root, const char* path) {
  // An empty path would name the root itself and wipe everything below it.
  if (path == nullptr || path[0] == '\0') return ERROR_INVALID_PARAMETER;
  HandleDeletion deletion;
  if (!FindHandleDeletion(&deletion)) return ::RegDeleteKeyA(ToKey(root), path);
  return DeleteTreeByHandle(deletion, ToKey(root), path);
}

long Win32Platform::RegDeleteValue(RegHandle key, const char* valueName) {
  return ::RegDeleteValueA(ToKey(key), valueName);
}

long Win32Platform::RegCloseKey(RegHandle key) { return ::RegCloseKey(ToKey(key)); }

std::uint32_t Win32Platform::GetOEMCP() { return ::GetOEMCP(); }

std::uint32_t Win32Platform::GetWindowsDirectory(char* buffer, std::uint32_t size) {
  return ::GetWindowsDirectoryA(buffer, size);
}

std::uint32_t Win32Platform::SetErrorMode(std::uint32_t mode) { return ::SetErrorMode(mode); }

bool Win32Platform::IsDBCSLeadByte(std::uint8_t byte) { return ::IsDBCSLeadByte(byte) != FALSE; }

const char* Win32Platform::GetCommandLine() { return ::GetCommandLineA(); }

int Win32Platform::MessageBox(const char* text, const char* caption, std::uint32_t style) {
  return ::MessageBoxA(nullptr, text, caption, style);
}

bool Win32Platform::ExitWindowsEx(std::uint32_t flags, std::uint32_t reserved) {
  // The NT family refuses a restart from a process whose shutdown privilege
  // is present but not enabled.
  EnableShutdownPrivilege();
  return ::ExitWindowsEx(flags, reserved) != FALSE;
}

int Win32Platform::LoadString(std::uint32_t id, char* buffer, int size) {
  if (buffer == nullptr || size < 1) return 0;
  buffer[0] = '\0';
  int length = ::LoadStringA(::GetModuleHandleA(nullptr), id, buffer, size);
  if (length < 0) length = 0;
  if (length >= size) length = size - 1;
  buffer[length] = '\0';
  return length;
}

FileHandle Win32Platform::CreateFile(const char* path, std::uint32_t access,
                                     std::uint32_t shareMode, bool inheritHandle) {
  SECURITY_ATTRIBUTES security = {sizeof security, nullptr, TRUE};
  const HANDLE file = ::CreateFileA(path, access, shareMode, inheritHandle ? &security : nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return reinterpret_cast<FileHandle>(file);
}

bool Win32Platform::CloseHandle(FileHandle file) { return ::CloseHandle(ToHandle(file)) != FALSE; }

bool Win32Platform::GetFileTime(FileHandle file, FileTime* creation, FileTime* lastAccess,
                                FileTime* lastWrite) {
  FILETIME created, accessed, written;
  if (!::GetFileTime(ToHandle(file), creation ? &created : nullptr,
                     lastAccess ? &accessed : nullptr, lastWrite ? &written : nullptr)) {
    return false;
  }
  StoreOptionalTime(created, creation);
  StoreOptionalTime(accessed, lastAccess);
  StoreOptionalTime(written, lastWrite);
  return true;
}

std::uint32_t Win32Platform::GetFileSize(FileHandle file) {
  return ::GetFileSize(ToHandle(file), nullptr);
}

bool Win32Platform::SetFileTime(FileHandle file, const FileTime* creation,
                                const FileTime* lastAccess, const FileTime* lastWrite) {
  FILETIME created, accessed, written;
  return ::SetFileTime(ToHandle(file), ToOptionalWindowsTime(creation, &created),
                       ToOptionalWindowsTime(lastAccess, &accessed),
                       ToOptionalWindowsTime(lastWrite, &written)) != FALSE;
}

bool Win32Platform::FindFile(const char* path, FindData* data) {
  WIN32_FIND_DATAA found;
  const HANDLE search = ::FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  const ScopedFind guard(search);
  data->attributes = found.dwFileAttributes;
  data->creationTime = FromWindows(found.ftCreationTime);
  data->lastAccessTime = FromWindows(found.ftLastAccessTime);
  data->lastWriteTime = FromWindows(found.ftLastWriteTime);
  data->size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
  return true;
}

std::uint32_t Win32Platform::GetFileAttributes(const char* path) {
  return ::GetFileAttributesA(path);
}

bool Win32Platform::SetFileAttributes(const char* path, std::uint32_t attributes) {
  return ::SetFileAttributesA(path, attributes) != FALSE;
}

bool Win32Platform::DeleteFile(const char* path) { return ::DeleteFileA(path) != FALSE; }

bool Win32Platform::FileTimeToLocalFileTime(const FileTime& utc, FileTime* local) {
  return ConvertTime(::FileTimeToLocalFileTime, utc, local);
}

bool Win32Platform::LocalFileTimeToFileTime(const FileTime& local, FileTime* utc) {
  return ConvertTime(::LocalFileTimeToFileTime, local, utc);
}

bool Win32Platform::FileTimeToSystemTime(const FileTime& time, SystemTime* fields) {
  return ConvertTime(::FileTimeToSystemTime, time, fields);
}

bool Win32Platform::SystemTimeToFileTime(const SystemTime& fields, FileTime* time) {
  return ConvertTime(::SystemTimeToFileTime, fields, time);
}

std::uint32_t Win32Platform::GetFileVersionInfoSize(const char* path) {
  DWORD handle = 0;
  return ::GetFileVersionInfoSizeA(path, &handle);
}

bool Win32Platform::GetFileVersionInfo(const char* path, std::uint32_t size, void* block) {
  return ::GetFileVersionInfoA(path, 0, size, block) != FALSE;
}

bool Win32Platform::QueryFixedFileInfo(const void* block, FixedFileInfo* info) {
  void* root = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(block, "\\", &root, &length)) return false;
  // A damaged resource could hand back a shorter block than the structure.
  if (root == nullptr || length < sizeof(VS_FIXEDFILEINFO)) return false;
  const VS_FIXEDFILEINFO& fixed = *static_cast<const VS_FIXEDFILEINFO*>(root);
  info->signature = fixed.dwSignature;
  info->structVersion = fixed.dwStrucVersion;
  info->fileVersionMS = fixed.dwFileVersionMS;
  info->fileVersionLS = fixed.dwFileVersionLS;
  info->productVersionMS = fixed.dwProductVersionMS;
  info->productVersionLS = fixed.dwProductVersionLS;
  info->fileFlagsMask = fixed.dwFileFlagsMask;
  info->fileFlags = fixed.dwFileFlags;
  info->fileOS = fixed.dwFileOS;
  info->fileType = fixed.dwFileType;
  info->fileSubtype = fixed.dwFileSubtype;
  info->fileDateMS = fixed.dwFileDateMS;
  info->fileDateLS = fixed.dwFileDateLS;
  return true;
}

}  // namespace uninst
