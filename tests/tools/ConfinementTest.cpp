// uninst-sim on a machine folder that reaches outside itself: each attack is
// refused at load, with or without --dry-run and whatever the answer to the
// opening question would be, and the canary folder outside stays byte for
// byte as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "tests/tools/ToolTestFolders.h"

namespace uninst::tool {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

// `canary` holds a copy of the demo machine's drive C.
using Plant = void (*)(const fs::path& drive, const fs::path& canary);

void Relink(const fs::path& entry, const fs::path& target) {
  fs::remove_all(entry);
  fs::create_symlink(target, entry);
}

struct Attack {
  const char* name;
  Plant plant;
  const char* named;  // below the machine folder
  const char* kind;
  // A folder of the canary is mounted below the machine folder, in a mount
  // namespace of this process's own.
  bool mounts = false;
};

void MountPrivately(const fs::path& from, const fs::path& to) {
  ASSERT_EQ(::unshare(CLONE_NEWNS), 0) << "a mount point needs a mount namespace of its own";
  ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
  ASSERT_EQ(::mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr), 0);
}

const Attack kAttacks[] = {
    {"LinkedDrive", [](const fs::path& drive, const fs::path& canary) { Relink(drive, canary); },
     "drive_c", "a symbolic link"},
    {"LinkedInfFolder",
     [](const fs::path& drive, const fs::path& canary) {
       Relink(drive / "WINDOWS/INF", canary / "WINDOWS/INF");
     },
     "drive_c/WINDOWS/INF", "a symbolic link"},
    {"LinkedDriverFile",
     [](const fs::path& drive, const fs::path& canary) {
       Relink(drive / "WINDOWS/SYSTEM/USBFDD.SYS", canary / "WINDOWS/SYSTEM/USBFDD.SYS");
     },
     "drive_c/WINDOWS/SYSTEM/USBFDD.SYS", "a symbolic link"},
    {"HardLink",
     [](const fs::path& drive, const fs::path& canary) {
       fs::remove(drive / "WINDOWS/SYSTEM/IOSUBSYS/KMNFD.VXD");
       fs::create_hard_link(canary / "WINDOWS/SYSTEM/IOSUBSYS/KMNFD.VXD",
                            drive / "WINDOWS/SYSTEM/IOSUBSYS/KMNFD.VXD");
     },
     "drive_c/WINDOWS/SYSTEM/IOSUBSYS/KMNFD.VXD", "a hard link"},
    {"Fifo",
     [](const fs::path& drive, const fs::path&) {
       fs::remove(drive / "WINDOWS/SYSTEM/USBFDD.SYS");
       ASSERT_EQ(::mkfifo((drive / "WINDOWS/SYSTEM/USBFDD.SYS").c_str(), 0644), 0);
     },
     "drive_c/WINDOWS/SYSTEM/USBFDD.SYS", "a FIFO"},
    // machine.ini gives C:\WINDOWS\SYSTEM32\DRIVERS\USBFDD.SYS a time.
    {"FilesEntryThroughLink",
     [](const fs::path& drive, const fs::path& canary) {
       Relink(drive / "WINDOWS/SYSTEM32", canary / "WINDOWS/SYSTEM32");
     },
     "drive_c/WINDOWS/SYSTEM32", "a symbolic link"},
    {"MountPoint",
     [](const fs::path& drive, const fs::path& canary) {
       MountPrivately(canary / "WINDOWS/INF", drive / "WINDOWS/INF/OTHER");
     },
     "drive_c/WINDOWS/INF/OTHER", "is a mount point", true},
    {"NamesWindowsFoldsToOne",
     [](const fs::path& drive, const fs::path&) {
       testing::WriteText(drive / "WINDOWS/INF/oEM1.INF", "another");
     },
     "drive_c/WINDOWS/INF/OEM1.INF and oEM1.INF", "are one name on Windows"},
    {"DeeperThanAWindowsPath",
     [](const fs::path& drive, const fs::path&) {
       fs::path deep = drive;
       for (int level = 0; level < 140; ++level) deep /= "D";
       fs::create_directories(deep);
     },
     "drive_c/", "is deeper than a Windows path can reach"},
    {"TrailingPeriod",
     [](const fs::path& drive, const fs::path&) {
       testing::WriteText(drive / "WINDOWS/INF/OEM7.INF.", "x");
     },
     "drive_c/WINDOWS/INF/OEM7.INF.", "ends in a period or a blank"},
    {"DeviceName",
     [](const fs::path& drive, const fs::path&) {
       testing::WriteText(drive / "WINDOWS/INF/con.inf", "x");
     },
     "drive_c/WINDOWS/INF/con.inf", "is a device on Windows"},
};

struct Mode {
  const char* name;
  std::vector<std::string> args;
};

const Mode kModes[] = {
    {"Yes", {"--answers", "yes,yes"}},
    {"DryRun", {"--dry-run", "--answers", "yes,yes"}},
    {"No", {"--answers", "no"}},
};

// Read-only files with DOS attributes and an old time, so that any change
// to mode, times or attributes shows.
void MakeCanary(const fs::path& canary) {
  ASSERT_TRUE(fs::create_directories(canary));
  fs::copy(testing::DemoMachine() / "drive_c", canary, fs::copy_options::recursive);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(canary)) {
    if (!entry.is_regular_file()) continue;
    ::setxattr(entry.path().c_str(), sim::kDosAttributeName, "0x6", 3, 0);
    const timespec times[2] = {{978307200, 0}, {978307200, 0}};
    ::utimensat(AT_FDCWD, entry.path().c_str(), times, 0);
    fs::permissions(entry.path(), fs::perms::owner_read | fs::perms::group_read);
  }
}

class Confinement : public ::testing::TestWithParam<std::tuple<Attack, Mode>> {};

TEST_P(Confinement, RefusesTheMachineAndLeavesTheCanaryAlone) {
  const auto& [attack, mode] = GetParam();
  ScratchFolder scratch;
  const fs::path machine = scratch.Path() / "machine";
  const fs::path canary = scratch.Path() / "canary";
  testing::CopyDemoMachine(machine);
  MakeCanary(canary);
  attack.plant(machine / "drive_c", canary);
  const auto before = testing::TreePicture(scratch.Path());

  std::vector<std::string> args = {"--machine", machine.string()};
  args.insert(args.end(), mode.args.begin(), mode.args.end());
  args.insert(args.end(), {"--", "/E"});
  const testing::ToolRun run = testing::RunWith(args);
  EXPECT_EQ(run.status, kExitUsage);
  EXPECT_NE(run.err.find((machine / attack.named).string()), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(attack.kind), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(testing::TreePicture(scratch.Path()), before);
  if (attack.mounts) ::umount2((machine / attack.named).c_str(), MNT_DETACH);
}

INSTANTIATE_TEST_SUITE_P(UninstSim, Confinement,
                         ::testing::Combine(::testing::ValuesIn(kAttacks),
                                            ::testing::ValuesIn(kModes)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  std::get<1>(info.param).name;
                         });

}  // namespace
}  // namespace uninst::tool
