// The simulated registry: each family's ordering, NT's case, handle and error
// rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/sim/SimMachine.h"

namespace uninst::sim {
namespace {

std::vector<std::string> Enumerate(SimMachine& machine, RegHandle key) {
  std::vector<std::string> names;
  char name[512];
  for (std::uint32_t i = 0; machine.RegEnumKey(key, i, name, sizeof(name)) == kErrorSuccess; ++i) {
    names.push_back(name);
  }
  return names;
}

constexpr WindowsFamily kFamilies[] = {WindowsFamily::k9x, WindowsFamily::kNt};

struct OrderCase {
  const char* label;
  std::vector<std::string> created;
  std::vector<std::string> enumerated;    // NT: by upper-cased characters
  std::vector<std::string> enumerated9x;  // 9x: as created
  std::uint32_t ansiCodePage = kWesternAnsiCodePage;
};

class RegistryOrder : public ::testing::TestWithParam<OrderCase> {};

// The family is read at each call, so one machine shows both orders.
TEST_P(RegistryOrder, EnumeratesInTheFamilysOrder) {
  SimMachine machine;
  machine.Config().ansiCodePage = GetParam().ansiCodePage;
  for (const std::string& name : GetParam().created) machine.GetRegistry().CreateKey("K\\" + name);
  RegHandle key = 0;
  ASSERT_EQ(kErrorSuccess, machine.RegOpenKey(kLocalMachine, "K", &key));
  for (const WindowsFamily family : kFamilies) {
    machine.Config().family = family;
    const std::vector<std::string>& expected =
        family == WindowsFamily::kNt ? GetParam().enumerated : GetParam().enumerated9x;
    EXPECT_EQ(expected, machine.GetRegistry().SubKeyNames("K"));
    EXPECT_EQ(expected, Enumerate(machine, key));
  }
  machine.RegCloseKey(key);
}

INSTANTIATE_TEST_SUITE_P(
    Names, RegistryOrder,
    ::testing::Values(
        OrderCase{"MixedCase", {"b", "A", "C"}, {"A", "b", "C"}, {"b", "A", "C"}},
        // Upper-cased, '_' (0x5F) sorts after every letter.
        OrderCase{"UnderscoreAfterLetters",
                  {"A_B", "ab", "AB_"},
                  {"ab", "AB_", "A_B"},
                  {"A_B", "ab", "AB_"}},
        OrderCase{"PrefixFirst",
                  {"Key10", "key2", "KEY1"},
                  {"KEY1", "Key10", "key2"},
                  {"Key10", "key2", "KEY1"}},
        // Alike in their first 16 bytes, which a sort compares first.
        OrderCase{"LongSharedPrefix",
                  {"{4D36E967-E325-11b", "{4d36e967-e325-11A", "{4D36E967-E325-11"},
                  {"{4D36E967-E325-11", "{4d36e967-e325-11A", "{4D36E967-E325-11b"},
                  {"{4D36E967-E325-11b", "{4d36e967-e325-11A", "{4D36E967-E325-11"}},
        OrderCase{"DigitsBeforeLetters",
                  {"ROOT", "0001", "0000"},
                  {"0000", "0001", "ROOT"},
                  {"ROOT", "0001", "0000"}},
        OrderCase{"HighBytesLast", {"\xC3\xA9", "z"}, {"z", "\xC3\xA9"}, {"\xC3\xA9", "z"}},
        OrderCase{"SameNameOtherCase", {"Flop", "FLOP", "flop"}, {"Flop"}, {"Flop"}},
        // 表 ends in 0x5C; ア and ヂ end in 'A' and 'a' (code page 932).
        OrderCase{"DoubleByteCharactersWhole",
                  {"\x95\x5C", "\x83\x61", "\x83\x41"},
                  {"\x83\x41", "\x83\x61", "\x95\x5C"},
                  {"\x95\x5C", "\x83\x61", "\x83\x41"},
                  932},
        OrderCase{
            "SingleByteCodePageFoldsThem", {"\x83\x61", "\x83\x41"}, {"\x83\x61"}, {"\x83\x61"}},
        // NT sorts by the upper-cased UTF-16 character: À (U+00C0) before
        // Œ (0x8C, U+0152), and folds every letter, É and é too.
        OrderCase{"UnicodeOrder", {"X\x8C", "X\xC0"}, {"X\xC0", "X\x8C"}, {"X\x8C", "X\xC0"}},
        OrderCase{"EveryLetterFolds", {"CAF\xC9", "caf\xE9"}, {"CAF\xC9"}, {"CAF\xC9"}},
        // Full-width Ａ and ａ (code page 932) are one name.
        OrderCase{
            "FullWidthLettersFold", {"\x82\x60", "\x82\x81"}, {"\x82\x60"}, {"\x82\x60"}, 932}),
    [](const ::testing::TestParamInfo<OrderCase>& info) { return info.param.label; });

TEST(SimRegistry, KeepsTheCaseOfTheFirstSpellingAndFindsAnyCase) {
  Registry registry;
  registry.CreateKey("Enum\\FLOP");
  registry.CreateKey("ENUM\\flop\\Instance");
  registry.SetString("enum\\Flop\\INSTANCE", "Driver", "fdc\\0000");
  EXPECT_EQ((std::vector<std::string>{"Enum", "Enum\\FLOP", "Enum\\FLOP\\Instance"}),
            registry.AllKeys());
  const std::optional<RegValue> value = registry.GetValue("ENUM\\FLOP\\instance", "DRIVER");
  ASSERT_TRUE(value);
  EXPECT_EQ("Driver", value->name);
  EXPECT_EQ(kRegSz, value->type);
  EXPECT_EQ(std::vector<std::uint8_t>({'f', 'd', 'c', '\\', '0', '0', '0', '0', 0}), value->data);
}

TEST(SimRegistry, ValuesKeepCreationOrderAndAreReplacedInPlace) {
  Registry registry;
  registry.SetValue("K", "b", kRegDword, {1, 0, 0, 0});
  registry.SetString("K", "a", "x");
  registry.SetString("K", "B", "y");
  const std::vector<RegValue> values = registry.Values("K");
  ASSERT_EQ(2u, values.size());
  EXPECT_EQ("b", values[0].name);
  EXPECT_EQ(kRegSz, values[0].type);
  EXPECT_EQ("a", values[1].name);
  EXPECT_TRUE(registry.Values("Missing").empty());
}

TEST(SimRegistry, DeleteKeyRemovesTheSubtreeOnly) {
  Registry registry;
  registry.CreateKey("A\\B\\C");
  registry.CreateKey("A\\D");
  registry.CreateKey("AB");
  EXPECT_TRUE(registry.DeleteKey("a\\b"));
  EXPECT_EQ((std::vector<std::string>{"A", "A\\D", "AB"}), registry.AllKeys());
  EXPECT_FALSE(registry.DeleteKey("A\\B"));
  EXPECT_FALSE(registry.DeleteKey(""));
  EXPECT_TRUE(registry.KeyExists(""));
}

class RegistryFamily : public ::testing::TestWithParam<WindowsFamily> {};

TEST_P(RegistryFamily, IndexEnumerationFollowsInsertionsAndDeletions) {
  SimMachine machine;
  machine.Config().family = GetParam();
  Registry& registry = machine.GetRegistry();
  for (int k = 9; k >= 0; --k) registry.CreateKey("K\\" + std::to_string(k));
  RegHandle key = 0;
  ASSERT_EQ(kErrorSuccess, machine.RegOpenKey(kLocalMachine, "K", &key));
  // Each step changes the subkeys (or not) and then reads one index.
  const struct {
    const char* add;
    const char* remove;
    std::uint32_t index;
  } steps[] = {{"", "", 3},   {"", "K\\3", 3},  {"", "K\\1", 3}, {"25", "", 3},
               {"", "", 9},   {"", "K\\9", 8},  {"", "", 0},     {"", "K\\0", 0},
               {"00", "", 1}, {"", "K\\25", 2}, {"", "", 7},     {"", "", 4}};
  for (const auto& step : steps) {
    if (*step.add) registry.CreateKey(std::string("K\\") + step.add);
    if (*step.remove) {
      EXPECT_EQ(kErrorSuccess, machine.RegDeleteKey(kLocalMachine, step.remove));
    }
    const std::vector<std::string> names = registry.SubKeyNames("K");
    char name[16] = "sentinel";
    const long error = machine.RegEnumKey(key, step.index, name, sizeof(name));
    if (step.index < names.size()) {
      EXPECT_EQ(kErrorSuccess, error);
      EXPECT_EQ(names[step.index], name) << "index " << step.index;
    } else {
      EXPECT_EQ(kErrorNoMoreItems, error);
    }
  }
  machine.RegCloseKey(key);
}

TEST(SimRegistry, TreesOfAnyDepthAreDeletedAndFreedWithoutRecursion) {
  std::string path = "Deep";
  for (int level = 0; level < 100000; ++level) path += "\\k";
  SimMachine machine;
  machine.GetRegistry().CreateKey(path);
  machine.GetRegistry().CreateKey("Kept" + path.substr(4));
  EXPECT_EQ(kErrorSuccess, machine.RegDeleteKey(kLocalMachine, "Deep"));
  EXPECT_FALSE(machine.GetRegistry().KeyExists("Deep"));
  std::size_t keys = 0;
  machine.GetRegistry().VisitKeys([&keys](const std::string&, const Registry::Node&) { ++keys; });
  EXPECT_EQ(100001u, keys);
}

// Platform calls.

class SimRegistryCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.GetRegistry().CreateKey("Branch\\0000\\Deep");
    machine.GetRegistry().CreateKey("Branch\\0001");
    machine.GetRegistry().SetString("Branch\\0000", "Driver", "fdc\\0000");
  }
  RegHandle Open(const char* path,
                 std::uint32_t access = kKeyQueryValue | kKeyEnumerateSubKeys | kKeySetValue) {
    RegHandle key = 0;
    EXPECT_EQ(kErrorSuccess, machine.RegOpenKeyEx(kLocalMachine, path, access, &key)) << path;
    return key;
  }

