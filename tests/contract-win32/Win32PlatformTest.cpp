// What only the Windows layer can show: the version resource of the test
// program itself, read back through the layer. Every promise of the platform
// interface is checked on both layers by the contract suite.
#include <windows.h>

#include "platform/win32/UndefWindowsNames.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/win32/Win32Platform.h"

namespace {

using uninst::Win32Platform;

// The test program carries the program's version resource.
TEST(Win32VersionInfo, ReadsTheFixedInfoOfAProgram) {
  Win32Platform platform;
  char path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, path, sizeof path), 0u);
  const std::uint32_t size = platform.GetFileVersionInfoSize(path);
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(platform.GetFileVersionInfo(path, size, &block[0]));
  uninst::FixedFileInfo info;
  ASSERT_TRUE(platform.QueryFixedFileInfo(block.data(), &info));
  EXPECT_EQ(0xFEEF04BDu, info.signature);
  EXPECT_EQ(0x00010000u, info.fileVersionMS);
  EXPECT_EQ(0x00000004u, info.fileVersionLS);
  EXPECT_EQ(1u, info.fileType);
}

TEST(Win32VersionInfo, AFileWithoutVersionHasNone) {
  Win32Platform platform;
  char directory[MAX_PATH];
  char path[MAX_PATH];
  ASSERT_GT(GetTempPathA(sizeof directory, directory), 0u);
  ASSERT_NE(0u, GetTempFileNameA(directory, "unv", 0, path));
  EXPECT_EQ(0u, platform.GetFileVersionInfoSize(path));
  DeleteFileA(path);
}

}  // namespace
