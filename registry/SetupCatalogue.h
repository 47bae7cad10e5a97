// Cleanup of the setup catalogue entries Windows keeps for the drive's INF
// files.
#pragma once

#include "core/RunContext.h"

namespace uninst {

// The drive's INF files as Windows catalogued them: value names in both setup
// keys and file paths, fixed whatever the windows directory of the run.
inline constexpr const char* kCataloguedInfPaths[] = {
    "C:\\WINDOWS\\INF\\KMNUFD1.INF",
    "C:\\WINDOWS\\INF\\KMNUFD2.INF",
    "C:\\WINDOWS\\INF\\OTHER\\KELMORINKMNUFD1.INF",
    "C:\\WINDOWS\\INF\\OTHER\\KELMORINKMNUFD2.INF",
};

inline constexpr char kOemNameKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\SetupX\\INF\\OEM Name";
inline constexpr char kCatalogsKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\SetupX\\Catalogs";

// The setup keys whose values for the catalogued INF paths are deleted, in
// the order they are visited.
inline constexpr const char* kSetupCatalogueKeys[] = {kOemNameKey, kCatalogsKey};

// Removes, for each catalogued INF path, the file its "Catalogs" value names
// and the INF file itself; then deletes the string values named by the
// catalogued INF paths from both setup keys. Nothing is deleted after a Cancel.
[[nodiscard]] SweepOutcome CleanSetupCatalogue(RunContext& run);

}  // namespace uninst