  SimMachine machine;
};

TEST_F(SimRegistryCalls, OpenReportsWhyItFails) {
  RegHandle key = 99;
  EXPECT_EQ(kErrorFileNotFound, machine.RegOpenKeyEx(kLocalMachine, "Branch\\0002", 1, &key));
  EXPECT_EQ(0u, key);
  EXPECT_EQ(161, machine.RegOpenKey(kLocalMachine, "\\Branch", &key));
  EXPECT_EQ(kErrorInvalidHandle, machine.RegOpenKey(0x1234, "Branch", &key));
  EXPECT_EQ(kErrorInvalidParameter, machine.RegOpenKey(kLocalMachine, "Branch", nullptr));
  EXPECT_EQ(0u, machine.OpenHandleCount());
}

TEST_F(SimRegistryCalls, EmptyPathOpensTheRootKeyItself) {
  const RegHandle root = Open("");
  EXPECT_EQ(std::vector<std::string>{"Branch"}, Enumerate(machine, root));
  RegHandle same = 0;
  ASSERT_EQ(kErrorSuccess, machine.RegOpenKey(root, nullptr, &same));
  EXPECT_EQ(std::vector<std::string>{"Branch"}, Enumerate(machine, same));
  EXPECT_EQ(2u, machine.OpenHandleCount());
  EXPECT_EQ(kErrorSuccess, machine.RegCloseKey(same));
  EXPECT_EQ(kErrorSuccess, machine.RegCloseKey(root));
  EXPECT_EQ(0u, machine.OpenHandleCount());
}

