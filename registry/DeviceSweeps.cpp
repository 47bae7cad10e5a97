#include "registry/DeviceSweeps.h"

#include <cstdint>
#include <cstring>

#include "core/PlatformHandle.h"
#include "core/Text.h"
#include "files/RemoveFileConfirmed.h"
#include "platform/AsciiCase.h"
#include "registry/RegistryString.h"

namespace uninst {

namespace {

constexpr std::uint32_t kPathSize = RunContext::kPathBufferSize;
constexpr std::uint32_t kDeviceNameSize = 256;
constexpr std::uint32_t kInstanceNameSize = 512;
// Only the first indexes of a named-device branch and device key are looked at.
constexpr std::uint32_t kDeviceSearchLimit = 100;
constexpr std::uint32_t kInstanceLimit = 100;
constexpr std::size_t kDeviceNamePrefixLength = sizeof kDeviceNamePrefix - 1;
static_assert(kDeviceNamePrefixLength == 23, "the device name prefix is 23 bytes");

// Enumerating subkeys needs its own right on the NT family.
constexpr std::uint32_t kEnumerateAccess = kKeyQueryValue | kKeyEnumerateSubKeys;

constexpr char kDriverValue[] = "Driver";
constexpr char kInfSectionValue[] = "InfSection";
constexpr char kInfPathValue[] = "InfPath";

// Directories below the windows directory that hold the INF copies, in the
// order they are removed.
constexpr const char* kInfCopyDirectories[] = {"inf", "inf\\other"};

enum class ClassKeyMatch { kOther, kDrive, kCancelled };

using SubKeyAction = SweepOutcome (*)(RunContext& run, const char* subKeyPath);

[[nodiscard]] long EnumSubKey(Platform& platform, const RegKey& key, std::uint32_t index,
                              char* name, std::uint32_t size) {
  const long result = platform.RegEnumKey(key.Get(), index, name, size);
  // The name is used as a string: never read past the buffer, whatever was written.
  if (result == kErrorSuccess) name[size - 1] = '\0';
  return result;
}

// A name too long for the buffer, or one the code page cannot hold, makes
// only its own index unreadable.
bool IsUnreadableIndex(long error) {
  return error == kErrorMoreData || error == kErrorNoUnicodeTranslation;
}

[[nodiscard]] bool ProbeKey(Platform& platform, const char* path) {
  RegKey key(platform);
  return platform.RegOpenKeyEx(kLocalMachine, path, kKeyQueryValue, key.Receive()) == kErrorSuccess;
}

// Reads `valueName` of `keyPath` into the path buffer; 0 when it is no string.
[[nodiscard]] std::uint32_t ReadValue(RunContext& run, const char* keyPath, const char* valueName) {
  char* buffer = run.pathBuffer;
  if (!CopyBounded(buffer, kPathSize, keyPath)) return 0;
  return ReadRegistryString(run.platform, kLocalMachine, buffer, valueName, buffer, kPathSize);
}

// "Driver" must name one instance of one class, so that the key built from it
// can never be the class root or a whole class. Read character by character:
// on a double-byte code page 0x5C can be the second byte of a character,
// which Windows does not take for a separator.
bool IsClassInstance(Platform& platform, const char* driver) {
  const char* separator = FindCharacter(driver, "\\", platform);
  return separator != nullptr && separator != driver && separator[1] != '\0' &&
         FindCharacter(separator + 1, "\\", platform) == nullptr;
}

// An "InfPath" names a file in the INF directories and nothing else.
bool IsBareFileName(Platform& platform, const char* name) {
  return name[0] != '\0' && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 &&
         FindCharacter(name, "\\/:", platform) == nullptr;
}

// Writes into `classKey` the device class key that instance `instanceKey`
// points to. True when "Driver" names a class instance and that key exists.
[[nodiscard]] bool FindClassKey(RunContext& run, const char* instanceKey,
                                char (&classKey)[kPathSize]) {
  if (ReadValue(run, instanceKey, kDriverValue) == 0) return false;
  const char* driver = run.pathBuffer;
  const char* parts[] = {kClassRoot, driver};
  return IsClassInstance(run.platform, driver) && JoinPath(classKey, parts) &&
         ProbeKey(run.platform, classKey);
}

// Removes the INF copies of `classKey` when it was set up from the drive's INF
// section, and says whether it was.
ClassKeyMatch RemoveDriveInfCopies(RunContext& run, const char* classKey) {
  if (ReadValue(run, classKey, kInfSectionValue) == 0 ||
      !EqualsIgnoringAsciiCase(run.pathBuffer, kDriveInfSection)) {
    return ClassKeyMatch::kOther;
  }
  if (ReadValue(run, classKey, kInfPathValue) != 0 &&
      RemoveInfCopies(run, run.pathBuffer) == SweepOutcome::kCancelled) {
    return ClassKeyMatch::kCancelled;
  }
  return ClassKeyMatch::kDrive;
}

// Visits the subkeys of the open `parent` from the last index to the first,
// so that deleting the visited one leaves the lower indexes in place.
SweepOutcome VisitSubKeysDownward(RunContext& run, const RegKey& parent, const char* parentPath,
                                  SubKeyAction action) {
  Platform& platform = run.platform;
  std::uint32_t count = 0;
  if (platform.RegQueryInfoKey(parent.Get(), &count) != kErrorSuccess) {
    return SweepOutcome::kGoOn;
  }
  for (std::uint32_t index = count; index-- > 0;) {
    char name[kInstanceNameSize];
    if (EnumSubKey(platform, parent, index, name, sizeof name) != kErrorSuccess) continue;
    char subKey[kPathSize];
    const char* parts[] = {parentPath, name};
    if (!JoinPath(subKey, parts)) continue;
    if (action(run, subKey) == SweepOutcome::kCancelled) return SweepOutcome::kCancelled;
  }
  return SweepOutcome::kGoOn;
}

SweepOutcome SweepVendorInstance(RunContext& run, const char* instanceKey) {
  Platform& platform = run.platform;
  char classKey[kPathSize];
  if (FindClassKey(run, instanceKey, classKey)) {
    if (RemoveDriveInfCopies(run, classKey) == ClassKeyMatch::kCancelled) {
      return SweepOutcome::kCancelled;
    }
    (void)platform.RegDeleteKey(kLocalMachine, classKey);
  }
  (void)platform.RegDeleteKey(kLocalMachine, instanceKey);
  return SweepOutcome::kGoOn;
}

SweepOutcome SweepClassSubKey(RunContext& run, const char* subKey) {
  const ClassKeyMatch match = RemoveDriveInfCopies(run, subKey);
  if (match == ClassKeyMatch::kCancelled) return SweepOutcome::kCancelled;
  if (match == ClassKeyMatch::kDrive) (void)run.platform.RegDeleteKey(kLocalMachine, subKey);
  return SweepOutcome::kGoOn;
}

// Finds the first of the first subkeys of `branch` that carries the device
// name prefix.
[[nodiscard]] bool FindDevice(Platform& platform, const char* branch,
                              char (&deviceName)[kDeviceNameSize]) {
  RegKey key(platform);
  if (platform.RegOpenKey(kLocalMachine, branch, key.Receive()) != kErrorSuccess) return false;
  for (std::uint32_t index = 0; index < kDeviceSearchLimit; ++index) {
    if (EnumSubKey(platform, key, index, deviceName, sizeof deviceName) == kErrorSuccess &&
        std::strncmp(deviceName, kDeviceNamePrefix, kDeviceNamePrefixLength) == 0) {
      return true;
    }
  }
  return false;
}

// Deletes the device class key of each instance below the open device key, up
// to the first index that cannot be enumerated; an unreadable index is
// stepped over.
void DeleteInstanceClassKeys(RunContext& run, const RegKey& device, const char* deviceKey) {
  Platform& platform = run.platform;
  for (std::uint32_t index = 0; index < kInstanceLimit; ++index) {
    char instanceName[kInstanceNameSize];
    const long enumerated = EnumSubKey(platform, device, index, instanceName, sizeof instanceName);
    if (IsUnreadableIndex(enumerated)) continue;
    if (enumerated != kErrorSuccess) return;
    char instanceKey[kPathSize];
    const char* parts[] = {deviceKey, instanceName};
    char classKey[kPathSize];
    if (JoinPath(instanceKey, parts) && FindClassKey(run, instanceKey, classKey)) {
      (void)platform.RegDeleteKey(kLocalMachine, classKey);
    }
  }
}

}  // namespace

SweepOutcome SweepNamedDevice(RunContext& run, const char* branch) {
  Platform& platform = run.platform;
  char deviceName[kDeviceNameSize];
  if (!FindDevice(platform, branch, deviceName)) return SweepOutcome::kGoOn;
  char deviceKey[kPathSize];
  const char* parts[] = {branch, deviceName};
  if (!JoinPath(deviceKey, parts)) return SweepOutcome::kGoOn;
  {
    RegKey device(platform);
    if (platform.RegOpenKey(kLocalMachine, deviceKey, device.Receive()) == kErrorSuccess) {
      DeleteInstanceClassKeys(run, device, deviceKey);
    }
  }
  // The instance keys go with the device key.
  (void)platform.RegDeleteKey(kLocalMachine, deviceKey);
  return SweepOutcome::kGoOn;
}

SweepOutcome SweepVendorProduct(RunContext& run, const char* branch) {
  Platform& platform = run.platform;
  RegKey key(platform);
  if (platform.RegOpenKeyEx(kLocalMachine, branch, kEnumerateAccess, key.Receive()) !=
      kErrorSuccess) {
    return SweepOutcome::kGoOn;
  }
  if (VisitSubKeysDownward(run, key, branch, SweepVendorInstance) == SweepOutcome::kCancelled) {
    return SweepOutcome::kCancelled;
  }
  key.Reset();
  (void)platform.RegDeleteKey(kLocalMachine, branch);
  return SweepOutcome::kGoOn;
}

SweepOutcome SweepFloppyClass(RunContext& run) {
  RegKey key(run.platform);
  if (run.platform.RegOpenKeyEx(kLocalMachine, kFloppyClassKey, kEnumerateAccess, key.Receive()) !=
      kErrorSuccess) {
    return SweepOutcome::kGoOn;
  }
  return VisitSubKeysDownward(run, key, kFloppyClassKey, SweepClassSubKey);
}

SweepOutcome RemoveInfCopies(RunContext& run, const char* infPath) {
  // The first removal may overwrite the path buffer that `infPath` can be.
  char fileName[kPathSize];
  if (!CopyBounded(fileName, sizeof fileName, infPath) || !IsBareFileName(run.platform, fileName)) {
    return SweepOutcome::kGoOn;
  }
  for (const char* directory : kInfCopyDirectories) {
    const char* parts[] = {run.windowsDirectory, directory, fileName};
    if (!JoinPath(run.pathBuffer, parts)) continue;
    if (RemovePathBufferFile(run) == SweepOutcome::kCancelled) return SweepOutcome::kCancelled;
  }
  return SweepOutcome::kGoOn;
}

}  // namespace uninst
