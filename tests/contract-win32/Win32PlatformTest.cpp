// What the Windows layer does beyond forwarding a call: the subtree deletion
// of RegDeleteKey, its refusals, the bounded buffers, and the program's own
// resources read back through the layer.
#include <shlwapi.h>
#include <windows.h>

#include "platform/win32/UndefWindowsNames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/win32/Win32Platform.h"

namespace {

using uninst::RegHandle;
using uninst::Win32Platform;

// Scratch keys live below this user key and go away with the fixture.
constexpr char kScratchKey[] = "Software\\UninstWin32PlatformTest";

RegHandle CurrentUser() { return reinterpret_cast<RegHandle>(HKEY_CURRENT_USER); }

void CreateKeyWithValue(const std::string& path) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr))
      << path;
  const char data[] = "x";
  RegSetValueExA(key, "Value", 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof data);
  RegCloseKey(key);
}

bool KeyExists(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

std::string Chain(const std::string& base, int levels) {
  std::string path = base;
  for (int level = 0; level < levels; ++level) path += "\\L" + std::to_string(level);
  return path;
}

class Win32PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override { RemoveScratch(); }
  void TearDown() override { RemoveScratch(); }

  // Independent of the code under test.
  static void RemoveScratch() { SHDeleteKeyA(HKEY_CURRENT_USER, kScratchKey); }

  Win32Platform platform_;
};

TEST_F(Win32PlatformTest, RegDeleteKeyRemovesTheWholeSubtree) {
  const std::string base = kScratchKey;
  CreateKeyWithValue(Chain(base + "\\A", 6));
  CreateKeyWithValue(Chain(base + "\\B", 2));
  CreateKeyWithValue(base + "\\B\\Sibling");
  EXPECT_EQ(ERROR_SUCCESS, platform_.RegDeleteKey(CurrentUser(), kScratchKey));
  EXPECT_FALSE(KeyExists(base));
}

TEST_F(Win32PlatformTest, RegDeleteKeyLeavesTheParentAndSiblings) {
  const std::string base = kScratchKey;
  CreateKeyWithValue(Chain(base + "\\A", 3));
  CreateKeyWithValue(base + "\\B");
  EXPECT_EQ(ERROR_SUCCESS, platform_.RegDeleteKey(CurrentUser(), (base + "\\A").c_str()));
  EXPECT_FALSE(KeyExists(base + "\\A"));
  EXPECT_TRUE(KeyExists(base + "\\B"));
}

TEST_F(Win32PlatformTest, RegDeleteKeyOfAMissingKeyFails) {
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            platform_.RegDeleteKey(CurrentUser(), "Software\\UninstWin32PlatformTest\\None"));
}

TEST_F(Win32PlatformTest, RegDeleteKeyRefusesAnEmptyPath) {
  CreateKeyWithValue(std::string(kScratchKey) + "\\A");
  HKEY scratch = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_CURRENT_USER, kScratchKey, 0, KEY_ALL_ACCESS, &scratch));
  EXPECT_NE(ERROR_SUCCESS, platform_.RegDeleteKey(reinterpret_cast<RegHandle>(scratch), ""));
  RegCloseKey(scratch);
  EXPECT_TRUE(KeyExists(std::string(kScratchKey) + "\\A"));
}

// The recursion is bounded: a tree deeper than the bound is refused and its
// top stays, instead of the stack running out.
TEST_F(Win32PlatformTest, RegDeleteKeyStopsAtTheDepthBound) {
  const std::string deep = std::string(kScratchKey) + "\\Deep";
  CreateKeyWithValue(Chain(deep, 40));
  EXPECT_NE(ERROR_SUCCESS, platform_.RegDeleteKey(CurrentUser(), deep.c_str()));
  EXPECT_TRUE(KeyExists(deep));
}

TEST_F(Win32PlatformTest, GetWindowsDirectoryReportsNothingForATooSmallBuffer) {
  char buffer[MAX_PATH];
  const std::uint32_t length = platform_.GetWindowsDirectory(buffer, sizeof buffer);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(length, std::string(buffer).size());
  char tiny[2] = {'x', 'y'};
  EXPECT_EQ(0u, platform_.GetWindowsDirectory(tiny, sizeof tiny));
}

struct LoadCase {
  std::uint32_t id;
  const char* text;
};

class Win32LoadStringTest : public ::testing::TestWithParam<LoadCase> {
 protected:
  Win32Platform platform_;
};

// The test program carries the program's string table.
TEST_P(Win32LoadStringTest, LoadsTheCatalogueText) {
  char buffer[512];
  std::memset(buffer, 'x', sizeof buffer);
  const int length = platform_.LoadString(GetParam().id, buffer, sizeof buffer);
  EXPECT_STREQ(GetParam().text, buffer);
  EXPECT_EQ(std::strlen(GetParam().text), static_cast<std::size_t>(length));
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, Win32LoadStringTest,
    ::testing::Values(LoadCase{51, "Corrindo Driver for Windows"},
                      LoadCase{65,
                               "Windows isn't installed correctly\nPlease install Windows "
                               "correctly, \then try again."},
                      LoadCase{0, ""}, LoadCase{30, ""}, LoadCase{40, ""}, LoadCase{78, ""}));

TEST(Win32LoadStringBounds, CutsToTheBufferAndTerminates) {
  Win32Platform platform;
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(7, platform.LoadString(51, buffer, sizeof buffer));
  EXPECT_STREQ("Corrind", buffer);
  char one[1] = {'x'};
  EXPECT_EQ(0, platform.LoadString(51, one, 1));
  EXPECT_EQ('\0', one[0]);
}

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