TEST_F(SimRegistryCalls, OpenKeyHandlesServeAsRoots) {
  const RegHandle branch = Open("BRANCH");
  RegHandle instance = 0;
  ASSERT_EQ(kErrorSuccess, machine.RegOpenKeyEx(branch, "0000", kKeyQueryValue, &instance));
  std::uint8_t data[32];
  std::uint32_t size = sizeof(data);
  EXPECT_EQ(kErrorSuccess, machine.RegQueryValueEx(instance, "driver", nullptr, data, &size));
  EXPECT_EQ(kErrorSuccess, machine.RegDeleteKey(branch, "0001"));
  EXPECT_FALSE(machine.GetRegistry().KeyExists("Branch\\0001"));
  machine.RegCloseKey(instance);
  machine.RegCloseKey(branch);
}

TEST_F(SimRegistryCalls, EnumerationErrors) {
  const RegHandle branch = Open("Branch");
  char name[5];
  EXPECT_EQ(kErrorSuccess, machine.RegEnumKey(branch, 1, name, sizeof(name)));
  EXPECT_STREQ("0001", name);
  EXPECT_EQ(kErrorMoreData, machine.RegEnumKey(branch, 1, name, 4));
  EXPECT_EQ(kErrorNoMoreItems, machine.RegEnumKey(branch, 2, name, sizeof(name)));
  EXPECT_EQ(kErrorNoMoreItems, machine.RegEnumKey(branch, 0xFFFFFFFFu, name, sizeof(name)));
  EXPECT_EQ(kErrorInvalidHandle, machine.RegEnumKey(0x4321, 0, name, sizeof(name)));
  machine.RegCloseKey(branch);
  EXPECT_EQ(kErrorInvalidHandle, machine.RegEnumKey(branch, 0, name, sizeof(name)));
  EXPECT_EQ(kErrorInvalidHandle, machine.RegCloseKey(branch));
}

