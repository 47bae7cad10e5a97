#include "files/DriverFiles.h"

#include "files/RemoveFileConfirmed.h"

namespace uninst {

namespace {

struct DriverFile {
  const char* name;
  const char* directory;  // below the windows directory
};

// "USBFDD.SYS" lives in SYSTEM on the 95 family and in SYSTEM32\DRIVERS on NT.
constexpr DriverFile kDriverFiles[] = {
    {"USBFDD.SYS", "SYSTEM"},
    {"USBFDD.SYS", "SYSTEM32\\DRIVERS"},
    {"USBFDVXD.PDR", "SYSTEM\\IOSUBSYS"},
    {"USBFD1.INF", "INF"},
    {"USBFD2.INF", "INF"},
    {"KMNUSBFD.INF", "INF"},
    {"USBFDVSD.VXD", "SYSTEM\\IOSUBSYS"},
    {"KMNFD.VXD", "SYSTEM\\IOSUBSYS"},
    {"KMNUFD1.INF", "INF"},
    {"KMNUFD2.INF", "INF"},
    {"KMNUFD1.CAT", "INF\\CATALOG"},
    {"KMNUFD2.CAT", "INF\\CATALOG"},
    {"KELMORINKMNUFD1.INF", "INF\\OTHER"},
    {"KELMORINKMNUFD2.INF", "INF\\OTHER"},
};

}  // namespace

SweepOutcome SweepDriverFiles(RunContext& run) {
  for (const DriverFile& file : kDriverFiles) {
    const char* const parts[] = {run.windowsDirectory, file.directory, file.name};
    // A cut path could name another file: skip the entry instead.
    if (!JoinPath(run.pathBuffer, parts)) continue;
    if (RemovePathBufferFile(run) == SweepOutcome::kCancelled) return SweepOutcome::kCancelled;
  }
  return SweepOutcome::kGoOn;
}

}  // namespace uninst
