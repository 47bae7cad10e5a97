// Where --report writes: a new or regular file outside the machine folder,
// checked through the folder that will hold it at the moment of writing.
#pragma once

#include <string>

#include "tools/uninst-sim/machine/MachineFolder.h"

namespace uninst::tool {

// Why `path` cannot take the report, or "".
std::string CheckReportTarget(const std::string& path, const MachineFolder& machine);
// Writes `text` to `path` through a temporary file beside it, after the same
// checks. "" on success.
std::string WriteReportFile(const std::string& path, const MachineFolder& machine,
                            const std::string& text);

}  // namespace uninst::tool