TEST_F(SimRegistryCalls, QueryValueSizesAndBuffers) {
  const RegHandle key = Open("Branch\\0000");
  std::uint8_t data[9];
  std::uint32_t size = 8;
  std::uint32_t type = 0;
  std::fill(std::begin(data), std::end(data), 0xEE);
  EXPECT_EQ(kErrorMoreData, machine.RegQueryValueEx(key, "Driver", &type, data, &size));
  EXPECT_EQ(9u, size);
  EXPECT_EQ(kRegSz, type);
  EXPECT_EQ(0xEE, data[0]) << "a buffer that is too small stays untouched";
  EXPECT_EQ(kErrorInvalidParameter, machine.RegQueryValueEx(key, "Driver", &type, data, nullptr));
  EXPECT_EQ(kErrorFileNotFound, machine.RegQueryValueEx(key, nullptr, &type, nullptr, &size));
  machine.GetRegistry().SetValue("Branch\\0000", "", kRegBinary, {});
  size = 0;
  EXPECT_EQ(kErrorSuccess, machine.RegQueryValueEx(key, nullptr, &type, data, &size));
  EXPECT_EQ(0u, size);
  EXPECT_EQ(kRegBinary, type);
  machine.RegCloseKey(key);
}

TEST_F(SimRegistryCalls, DeletingKeysAndValues) {
  EXPECT_EQ(kErrorInvalidParameter, machine.RegDeleteKey(kLocalMachine, ""));
  EXPECT_EQ(kErrorInvalidParameter, machine.RegDeleteKey(kLocalMachine, nullptr));
  EXPECT_EQ(161, machine.RegDeleteKey(kLocalMachine, "\\Branch"));
  EXPECT_EQ(kErrorFileNotFound, machine.RegDeleteKey(kLocalMachine, "Branch\\0002"));
  EXPECT_EQ(kErrorFileNotFound, machine.RegDeleteKey(kLocalMachine, "Nothing\\0002"));
  EXPECT_TRUE(machine.GetRegistry().KeyExists("Branch"));

  const RegHandle key = Open("Branch\\0000", kKeySetValue);
  EXPECT_EQ(kErrorSuccess, machine.RegDeleteValue(key, "DRIVER"));
  EXPECT_EQ(kErrorFileNotFound, machine.RegDeleteValue(key, "Driver"));
  machine.RegCloseKey(key);
  // A trailing separator names the same key, as on Windows.
  EXPECT_EQ(kErrorSuccess, machine.RegDeleteKey(kLocalMachine, "Branch\\0000\\"));
  EXPECT_EQ((std::vector<std::string>{"Branch", "Branch\\0001"}), machine.GetRegistry().AllKeys());
}

TEST_F(SimRegistryCalls, HandlesOfDeletedKeysReportKeyDeleted) {
  const RegHandle deep = Open("Branch\\0000\\Deep");
  const RegHandle instance = Open("Branch\\0000");
  ASSERT_EQ(kErrorSuccess, machine.RegDeleteKey(kLocalMachine, "Branch\\0000"));
  machine.GetRegistry().CreateKey("Branch\\0000\\Deep");  // a new key of the same name

  char name[16];
  std::uint32_t count = 0;
  std::uint32_t size = sizeof(name);
  RegHandle child = 0;
  for (const RegHandle key : {deep, instance}) {
    EXPECT_EQ(kErrorKeyDeleted, machine.RegEnumKey(key, 0, name, sizeof(name)));
    EXPECT_EQ(kErrorKeyDeleted, machine.RegQueryInfoKey(key, &count));
    EXPECT_EQ(kErrorKeyDeleted, machine.RegQueryValueEx(key, "Driver", nullptr, nullptr, &size));
    EXPECT_EQ(kErrorKeyDeleted, machine.RegDeleteValue(key, "Driver"));
    EXPECT_EQ(kErrorKeyDeleted, machine.RegOpenKey(key, "", &child));
    EXPECT_EQ(kErrorKeyDeleted, machine.RegDeleteKey(key, "Deep"));
    EXPECT_EQ(kErrorSuccess, machine.RegCloseKey(key));
  }
  EXPECT_TRUE(machine.GetRegistry().KeyExists("Branch\\0000\\Deep"));
  EXPECT_EQ(0u, machine.OpenHandleCount());
}

