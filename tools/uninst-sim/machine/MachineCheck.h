// What a machine folder says of itself before a run: a line naming the
// machine, and what would make a run over it meaningless or surprising.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/uninst-sim/machine/MachineFolder.h"

namespace uninst::tool {

// "Machine: Windows 95/98/Me family, ANSI code page 1252, ...".
std::string DescribeMachine(const MachineFolder& folder);

// One line each: what machine.ini's reading noted, a windows directory or
// drive C: that does not exist, a [files] entry that matches no file.
// `switchDirectory` is the windows directory the program is given by its /D
// switch, in the machine's ANSI code page, which then stands for machine.ini's.
std::vector<std::string> MachineWarnings(const MachineFolder& folder,
                                         const std::optional<std::string>& switchDirectory);

}  // namespace uninst::tool
