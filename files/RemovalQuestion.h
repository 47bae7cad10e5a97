// The question asked before a file is removed: the file's path, its size,
// date and version, and the question text, composed in the run's texts.
#pragma once

#include "core/RunContext.h"
#include "core/Text.h"

namespace uninst {

// Size and last-write date of the open `file`, filled into the details
// format (which it loads); `details` stays empty when they cannot be read.
void ComposeFileDetails(RunContext& context, FileHandle file, Text& details);

// Leaves the question about `path` in the message text and the version text
// (or "") in the path buffer.
void ComposeRemovalQuestion(RunContext& context, const char* path, Text& details);

}  // namespace uninst
