// Removal of one file over the run's context, and the rule every phase
// applies to the answer.
#pragma once

#include "core/RunContext.h"

namespace uninst {

// Removes one file, asking first when the confirm switch is on. Returns the
// removal answer: kIdYes (deleted), kIdNo (nothing changed) or kIdCancel.
[[nodiscard]] int RemoveFileConfirmed(RunContext& context, const char* path);

// Removes the file whose full path the path buffer holds and applies the
// rule every phase follows: Cancel ends the phase, Yes sets the restart
// flag, any other answer goes on.
[[nodiscard]] SweepOutcome RemovePathBufferFile(RunContext& context);

}  // namespace uninst
