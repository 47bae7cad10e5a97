// The platform interface over the real single-byte ("A") Windows calls.
//
// This header deliberately does not include <windows.h>: the Windows macros
// (MessageBox, CreateFile, LoadString, ...) would rename the interface's
// methods in every file that sees them.
#pragma once

#include "platform/Platform.h"

namespace uninst {

class Win32Platform final : public Platform {
 public:
  // No state: a static instance is constant-initialized and never destroyed.
  constexpr Win32Platform() = default;

  // On the NT family the path is opened one key at a time, each key as
  // itself, and a registry link anywhere on it refuses the open.
  long RegOpenKey(RegHandle root, const char* path, RegHandle* key) override;
  long RegOpenKeyEx(RegHandle root, const char* path, std::uint32_t access,
                    RegHandle* key) override;
  // On the NT family the name is read in UTF-16 and given only when the ANSI
  // code page holds it exactly.
  long RegEnumKey(RegHandle key, std::uint32_t index, char* name, std::uint32_t size) override;
  long RegQueryInfoKey(RegHandle key, std::uint32_t* subKeyCount) override;
  long RegQueryValueEx(RegHandle key, const char* valueName, std::uint32_t* type,
                       std::uint8_t* data, std::uint32_t* size) override;
  // The NT family refuses to delete a key that has subkeys, so the subtree
  // is removed depth-first, each key through its own handle so that a
  // registry link is deleted and never followed; the path to it is walked
  // as for an open.
  long RegDeleteKey(RegHandle root, const char* path) override;
  long RegDeleteValue(RegHandle key, const char* valueName) override;
  long RegCloseKey(RegHandle key) override;

  std::uint32_t GetOEMCP() override;
  std::uint32_t GetWindowsDirectory(char* buffer, std::uint32_t size) override;
  std::uint32_t SetErrorMode(std::uint32_t mode) override;
  bool IsDBCSLeadByte(std::uint8_t byte) override;
  const char* GetCommandLine() override;

  int MessageBox(const char* text, const char* caption, std::uint32_t style) override;
  // Enables the shutdown privilege first where Windows has one.
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
};

}  // namespace uninst
