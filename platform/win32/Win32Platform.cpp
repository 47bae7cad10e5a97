#include "platform/win32/Win32Platform.h"

#include <windows.h>

#include <cstring>

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

// A key name has at most 255 UTF-16 characters; in the ANSI code page up to
// three bytes each (UTF-8 as the ANSI code page), and the terminator.
constexpr DWORD kKeyNameChars = 256;
constexpr int kAnsiKeyNameSize = 3 * 255 + 1;
// A path of the interface fits the 512-byte path buffer: as many characters.
constexpr int kWidePathChars = 512;
// What the walk of a path gives where the "A" call is to serve instead.
constexpr LONG kNotWalked = ERROR_CALL_NOT_IMPLEMENTED;

// The NT family's registry calls that the layer needs beyond the "A" forms.
// The registry holds names in UTF-16 and links that the "A" calls would
// follow; these reach both as they are. ntdll.dll exists in the NT family
// only, and the "W" registry calls are missing or stubs in the 9x family, so
// all four are looked up at run time, once GetVersion says this is NT.
class NtRegistry {
 public:
  // Whether this is the NT family with all four calls.
  bool Find() {
    // The 9x family sets the top bit of the version.
    if (::GetVersion() & 0x80000000u) return false;
    for (int call = 0; call < kCallCount; ++call) {
      const HMODULE module = ::GetModuleHandleA(kCalls[call].module);
      m_calls[call] = module != nullptr ? ::GetProcAddress(module, kCalls[call].name) : nullptr;
      if (m_calls[call] == nullptr) return false;
    }
    return true;
  }