TEST_P(RegistryFamily, ManySubkeysAreEnumeratedAndDeletedFromTheTop) {
  constexpr int kCount = 10000;
  SimMachine machine;
  machine.Config().family = GetParam();
  Registry& registry = machine.GetRegistry();
  char name[16];
  for (int i = 0; i < kCount; ++i) {
    std::snprintf(name, sizeof(name), "%05d", i);
    registry.CreateKey(std::string("Big\\") + name);
  }
  // Scattered deletions elsewhere leave every other subkey within its name's reach.
  std::vector<bool> gone(kCount);
  for (int i = 0; i < kCount; ++i) registry.CreateKey("Scattered\\" + std::to_string(i));
  for (int i = 0; i < kCount; i += 3) {
    gone[(i * 7919 + 1) % kCount] = true;
    registry.DeleteKey("SCATTERED\\" + std::to_string((i * 7919 + 1) % kCount));
  }
  for (int i = 0; i < kCount; ++i) {
    ASSERT_EQ(registry.KeyExists("scattered\\" + std::to_string(i)), !gone[i]) << i;
  }
  RegHandle big = 0;
  ASSERT_EQ(kErrorSuccess, machine.RegOpenKey(kLocalMachine, "Big", &big));
  std::uint32_t count = 0;
  ASSERT_EQ(kErrorSuccess, machine.RegQueryInfoKey(big, &count));
  ASSERT_EQ(static_cast<std::uint32_t>(kCount), count);
  int deleted = 0;
  for (std::uint32_t i = count; i-- > 0;) {
    char enumerated[16];
    ASSERT_EQ(kErrorSuccess, machine.RegEnumKey(big, i, enumerated, sizeof(enumerated)));
    std::snprintf(name, sizeof(name), "%05u", i);
    ASSERT_STREQ(name, enumerated);
    ASSERT_EQ(kErrorSuccess,
              machine.RegDeleteKey(kLocalMachine, (std::string("Big\\") + enumerated).c_str()));
    ++deleted;
  }
  EXPECT_EQ(kCount, deleted);
  ASSERT_EQ(kErrorSuccess, machine.RegQueryInfoKey(big, &count));
  EXPECT_EQ(0u, count);
  machine.RegCloseKey(big);
}

INSTANTIATE_TEST_SUITE_P(Families, RegistryFamily, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<WindowsFamily>& info) {
                           return info.param == WindowsFamily::kNt ? "WindowsNt" : "Windows9x";
                         });

// What links do on both layers is part of the platform contract suite.
TEST_F(SimRegistryCalls, ALoopOfLinksFailsTheOpenAndIsDeletedAsLinks) {
  ASSERT_TRUE(machine.GetRegistry().CreateLink("Loop\\A", "Loop\\B"));
  ASSERT_TRUE(machine.GetRegistry().CreateLink("Loop\\B", "Loop\\A"));
  RegHandle key = 99;
  EXPECT_EQ(kErrorFileNotFound, machine.RegOpenKey(kLocalMachine, "Loop\\A", &key));
  EXPECT_EQ(0u, key);
  EXPECT_EQ(kErrorSuccess, machine.RegDeleteKey(kLocalMachine, "Loop\\A"));
  EXPECT_EQ((std::vector<std::string>{"Branch", "Branch\\0000", "Branch\\0000\\Deep",
                                      "Branch\\0001", "Loop", "Loop\\B"}),
            machine.GetRegistry().AllKeys());
}

struct RightsCase {
  std::uint32_t access;
  long enumResult;
  long countResult;
  long queryResult;
  long deleteValueResult;
};

class RegistryRights : public SimRegistryCalls, public ::testing::WithParamInterface<RightsCase> {};

TEST_P(RegistryRights, EachCallChecksItsRight) {
  const RightsCase& c = GetParam();
  const RegHandle key = Open("Branch\\0000", c.access);
  char name[16];
  std::uint32_t count = 0;
  std::uint32_t size = 0;
  EXPECT_EQ(c.enumResult, machine.RegEnumKey(key, 0, name, sizeof(name)));
  EXPECT_EQ(c.countResult, machine.RegQueryInfoKey(key, &count));
  EXPECT_EQ(c.queryResult, machine.RegQueryValueEx(key, "Driver", nullptr, nullptr, &size));
  EXPECT_EQ(c.deleteValueResult, machine.RegDeleteValue(key, "Driver"));
  machine.RegCloseKey(key);
}

INSTANTIATE_TEST_SUITE_P(Masks, RegistryRights,
                         ::testing::Values(RightsCase{0, 5, 5, 5, 5},
                                           RightsCase{kKeyQueryValue, 5, 0, 0, 5},
                                           RightsCase{kKeySetValue, 5, 5, 5, 0},
                                           RightsCase{kKeyEnumerateSubKeys, 0, 5, 5, 5},
                                           RightsCase{0xF003F, 0, 0, 0, 0}));

}  // namespace
}  // namespace uninst::sim
