// A platform that forwards every call to a simulated machine and notes the
// call numbers of the closes, so that a fault sweep can tell a failed close
// (which leaves its handle open whatever the caller does) from a leak.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/sim/SimMachine.h"

namespace uninst::test {

class CloseRecorder final : public Platform {
 public:
  explicit CloseRecorder(sim::SimMachine& machine) : m(machine) {}

  // Machine call numbers of every RegCloseKey and CloseHandle.
  const std::vector<std::uint64_t>& Closes() const { return m_closes; }

  long RegCloseKey(RegHandle key) override {
    const long result = m.RegCloseKey(key);
    m_closes.push_back(m.CallCount());
    return result;
  }
  bool CloseHandle(FileHandle file) override {
    const bool result = m.CloseHandle(file);
    m_closes.push_back(m.CallCount());
    return result;
  }

  long RegOpenKey(RegHandle root, const char* path, RegHandle* key) override {
    return m.RegOpenKey(root, path, key);
  }
  long RegOpenKeyEx(RegHandle root, const char* path, std::uint32_t access,
                    RegHandle* key) override {
    return m.RegOpenKeyEx(root, path, access, key);
  }
  long RegEnumKey(RegHandle key, std::uint32_t index, char* name, std::uint32_t size) override {
    return m.RegEnumKey(key, index, name, size);
  }
  long RegQueryInfoKey(RegHandle key, std::uint32_t* subKeyCount) override {
    return m.RegQueryInfoKey(key, subKeyCount);
  }
  long RegQueryValueEx(RegHandle key, const char* valueName, std::uint32_t* type,
                       std::uint8_t* data, std::uint32_t* size) override {
    return m.RegQueryValueEx(key, valueName, type, data, size);
  }
  long RegDeleteKey(RegHandle root, const char* path) override {
    return m.RegDeleteKey(root, path);
  }
  long RegDeleteValue(RegHandle key, const char* valueName) override {
    return m.RegDeleteValue(key, valueName);
  }
  std::uint32_t GetOEMCP() override { return m.GetOEMCP(); }
  std::uint32_t GetWindowsDirectory(char* buffer, std::uint32_t size) override {
    return m.GetWindowsDirectory(buffer, size);
  }
  std::uint32_t SetErrorMode(std::uint32_t mode) override { return m.SetErrorMode(mode); }
  bool IsDBCSLeadByte(std::uint8_t byte) override { return m.IsDBCSLeadByte(byte); }
  const char* GetCommandLine() override { return m.GetCommandLine(); }
  int MessageBox(const char* text, const char* caption, std::uint32_t style) override {
    return m.MessageBox(text, caption, style);
  }
  bool ExitWindowsEx(std::uint32_t flags, std::uint32_t reserved) override {
    return m.ExitWindowsEx(flags, reserved);
  }
  int LoadString(std::uint32_t id, char* buffer, int size) override {
    return m.LoadString(id, buffer, size);
  }
  FileHandle CreateFile(const char* path, std::uint32_t access, std::uint32_t shareMode,
                        bool inheritHandle) override {
    return m.CreateFile(path, access, shareMode, inheritHandle);
  }
  bool GetFileTime(FileHandle file, FileTime* creation, FileTime* lastAccess,
                   FileTime* lastWrite) override {
    return m.GetFileTime(file, creation, lastAccess, lastWrite);
  }
  std::uint32_t GetFileSize(FileHandle file) override { return m.GetFileSize(file); }
  bool SetFileTime(FileHandle file, const FileTime* creation, const FileTime* lastAccess,
                   const FileTime* lastWrite) override {
    return m.SetFileTime(file, creation, lastAccess, lastWrite);
  }
  bool FindFile(const char* path, FindData* data) override { return m.FindFile(path, data); }
  std::uint32_t GetFileAttributes(const char* path) override { return m.GetFileAttributes(path); }
  bool SetFileAttributes(const char* path, std::uint32_t attributes) override {
    return m.SetFileAttributes(path, attributes);
  }
  bool DeleteFile(const char* path) override { return m.DeleteFile(path); }
  bool FileTimeToLocalFileTime(const FileTime& utc, FileTime* local) override {
    return m.FileTimeToLocalFileTime(utc, local);
  }
  bool LocalFileTimeToFileTime(const FileTime& local, FileTime* utc) override {
    return m.LocalFileTimeToFileTime(local, utc);
  }
  bool FileTimeToSystemTime(const FileTime& time, SystemTime* fields) override {
    return m.FileTimeToSystemTime(time, fields);
  }
  bool SystemTimeToFileTime(const SystemTime& fields, FileTime* time) override {
    return m.SystemTimeToFileTime(fields, time);
  }
  std::uint32_t GetFileVersionInfoSize(const char* path) override {
    return m.GetFileVersionInfoSize(path);
  }
  bool GetFileVersionInfo(const char* path, std::uint32_t size, void* block) override {
    return m.GetFileVersionInfo(path, size, block);
  }
  bool QueryFixedFileInfo(const void* block, FixedFileInfo* info) override {
    return m.QueryFixedFileInfo(block, info);
  }

 private:
  sim::SimMachine& m;
  std::vector<std::uint64_t> m_closes;
};

}  // namespace uninst::test
