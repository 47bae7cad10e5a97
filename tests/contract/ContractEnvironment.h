// What the platform contract tests need from the machine they run on, apart
// from the Platform under test: a way to set up keys and files, look at them
// afterwards, and hold a file open as another program would.
//
// Each platform build provides MakeContractEnvironment(): the simulated
// machine of either family on the host, real Windows calls in the Windows
// test program. The
// test files include nothing host-specific, so both builds compile them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace uninst::contract {

// Every key the tests make lies below this key under HKEY_LOCAL_MACHINE.
constexpr char kScratchKey[] = "Software\\UninstContract";

// The Windows families whose registries differ: the 9x family enumerates
// subkeys in the order they were created and has no links.
enum class Family { k9x, kNt };

// A file held open by another program, with read access and read and write
// sharing, until the object is destroyed.
class FileHold {
 public:
  virtual ~FileHold() = default;
};

class ContractEnvironment {
 public:
  virtual ~ContractEnvironment() = default;

  virtual Platform& GetPlatform() = 0;

  // Registry; paths below HKEY_LOCAL_MACHINE.
  virtual void CreateKey(const std::string& path) = 0;
  virtual void SetValue(const std::string& keyPath, const std::string& name, std::uint32_t type,
                        const std::vector<std::uint8_t>& data) = 0;
  // As a plain open of another program finds it: links are followed.
  virtual bool KeyExists(const std::string& path) = 0;
  virtual bool ValueExists(const std::string& keyPath, const std::string& name) = 0;
  // A registry link at `path` that leads to the key `target`; false when
  // none was made.
  virtual bool CreateLink(const std::string& path, const std::string& target) = 0;
  // A subkey of `parentPath` named "A" U+FF3C "B", a full-width backslash
  // that the Western code page only holds as the best fit "A\B"; false when
  // none was made (the 9x family).
  virtual bool CreateKeyBeyondCodePage(const std::string& parentPath) = 0;
  // Removes the key and everything below it, links as links; nothing when it
  // is missing.
  virtual void DeleteTree(const std::string& path) = 0;

  // Puts the machine in the time zone `zone` (a POSIX rule or a zone name)
  // with its clock at `now`; false where the machine keeps its own zone and
  // clock (the Windows layer: its tests run with TZ=Europe/Berlin).
  virtual bool UseTimeZone(const std::string& zone, FileTime now) = 0;

  // Where Wine differs from Windows, the case is skipped under Wine.
  virtual bool UnderWine() = 0;

  // Files; Windows paths.
  // An empty folder that belongs to this environment, without a trailing
  // backslash ("C:\...\scratch").
  virtual std::string ScratchDirectory() = 0;
  // Creates or replaces a file (and any missing folder), then sets its
  // last-write and last-access times to `lastWrite` (whole seconds).
  virtual void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
                         FileTime lastWrite) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  virtual void SetAttributes(const std::string& path, std::uint32_t attributes) = 0;
  virtual std::uint32_t Attributes(const std::string& path) = 0;
  virtual std::unique_ptr<FileHold> HoldOpen(const std::string& path) = 0;
};

// The families a build can behave as: both on the simulated machine, the NT
// family on real Windows and under Wine.
std::vector<Family> ContractFamilies();
std::unique_ptr<ContractEnvironment> MakeContractEnvironment(Family family);

}  // namespace uninst::contract
