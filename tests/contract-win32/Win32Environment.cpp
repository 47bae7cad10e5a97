// The contract tests' environment on real Windows (or Wine): keys below
// HKEY_LOCAL_MACHINE and files in a fresh folder under the temporary
// directory, set up and inspected with plain Windows calls, never through the
// layer under test.
#include <shlwapi.h>
#include <windows.h>

#include "platform/win32/ScopedHandle.h"
#include "platform/win32/UndefWindowsNames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/Win32Platform.h"
#include "tests/contract/ContractEnvironment.h"

namespace uninst::contract {
namespace {

class Win32FileHold final : public FileHold {
 public:
  explicit Win32FileHold(const std::string& path)
      : m_file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
    if (!m_file.IsValid()) ADD_FAILURE() << "cannot hold " << path << " open";
  }

 private:
  ScopedKernelHandle m_file;
};

// Creates every missing folder on the way to `path`, the last part excluded.
void CreateParentFolders(const std::string& path) {
  // Past "C:\" so that the drive itself is never created.
  for (std::size_t slash = path.find('\\', 3); slash != std::string::npos;
       slash = path.find('\\', slash + 1)) {
    CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
  }
}

// Removes a folder with everything in it, read-only files included.
void RemoveFolder(const std::string& folder) {
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = folder + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveFolder(path);
      } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}

// A new, empty folder in the temporary directory.
std::string MakeScratchFolder() {
  char temp[MAX_PATH];
  char name[MAX_PATH];
  const DWORD length = GetTempPathA(sizeof temp, temp);
  if (length == 0 || length >= sizeof temp || GetTempFileNameA(temp, "unc", 0, name) == 0) {
    ADD_FAILURE() << "no temporary directory";
    return "C:\\uninst-contract";
  }
  // The unique file name becomes the folder's name.
  DeleteFileA(name);
  if (!CreateDirectoryA(name, nullptr)) ADD_FAILURE() << "cannot create " << name;
  return name;
}

class Win32Environment final : public ContractEnvironment {
 public:
  Win32Environment() : m_scratch(MakeScratchFolder()) {}
  ~Win32Environment() override { RemoveFolder(m_scratch); }

  Platform& GetPlatform() override { return m_platform; }

  void CreateKey(const std::string& path) override { OpenOrCreate(path); }

  void SetValue(const std::string& keyPath, const std::string& name, std::uint32_t type,
                const std::vector<std::uint8_t>& data) override {
    ScopedKey key;
    if (!OpenOrCreate(keyPath, &key)) return;
    const LONG result = RegSetValueExA(key.Get(), name.c_str(), 0, type, data.data(),
                                       static_cast<DWORD>(data.size()));
    if (result != ERROR_SUCCESS) ADD_FAILURE() << "cannot set " << keyPath << "\\" << name;
  }

  bool KeyExists(const std::string& path) override {
    ScopedKey key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, key.Receive()) ==
           ERROR_SUCCESS;
  }

  bool ValueExists(const std::string& keyPath, const std::string& name) override {
    ScopedKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.Receive()) !=
        ERROR_SUCCESS) {
      return false;
    }
    return RegQueryValueExA(key.Get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
  }

  // NT's link form: the key the link leads to as an object name, in UTF-16
  // without a terminator.
  bool CreateLink(const std::string& path, const std::string& target) override {
    ScopedKey link;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                        KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, link.Receive(),
                        nullptr) != ERROR_SUCCESS) {
      return false;
    }
    const std::string name = "\\Registry\\Machine\\" + target;
    const std::wstring wide(name.begin(), name.end());
    if (RegSetValueExW(link.Get(), L"SymbolicLinkValue", 0, REG_LINK,
                       reinterpret_cast<const BYTE*>(wide.data()),
                       static_cast<DWORD>(wide.size() * sizeof(wchar_t))) != ERROR_SUCCESS) {
      ADD_FAILURE() << "cannot point link " << path << " at " << target;
    }
    m_links.push_back(path);
    return true;
  }

  bool CreateKeyBeyondCodePage(const std::string& parentPath) override {
    std::wstring path(parentPath.begin(), parentPath.end());
    path +=
        L"\\A\xFF3C"
        L"B";
    ScopedKey key;
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                           key.Receive(), nullptr) == ERROR_SUCCESS;
  }

  // SHDeleteKeyA would follow a link into its target, so the links made here
  // go first, each deleted through its own handle.
  void DeleteTree(const std::string& path) override {
    using DeleteKey = LONG(WINAPI*)(HANDLE);
    const auto deleteKey = reinterpret_cast<DeleteKey>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
    for (const std::string& link : m_links) {
      ScopedKey key;
      if (link.rfind(path, 0) == 0 &&
          RegOpenKeyExA(HKEY_LOCAL_MACHINE, link.c_str(), REG_OPTION_OPEN_LINK, DELETE,
                        key.Receive()) == ERROR_SUCCESS) {
        deleteKey(key.Get());
      }
    }
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
  }

  bool UseTimeZone(const std::string&, FileTime) override { return false; }

  bool UnderWine() override {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  }

  std::string ScratchDirectory() override { return m_scratch; }

  void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
                 FileTime lastWrite) override {
    CreateParentFolders(path);
    // A read-only file could not be replaced.
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    const ScopedKernelHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
      ADD_FAILURE() << "cannot create " << path;
      return;
    }
    DWORD written = 0;
    if (!::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) ||
        written != bytes.size()) {
      ADD_FAILURE() << "cannot write " << path;
    }
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(lastWrite.ticks);
    time.dwHighDateTime = static_cast<DWORD>(lastWrite.ticks >> 32);
    if (!SetFileTime(file.Get(), nullptr, &time, &time)) ADD_FAILURE() << "cannot date " << path;
  }

  bool FileExists(const std::string& path) override {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  void SetAttributes(const std::string& path, std::uint32_t attributes) override {
    if (!SetFileAttributesA(path.c_str(), attributes)) {
      ADD_FAILURE() << "cannot set the attributes of " << path;
    }
  }

  std::uint32_t Attributes(const std::string& path) override {
    return GetFileAttributesA(path.c_str());
  }

  std::unique_ptr<FileHold> HoldOpen(const std::string& path) override {
    return std::make_unique<Win32FileHold>(path);
  }

 private:
  static bool OpenOrCreate(const std::string& path, ScopedKey* key = nullptr) {
    ScopedKey own;
    ScopedKey& target = (key != nullptr) ? *key : own;
    const LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                        KEY_ALL_ACCESS, nullptr, target.Receive(), nullptr);
    if (result != ERROR_SUCCESS) ADD_FAILURE() << "cannot create key " << path;
    return result == ERROR_SUCCESS;
  }

  Win32Platform m_platform;
  std::string m_scratch;
  std::vector<std::string> m_links;
};

}  // namespace

// The Windows layer is compared with the NT family.
std::vector<Family> ContractFamilies() { return {Family::kNt}; }

std::unique_ptr<ContractEnvironment> MakeContractEnvironment(Family) {
  return std::make_unique<Win32Environment>();
}

}  // namespace uninst::contract
