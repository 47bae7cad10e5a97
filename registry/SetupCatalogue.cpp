#include "registry/SetupCatalogue.h"

#include <cstdint>

#include "core/PlatformHandle.h"
#include "core/Text.h"
#include "files/RemoveFileConfirmed.h"
#include "registry/RegistryString.h"

namespace uninst {

namespace {

constexpr std::uint32_t kPathSize = RunContext::kPathBufferSize;
// Deleting a value through the handle needs the set-value right on the NT family.
constexpr std::uint32_t kValueDeleteAccess = kKeyQueryValue | kKeySetValue;

// Reads the string value named `infPath` of `key` into the path buffer.
[[nodiscard]] bool ReadCatalogueValue(RunContext& run, const char* key, const char* infPath) {
  char* buffer = run.pathBuffer;
  return CopyBounded(buffer, kPathSize, infPath) &&
         ReadRegistryString(run.platform, kLocalMachine, key, buffer, buffer, kPathSize) != 0;
}

SweepOutcome RemoveCataloguedFiles(RunContext& run) {
  for (const char* infPath : kCataloguedInfPaths) {
    if (!ReadCatalogueValue(run, kCatalogsKey, infPath)) continue;
    if (RemovePathBufferFile(run) == SweepOutcome::kCancelled) return SweepOutcome::kCancelled;
    // The path buffer still holds the version text or the file just removed:
    // only a complete copy of the INF path may be handed on.
    if (!CopyBounded(run.pathBuffer, kPathSize, infPath)) continue;
    if (RemovePathBufferFile(run) == SweepOutcome::kCancelled) return SweepOutcome::kCancelled;
  }
  return SweepOutcome::kGoOn;
}

void DeleteCatalogueValues(RunContext& run, const char* keyPath) {
  RegKey key(run.platform);
  if (run.platform.RegOpenKeyEx(kLocalMachine, keyPath, kValueDeleteAccess, key.Receive()) !=
      kErrorSuccess) {
    return;
  }
  for (const char* infPath : kCataloguedInfPaths) {
    if (ReadCatalogueValue(run, keyPath, infPath)) {
      (void)run.platform.RegDeleteValue(key.Get(), infPath);
    }
  }
}

}  // namespace

SweepOutcome CleanSetupCatalogue(RunContext& run) {
  if (RemoveCataloguedFiles(run) == SweepOutcome::kCancelled) return SweepOutcome::kCancelled;
  for (const char* keyPath : kSetupCatalogueKeys) DeleteCatalogueValues(run, keyPath);
  return SweepOutcome::kGoOn;
}

}  // namespace uninst
