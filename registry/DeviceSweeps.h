// The device registration sweeps: the drive's registrations under the
// enumeration branches, the device class keys they point to, the drive's
// subkeys of the floppy-disk-controller class, and the INF copies Windows made.
#pragma once

#include "core/RunContext.h"

namespace uninst {

// Branches searched for the drive's device key, in the order they are swept.
inline constexpr const char* kNamedDeviceBranches[] = {"Enum\\FLOP", "Enum\\ESDI"};
// Branches named after the drive's USB vendor and product, owned whole.
inline constexpr const char* kVendorProductBranches[] = {"Enum\\USB\\VID_0D7C&PID_FFFF",
                                                         "Enum\\USB\\VID_0D7C&PID_0000"};
inline constexpr char kClassRoot[] = "System\\CurrentControlSet\\Services\\Class";
inline constexpr char kFloppyClassKey[] = "System\\CurrentControlSet\\Services\\Class\\fdc";
inline constexpr char kDeviceNamePrefix[] = "KELMORINUSB_FLOPPY_DISK";
inline constexpr char kDriveInfSection[] = "KMNCRN.DEV";

// Deletes the device class keys of the first device key in `branch` whose name
// starts with the drive's prefix, then that device key. Removes no file.
[[nodiscard]] SweepOutcome SweepNamedDevice(RunContext& run, const char* branch);

// Deletes every instance of `branch` with its device class key (removing the
// INF copies of a class key set up from the drive's INF section), then the
// branch itself.
[[nodiscard]] SweepOutcome SweepVendorProduct(RunContext& run, const char* branch);

// Deletes the subkeys of the "fdc" class set up from the drive's INF section,
// after removing their INF copies. The "fdc" key itself stays.
[[nodiscard]] SweepOutcome SweepFloppyClass(RunContext& run);

// Removes windows directory\inf\P and then windows directory\inf\other\P. A P
// that is not a bare file name removes nothing. `infPath` may be the path
// buffer: it is copied before the first removal can overwrite it.
[[nodiscard]] SweepOutcome RemoveInfCopies(RunContext& run, const char* infPath);

}  // namespace uninst
