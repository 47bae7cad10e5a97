// The last cleanup phase: the driver, INF and catalogue files of the package
// below the windows directory.
#pragma once

#include "core/RunContext.h"

namespace uninst {

// Removes each file of the driver file table in order. Cancelled as soon as a
// removal is cancelled; a path too long for the path buffer is skipped.
SweepOutcome SweepDriverFiles(RunContext& run);

}  // namespace uninst