  // Opens `name`, one key below `parent`, as itself: a link is not followed.
  LONG OpenAsItself(HKEY parent, const WCHAR* name, REGSAM access, HKEY* key) const {
    using Open = LONG(WINAPI*)(HKEY, const WCHAR*, DWORD, REGSAM, HKEY*);
    return Call<Open>(kOpenKey)(parent, name, REG_OPTION_OPEN_LINK, access, key);
  }
  // `*length`: in, the capacity of `name`; out, the characters written.
  LONG EnumKey(HKEY key, DWORD index, WCHAR* name, DWORD* length) const {
    using Enum = LONG(WINAPI*)(HKEY, DWORD, WCHAR*, DWORD*, DWORD*, WCHAR*, DWORD*, FILETIME*);
    return Call<Enum>(kEnumKey)(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
  }
  // Deletes the key behind the handle, a link as the link.
  LONG Delete(HKEY key) const {
    using DeleteKey = LONG(WINAPI*)(HANDLE);
    using StatusToError = ULONG(WINAPI*)(LONG);
    return static_cast<LONG>(Call<StatusToError>(kStatusToError)(Call<DeleteKey>(kDeleteKey)(key)));
  }

 private:
  enum { kOpenKey, kEnumKey, kDeleteKey, kStatusToError, kCallCount };
  struct Export {
    const char* module;
    const char* name;
  };
  static constexpr Export kCalls[kCallCount] = {{"advapi32.dll", "RegOpenKeyExW"},
                                                {"advapi32.dll", "RegEnumKeyExW"},
                                                {"ntdll.dll", "NtDeleteKey"},
                                                {"ntdll.dll", "RtlNtStatusToDosError"}};

  template <typename Function>
  Function Call(int call) const {
    // Through the generic function type, which converts to any other.
    using Generic = void (*)();
    return reinterpret_cast<Function>(reinterpret_cast<Generic>(m_calls[call]));
  }

  FARPROC m_calls[kCallCount] = {};
};

// A key opened as itself is a link when it holds the value that a link leads
// through; it is read through a handle of its own, so that the caller's
// handle keeps the rights asked for. A key whose values cannot be read
// counts as a link: it is refused.
bool IsLink(const NtRegistry& nt, HKEY key) {
  ScopedKey self;
  if (nt.OpenAsItself(key, L"", KEY_QUERY_VALUE, self.Receive()) != ERROR_SUCCESS) return true;
  DWORD type = REG_NONE;
  const LONG result =
      ::RegQueryValueExA(self.Get(), "SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
  return result == ERROR_SUCCESS ? type == REG_LINK : result != ERROR_FILE_NOT_FOUND;
}

// A path of the NT family's registry walked one key at a time from a root,
// each key opened as itself and refused, as if it were missing, when it is a
// link: nothing behind a link on the way is ever reached. The last two keys
// opened are held.
class KeyWalk {
 public:
  explicit KeyWalk(HKEY root) : m_root(root) {}

  const NtRegistry& Nt() const { return m_nt; }
  HKEY Current() const { return m_keys[m_slot].IsValid() ? m_keys[m_slot].Get() : m_root; }
  HKEY Detach() { return m_keys[m_slot].Detach(); }

  // Opens the keys of `path` up to the last name, which is left to the
  // caller in `*last`, or up to the end, the last one for `access`, when
  // `last` is null. kNotWalked on the 9x family, whose registry has no
  // links, and for a path with no name: the "A" call serves those.
  LONG Walk(const char* path, REGSAM access, WCHAR** last) {
    if (path == nullptr || path[0] == '\0' || !m_nt.Find()) return kNotWalked;
    // Converted as the "A" calls convert it, so a double-byte character
    // whose second byte is 0x5C is no separator.
    if (::MultiByteToWideChar(CP_ACP, 0, path, -1, m_path, kWidePathChars) == 0) {
      return ERROR_INVALID_PARAMETER;
    }
    // NT takes a leading backslash for an absolute object name.
    if (m_path[0] == L'\\') return ERROR_BAD_PATHNAME;
    for (WCHAR* name = m_path;;) {
      WCHAR* end = name;
      while (*end != L'\0' && *end != L'\\') ++end;
      const bool isLast = *end == L'\0';
      if (isLast && last != nullptr) {
        *last = name;
        return ERROR_SUCCESS;
      }
      *end = L'\0';
      if (const LONG result = Step(name, isLast ? access : KEY_QUERY_VALUE)) return result;
      if (isLast) return ERROR_SUCCESS;
      name = end + 1;
    }
  }

 private:
  LONG Step(const WCHAR* name, REGSAM access) {
    ScopedKey& next = m_keys[m_slot ^ 1];
    const LONG result = m_nt.OpenAsItself(Current(), name, access, next.Receive());
    if (result != ERROR_SUCCESS) return result;
    if (IsLink(m_nt, next.Get())) {
      next.Close();
      return ERROR_FILE_NOT_FOUND;
    }
    m_slot ^= 1;
    return ERROR_SUCCESS;
  }

  NtRegistry m_nt;
  HKEY m_root;
  WCHAR m_path[kWidePathChars];
  ScopedKey m_keys[2];
  int m_slot = 0;
};

// The name in `wide` in the ANSI code page, when the code page holds it
// exactly: a name written with a best-fit or default character would name
// another key. The buffer is written only on success.
LONG ToExactAnsi(const WCHAR* wide, DWORD length, char* name, DWORD size) {
  char ansi[kAnsiKeyNameSize];
  WCHAR back[kKeyNameChars];
  const int withTerminator = static_cast<int>(length) + 1;
  const int bytes =
      ::WideCharToMultiByte(CP_ACP, 0, wide, withTerminator, ansi, sizeof ansi, nullptr, nullptr);
  if (bytes == 0 ||
      ::MultiByteToWideChar(CP_ACP, 0, ansi, bytes, back, kKeyNameChars) != withTerminator ||
      std::memcmp(back, wide, withTerminator * sizeof(WCHAR)) != 0) {
    return ERROR_NO_UNICODE_TRANSLATION;
  }
  if (static_cast<DWORD>(bytes) > size) return ERROR_MORE_DATA;
  std::memcpy(name, ansi, bytes);
  return ERROR_SUCCESS;
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
LONG OpenForDeletion(const NtRegistry& nt, HKEY parent, const WCHAR* name, OpenLevel* level) {
  level->next = 0;
  LONG result =
      nt.OpenAsItself(parent, name, KEY_ENUMERATE_SUB_KEYS | DELETE, level->key.Receive());
  level->enumerable = result == ERROR_SUCCESS;
  if (result == ERROR_ACCESS_DENIED) {
    result = nt.OpenAsItself(parent, name, DELETE, level->key.Receive());
  }
  return result;
}

// Depth-first, without recursion: descends into the first subkey not yet
// stepped over, and deletes a key by its handle once it has no subkey left
// to visit. A link has no subkeys of its own, so it is deleted as it stands.
// Names are read and opened in UTF-16, as the registry holds them, so that
// each is the key it was read from, whatever the ANSI code page holds.
LONG DeleteTreeByHandle(const NtRegistry& nt, HKEY parent, const WCHAR* name) {
  // As deep as the registry nests keys: it reaches the bottom of any subtree.
  OpenLevel levels[kMaxKeyDepth];
  int depth = 0;
  if (const LONG opened = OpenForDeletion(nt, parent, name, &levels[0])) return opened;
  WCHAR child[kKeyNameChars];
  for (;;) {
    OpenLevel& level = levels[depth];
    DWORD length = kKeyNameChars;
    if (level.enumerable && depth + 1 < kMaxKeyDepth &&
        nt.EnumKey(level.key.Get(), level.next, child, &length) == ERROR_SUCCESS) {
      if (OpenForDeletion(nt, level.key.Get(), child, &levels[depth + 1]) == ERROR_SUCCESS) {
        ++depth;
      } else {
        ++level.next;
      }
      continue;
    }
    const LONG deleted = nt.Delete(level.key.Get());
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
  // The current process's own handle, as GetCurrentProcess gives it.
  const HANDLE process = reinterpret_cast<HANDLE>(-1);
  if (!::OpenProcessToken(process, TOKEN_ADJUST_PRIVILEGES, &token)) return;
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
// to null when an open fails. A plain open is RegOpenKeyA's own open, asking
// for whatever access the key allows.
long Win32Platform::RegOpenKey(RegHandle root, const char* path, RegHandle* key) {
  return RegOpenKeyEx(root, path, MAXIMUM_ALLOWED, key);
}

long Win32Platform::RegOpenKeyEx(RegHandle root, const char* path, std::uint32_t access,
                                 RegHandle* key) {
  if (key == nullptr) return ERROR_INVALID_PARAMETER;
  HKEY opened = ToKey(*key);
  KeyWalk walk(ToKey(root));
  LONG result = walk.Walk(path, access, nullptr);
  if (result == kNotWalked) {
    result = ::RegOpenKeyExA(ToKey(root), path, 0, access, &opened);
  } else {
    opened = result == ERROR_SUCCESS ? walk.Detach() : nullptr;
  }
  *key = reinterpret_cast<RegHandle>(opened);
  return result;
}

long Win32Platform::RegEnumKey(RegHandle key, std::uint32_t index, char* name, std::uint32_t size) {
  NtRegistry nt;
  if (!nt.Find()) return ::RegEnumKeyA(ToKey(key), index, name, size);
  if (name == nullptr) return ERROR_INVALID_PARAMETER;
  WCHAR wide[kKeyNameChars];
  DWORD length = kKeyNameChars;
  if (const LONG result = nt.EnumKey(ToKey(key), index, wide, &length)) return result;
  return ToExactAnsi(wide, length, name, size);
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
  KeyWalk walk(ToKey(root));
  WCHAR* last = nullptr;
  const LONG result = walk.Walk(path, 0, &last);
  if (result == kNotWalked) return ::RegDeleteKeyA(ToKey(root), path);
  if (result != ERROR_SUCCESS) return result;
  return DeleteTreeByHandle(walk.Nt(), walk.Current(), last);
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
  // Field by field: an initializer list would leave a copy of itself in the
  // file's writable data.
  SECURITY_ATTRIBUTES security;
  security.nLength = sizeof security;
  security.lpSecurityDescriptor = nullptr;
  security.bInheritHandle = TRUE;
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
