// The confinement rule of a machine folder.
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/sim/HostFiles.h"
#include "tools/uninst-sim/machine/MachineFolder.h"

namespace uninst::tool {

// Why an entry breaks the confinement rule, or "".
std::string Refusal(const std::string& path, const struct stat& status);
// `what` and `path` with the text of errno.
std::string SystemError(const std::string& what, const std::string& path);
// Walks a drive folder of an open machine folder.
std::string WalkDrive(int machine, const std::string& directory, const DriveFolder& drive,
                      sim::TreeDetail detail, const sim::TreeVisitor& visit);

}  // namespace uninst::tool
