// Files of the simulated machine: path resolution, Windows sharing and
// attribute rules, times and sizes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/sim/HostFiles.h"
#include "tests/support/SimFixture.h"
#include "tests/tools/ToolTestFolders.h"

namespace uninst::sim {
namespace {

constexpr std::uint32_t kFileShareWrite = 0x2;
constexpr std::uint32_t kReadWrite = kGenericRead | kGenericWrite;

class SimFiles : public ::testing::Test {
 protected:
  SimMachine& Machine() { return m_world.machine; }
  std::string Host(const std::string& below) { return m_world.driveC.Path() + "/" + below; }

  testsupport::SimWorld m_world;
};

struct PathCase {
  const char* path;
  bool found;
  long error;  // of GetFileAttributes when not found
};

class PathResolution : public SimFiles, public ::testing::WithParamInterface<PathCase> {};

TEST_P(PathResolution, ResolvesLikeWindows) {
  Machine().WriteFile("C:\\Drivers\\Floppy.Sys", {1, 2, 3});
  const PathCase& c = GetParam();
  const std::optional<std::string> host = Machine().HostPath(c.path);
  EXPECT_EQ(c.found, host.has_value());
  if (c.found) {
    EXPECT_EQ(Host("Drivers/Floppy.Sys"), *host);
    EXPECT_NE(kInvalidFileAttributes, Machine().GetFileAttributes(c.path));
  } else {
    EXPECT_EQ(kInvalidFileAttributes, Machine().GetFileAttributes(c.path));
    EXPECT_EQ(c.error, Machine().LastError());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathResolution,
    ::testing::Values(PathCase{"C:\\Drivers\\Floppy.Sys", true, 0},
                      PathCase{"c:\\DRIVERS\\floppy.sys", true, 0},
                      PathCase{"\\drivers\\FLOPPY.SYS", true, 0},
                      PathCase{"C:/Drivers//Floppy.Sys", true, 0},
                      PathCase{"C:\\Drivers\\.\\Floppy.Sys", true, 0},
                      PathCase{"C:\\Other\\..\\Drivers\\Floppy.Sys", true, 0},
                      PathCase{"C:\\..\\..\\Drivers\\Floppy.Sys", true, 0},
                      PathCase{"C:\\Drivers\\Floppy.Sys. .", true, 0},
                      PathCase{"C:\\Drivers.\\Floppy.Sys", true, 0},
                      PathCase{"C:\\Drivers..\\Floppy.Sys", false, kErrorPathNotFound},
                      PathCase{"C:\\Drivers\\Missing.Sys", false, kErrorFileNotFound},
                      PathCase{"C:\\Missing\\Floppy.Sys", false, kErrorPathNotFound},
                      PathCase{"C:\\Drivers\\Floppy.Sys\\Inside", false, kErrorPathNotFound},
                      PathCase{"D:\\Drivers\\Floppy.Sys", false, kErrorPathNotFound},
                      PathCase{"Drivers\\Floppy.Sys", false, kErrorPathNotFound},
                      PathCase{"\\\\server\\share\\Floppy.Sys", false, kErrorPathNotFound}));

TEST_F(SimFiles, ExactSpellingWinsOnACaseSensitiveHost) {
  Machine().WriteFile("C:\\dir\\abc", {1});
  std::ofstream(Host("dir/ABC")) << "x";
  EXPECT_EQ(Host("dir/abc"), Machine().HostPath("C:\\dir\\abc"));
  EXPECT_EQ(Host("dir/ABC"), Machine().HostPath("C:\\dir\\ABC"));
  EXPECT_EQ(Host("dir/ABC"), Machine().HostPath("C:\\DIR\\Abc"));  // first in byte order
}

// A Japanese machine spells paths in code page 932, where 0x5C may be the
// trail byte of a character; the host names them in UTF-8.
TEST_F(SimFiles, PathsAreInTheAnsiCodePage) {
  std::ofstream(Host("\xE8\xA1\xA8.TXT")) << "x";  // U+8868
  EXPECT_FALSE(Machine().FileExists("C:\\\x95\x5C.TXT"));
  Machine().Config().ansiCodePage = 932;
  EXPECT_EQ(Host("\xE8\xA1\xA8.TXT"), Machine().HostPath("C:\\\x95\x5C.txt"));
  // Letters beyond ASCII fold too: full-width a names full-width A.
  std::ofstream(Host("\xEF\xBC\xA1.TXT")) << "x";  // U+FF21
  EXPECT_EQ(Host("\xEF\xBC\xA1.TXT"), Machine().HostPath("C:\\\x82\x81.txt"));
}

TEST_F(SimFiles, CreateHostPathKeepsExistingCaseAndMakesFolders) {
  ASSERT_EQ(Host("WINDOWS/New/Sub/file.txt"),
            Machine().CreateHostPath("c:\\windows\\New\\Sub\\file.txt"));
  struct stat status {};
  EXPECT_EQ(0, ::stat(Host("WINDOWS/New/Sub").c_str(), &status));
  EXPECT_FALSE(Machine().FileExists("C:\\WINDOWS\\New\\Sub\\file.txt"));
  EXPECT_FALSE(Machine().FileExists("C:\\WINDOWS\\New"));
}

TEST_F(SimFiles, HiddenAndSystemLiveInTheDosAttributeText) {
  Machine().WriteFile("C:\\f.sys", {1});
  Machine().SetAttributesOf("C:\\f.sys", kFileAttributeHidden | kFileAttributeSystem);
  char text[16] = {};
  const ssize_t length =
      ::getxattr(Host("f.sys").c_str(), sim::kDosAttributeName, text, sizeof(text));
  if (length >= 0) {
    EXPECT_EQ("0x6", std::string(text, static_cast<std::size_t>(length)));
  }
  EXPECT_EQ(kFileAttributeHidden | kFileAttributeSystem, Machine().GetFileAttributes("C:\\F.SYS"));
  // A file as Windows makes it, archived and nothing else, carries no text.
  ASSERT_TRUE(Machine().SetFileAttributes("C:\\f.sys", kFileAttributeArchive));
  EXPECT_EQ(kFileAttributeArchive, Machine().GetFileAttributes("C:\\f.sys"));
  EXPECT_LT(::getxattr(Host("f.sys").c_str(), sim::kDosAttributeName, text, sizeof(text)), 0);
}

TEST_F(SimFiles, ReadOnlyIsTheHostWritePermission) {
  Machine().WriteFile("C:\\r.inf", {1});
  Machine().SetAttributesOf("C:\\r.inf", kFileAttributeReadOnly);
  struct stat status {};
  ASSERT_EQ(0, ::stat(Host("r.inf").c_str(), &status));
  EXPECT_EQ(0u, status.st_mode & 0222);
  ASSERT_TRUE(Machine().SetFileAttributes("C:\\r.inf", kFileAttributeNormal));
  ASSERT_EQ(0, ::stat(Host("r.inf").c_str(), &status));
  EXPECT_NE(0u, status.st_mode & S_IWUSR);
  EXPECT_EQ(kFileAttributeDirectory, Machine().GetFileAttributes("C:\\WINDOWS"));
}

struct FileErrorCase {
  const char* label;
  std::uint32_t attributes;
  bool inUse;
  bool directory;
  std::uint32_t access;
  long openError;  // CreateFile with no sharing; 0 = opens
  long deleteError;
};

class FileErrors : public SimFiles, public ::testing::WithParamInterface<FileErrorCase> {};

TEST_P(FileErrors, OpenAndDeleteFailWithWindowsCodes) {
  const FileErrorCase& c = GetParam();
  const std::string path = c.directory ? "C:\\Folder" : "C:\\Folder\\file.sys";
  Machine().WriteFile("C:\\Folder\\file.sys", {1, 2});
  if (c.attributes) Machine().SetAttributesOf(path, c.attributes);
  Machine().SetInUse(path, c.inUse);

  const FileHandle file = Machine().CreateFile(path.c_str(), c.access, 0, true);
  EXPECT_EQ(c.openError == 0, file != kInvalidFile);
  if (file == kInvalidFile) {
    EXPECT_EQ(c.openError, Machine().LastError());
  } else {
    EXPECT_FALSE(Machine().DeleteFile(path.c_str())) << "an open file stays";
    EXPECT_EQ(c.deleteError ? c.deleteError : kErrorSharingViolation, Machine().LastError());
    EXPECT_TRUE(Machine().CloseHandle(file));
  }
  EXPECT_EQ(c.deleteError == 0, Machine().DeleteFile(path.c_str()));
  if (c.deleteError) {
    EXPECT_EQ(c.deleteError, Machine().LastError());
  }
  EXPECT_EQ(c.deleteError != 0 || c.directory, Machine().FileExists("C:\\Folder\\file.sys"));
  EXPECT_EQ(0u, Machine().OpenHandleCount());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileErrors,
    ::testing::Values(FileErrorCase{"Plain", 0, false, false, kGenericRead, 0, 0},
                      FileErrorCase{"HiddenSystem", kFileAttributeHidden | kFileAttributeSystem,
                                    false, false, kGenericRead, 0, 0},
                      FileErrorCase{"ReadOnlyRead", kFileAttributeReadOnly, false, false,
                                    kGenericRead, 0, kErrorAccessDenied},
                      FileErrorCase{"ReadOnlyWrite", kFileAttributeReadOnly, false, false,
                                    kReadWrite, kErrorAccessDenied, kErrorAccessDenied},
                      FileErrorCase{"InUse", 0, true, false, kGenericRead, kErrorSharingViolation,
                                    kErrorSharingViolation},
                      FileErrorCase{"Directory", 0, false, true, kGenericRead, kErrorAccessDenied,
                                    kErrorAccessDenied}),
    [](const ::testing::TestParamInfo<FileErrorCase>& info) { return info.param.label; });

TEST_F(SimFiles, MissingFilesGiveNotFound) {
  EXPECT_EQ(kInvalidFile, Machine().CreateFile("C:\\none.sys", kGenericRead, 0, true));
  EXPECT_EQ(kErrorFileNotFound, Machine().LastError());
  EXPECT_FALSE(Machine().DeleteFile("C:\\nowhere\\none.sys"));
  EXPECT_EQ(kErrorPathNotFound, Machine().LastError());
  EXPECT_FALSE(Machine().DeleteFile("C:\\none.sys"));
  EXPECT_EQ(kErrorFileNotFound, Machine().LastError());
  FindData data;
  EXPECT_FALSE(Machine().FindFile("C:\\", &data)) << "a drive's root is no directory entry";
}

struct SharingCase {
  std::uint32_t firstAccess;
  std::uint32_t firstShare;
  std::uint32_t secondAccess;
  std::uint32_t secondShare;
  bool secondOpens;
};

class Sharing : public SimFiles, public ::testing::WithParamInterface<SharingCase> {};

TEST_P(Sharing, SecondOpenRespectsBothShareModes) {
  const SharingCase& c = GetParam();
  Machine().WriteFile("C:\\s.bin", {1});
  const FileHandle first = Machine().CreateFile("C:\\s.bin", c.firstAccess, c.firstShare, false);
  ASSERT_NE(kInvalidFile, first);
  const FileHandle second = Machine().CreateFile("c:\\S.BIN", c.secondAccess, c.secondShare, false);
  EXPECT_EQ(c.secondOpens, second != kInvalidFile);
  if (second == kInvalidFile) {
    EXPECT_EQ(kErrorSharingViolation, Machine().LastError());
  }
  EXPECT_EQ(c.secondOpens ? 2u : 1u, Machine().OpenHandleCount());
  Machine().CloseHandle(second);
  Machine().CloseHandle(first);
  EXPECT_EQ(0u, Machine().OpenHandleCount());
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Sharing,
    ::testing::Values(SharingCase{kGenericRead, kFileShareRead, kGenericRead, kFileShareRead, true},
                      SharingCase{kGenericRead, kFileShareRead, kGenericRead, 0, false},
                      SharingCase{kGenericRead, 0, kGenericRead, kFileShareRead, false},
                      SharingCase{kGenericRead, kFileShareRead, kReadWrite, kFileShareRead, false},
                      SharingCase{kGenericRead, kFileShareRead | kFileShareWrite, kReadWrite,
                                  kFileShareRead, true},
                      SharingCase{kReadWrite, kFileShareRead, kGenericRead, kFileShareRead, false},
                      SharingCase{kReadWrite, kFileShareRead | kFileShareWrite, kGenericRead,
                                  kFileShareRead | kFileShareWrite, true}));

TEST_F(SimFiles, TimesComeFromTheHostAndCreationFromMemory) {
  constexpr std::int64_t kWritten = 920419200;  // 1999-03-03
  Machine().WriteFile("C:\\t.vxd", std::vector<std::uint8_t>(1536), kWritten);
  const FileHandle reader = Machine().CreateFile("C:\\t.vxd", kGenericRead, 0, true);
  ASSERT_NE(kInvalidFile, reader);
  FileTime creation;
  FileTime access;
  FileTime write;
  ASSERT_TRUE(Machine().GetFileTime(reader, &creation, &access, &write));
  EXPECT_EQ(FileTimeFromUnix(kWritten), creation.ticks);
  EXPECT_EQ(FileTimeFromUnix(kWritten), access.ticks);
  EXPECT_EQ(FileTimeFromUnix(kWritten), write.ticks);
  EXPECT_EQ(1536u, Machine().GetFileSize(reader));
  const FileTime later{FileTimeFromUnix(kWritten + 3600) + 1234567};
  EXPECT_FALSE(Machine().SetFileTime(reader, nullptr, nullptr, &later)) << "needs write access";
  EXPECT_EQ(kErrorAccessDenied, Machine().LastError());
  Machine().CloseHandle(reader);

  const FileHandle writer = Machine().CreateFile("C:\\t.vxd", kReadWrite, kFileShareRead, false);
  const FileTime unchanged{0};
  ASSERT_TRUE(Machine().SetFileTime(writer, &later, &unchanged, &later));
  Machine().CloseHandle(writer);
  struct stat status {};
  ASSERT_EQ(0, ::stat(Host("t.vxd").c_str(), &status));
  EXPECT_EQ(kWritten + 3600, status.st_mtim.tv_sec);
  EXPECT_EQ(123456700, status.st_mtim.tv_nsec);
  EXPECT_EQ(kWritten, status.st_atim.tv_sec);
  FindData data;
  ASSERT_TRUE(Machine().FindFile("C:\\T.VXD", &data));
  EXPECT_EQ(later.ticks, data.creationTime.ticks);
  EXPECT_EQ(later.ticks, data.lastWriteTime.ticks);
  EXPECT_EQ(FileTimeFromUnix(kWritten), data.lastAccessTime.ticks);
  EXPECT_EQ(1536u, data.size);
  EXPECT_EQ(kFileAttributeArchive, data.attributes);
}

TEST_F(SimFiles, SizeBeyondFourGigabytesGivesItsLowBits) {
  Machine().WriteFile("C:\\big.bin", {});
  ASSERT_EQ(0, ::truncate(Host("big.bin").c_str(), 0x100000005LL));  // sparse
  const FileHandle file = Machine().CreateFile("C:\\big.bin", kGenericRead, 0, true);
  EXPECT_EQ(5u, Machine().GetFileSize(file));
  Machine().CloseHandle(file);
  FindData data;
  ASSERT_TRUE(Machine().FindFile("C:\\big.bin", &data));
  EXPECT_EQ(0x100000005ULL, data.size);
}

TEST_F(SimFiles, HandleCallsOnUnknownHandlesFail) {
  FileTime time;
  EXPECT_FALSE(Machine().CloseHandle(0x777));
  EXPECT_EQ(kErrorInvalidHandle, Machine().LastError());
  EXPECT_FALSE(Machine().GetFileTime(0x777, &time, nullptr, nullptr));
  EXPECT_EQ(kInvalidFileSize, Machine().GetFileSize(kInvalidFile));
  EXPECT_FALSE(Machine().SetFileTime(0x777, nullptr, nullptr, &time));
  RegHandle key = 0;
  ASSERT_EQ(kErrorSuccess, Machine().RegOpenKey(kLocalMachine, "", &key));
  EXPECT_FALSE(Machine().CloseHandle(key)) << "a registry key is no file";
  EXPECT_EQ(kErrorSuccess, Machine().RegCloseKey(key));
}

// An entry that appears below a drive while the machine runs and leads out
// of it: no call reaches the canary folder, and each fails as Windows would
// for a path that goes nowhere or a file that cannot be opened.
struct PlantedCase {
  const char* name;
  void (*plant)(const std::string& windows, const std::string& canary);
  const char* path;
  long error;
};

class PlantedEntries : public SimFiles, public ::testing::WithParamInterface<PlantedCase> {};

TEST_P(PlantedEntries, AreNeverFollowed) {
  testsupport::ScratchFolder canary;
  std::ofstream(canary.Path() + "/f.sys") << "canary";
  ASSERT_EQ(0, ::chmod((canary.Path() + "/f.sys").c_str(), 0444));
  const auto before = uninst::tool::testing::TreePicture(canary.Path());
  GetParam().plant(Host("WINDOWS"), canary.Path());

  const char* path = GetParam().path;
  const long error = GetParam().error;
  EXPECT_EQ(kInvalidFileAttributes, Machine().GetFileAttributes(path));
  EXPECT_EQ(error, Machine().LastError());
  EXPECT_FALSE(Machine().SetFileAttributes(path, kFileAttributeHidden));
  EXPECT_EQ(error, Machine().LastError());
  EXPECT_EQ(kInvalidFile, Machine().CreateFile(path, kReadWrite, 0, false));
  EXPECT_EQ(error, Machine().LastError());
  EXPECT_FALSE(Machine().DeleteFile(path));
  EXPECT_EQ(error, Machine().LastError());
  EXPECT_FALSE(Machine().FindFile(path, nullptr));
  EXPECT_EQ(0u, Machine().GetFileVersionInfoSize(path));
  EXPECT_EQ(error, Machine().LastError());
  Machine().SetAttributesOf(path, kFileAttributeNormal);
  Machine().SetLastWriteTime(path, 0);
  EXPECT_EQ(uninst::tool::testing::TreePicture(canary.Path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Links, PlantedEntries,
    ::testing::Values(PlantedCase{"LinkedFolder",
                                  [](const std::string& windows, const std::string& canary) {
                                    ASSERT_EQ(0, ::symlink(canary.c_str(),
                                                           (windows + "/Linked").c_str()));
                                  },
                                  "C:\\WINDOWS\\LINKED\\F.SYS", kErrorPathNotFound},
                      PlantedCase{"LinkedFile",
                                  [](const std::string& windows, const std::string& canary) {
                                    ASSERT_EQ(0, ::symlink((canary + "/f.sys").c_str(),
                                                           (windows + "/F.SYS").c_str()));
                                  },
                                  "C:\\WINDOWS\\F.SYS", kErrorAccessDenied},
                      PlantedCase{"HardLink",
                                  [](const std::string& windows, const std::string& canary) {
                                    ASSERT_EQ(0, ::link((canary + "/f.sys").c_str(),
                                                        (windows + "/F.SYS").c_str()));
                                  },
                                  "C:\\WINDOWS\\F.SYS", kErrorAccessDenied},
                      PlantedCase{"Fifo",
                                  [](const std::string& windows, const std::string&) {
                                    ASSERT_EQ(0, ::mkfifo((windows + "/F.SYS").c_str(), 0644));
                                  },
                                  "C:\\WINDOWS\\f.sys", kErrorAccessDenied}),
    [](const ::testing::TestParamInfo<PlantedCase>& info) { return info.param.name; });

TEST_F(SimFiles, DeletedFileForgetsWhatTheMachineKeptOfIt) {
  Machine().WriteFile("C:\\gone.sys", {1}, 920419200);
  Machine().SetAttributesOf("C:\\gone.sys", kFileAttributeHidden);
  ASSERT_TRUE(Machine().DeleteFile("C:\\gone.sys"));
  std::ofstream(Host("gone.sys")) << "new";
  FindData data;
  ASSERT_TRUE(Machine().FindFile("C:\\gone.sys", &data));
  EXPECT_EQ(kFileAttributeArchive, data.attributes);
  EXPECT_EQ(data.lastWriteTime.ticks, data.creationTime.ticks);
  EXPECT_NE(FileTimeFromUnix(920419200), data.creationTime.ticks);
}

}  // namespace
}  // namespace uninst::sim
