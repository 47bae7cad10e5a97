// What the uninstaller relies on from the platform, checked against whichever
// Platform the build provides.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/PlatformHandle.h"
#include "tests/contract/ContractEnvironment.h"
#include "tests/support/PeBuilder.h"

namespace uninst::contract {
namespace {

constexpr std::uint64_t kTime1999 = 125648928000000000ULL;          // 1999-03-03 00:00:00 UTC
constexpr std::uint64_t kTime2000 = 125963012960000000ULL;          // 2000-02-29 12:34:56 UTC
constexpr std::uint64_t kSummer1999 = 125760384000000000ULL;        // 1999-07-10 00:00:00 UTC
constexpr std::uint64_t kJanuary2026 = 134129088000000000ULL;       // 2026-01-15 00:00:00 UTC
constexpr std::uint64_t kJuly2026 = 134285472000000000ULL;          // 2026-07-15 00:00:00 UTC
constexpr std::uint64_t kBerlinChange2026 = 134192196000000000ULL;  // 2026-03-29 01:00 UTC
constexpr std::uint32_t kReadWrite = kGenericRead | kGenericWrite;
// Written into out-parameters first, to see whether a call set them.
constexpr RegHandle kSentinelHandle = 0x5E7;
constexpr char kSentinelByte = 'x';

std::string FamilyName(Family family) { return family == Family::k9x ? "Windows9x" : "WindowsNt"; }

std::string Key(const std::string& below) { return std::string(kScratchKey) + "\\" + below; }

std::vector<std::uint8_t> StringData(const std::string& text) {
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  return data;
}

class PlatformContract : public ::testing::Test {
 protected:
  void SetUp() override {
    m_env = MakeContractEnvironment(FamilyUnderTest());
    m_env->DeleteTree(kScratchKey);
    m_env->CreateKey(kScratchKey);
  }
  void TearDown() override {
    if (m_env) m_env->DeleteTree(kScratchKey);
  }
  // The family of machine the cases run on; those parameterised over the
  // families run on each that the build provides.
  virtual Family FamilyUnderTest() const { return Family::kNt; }
  Platform& Machine() { return m_env->GetPlatform(); }
  ContractEnvironment& Env() { return *m_env; }
  std::string File(const std::string& name) { return m_env->ScratchDirectory() + "\\" + name; }

  std::string EnumName(RegHandle key, std::uint32_t index, long* result) {
    char name[256] = {};
    *result = Machine().RegEnumKey(key, index, name, sizeof(name));
    return name;
  }

 private:
  std::unique_ptr<ContractEnvironment> m_env;
};

// Registry.

TEST_F(PlatformContract, OpensKeysWhateverTheLetterCase) {
  Env().CreateKey(Key("MixedCase\\Child"));
  RegKey key(Machine());
  ASSERT_EQ(kErrorSuccess,
            Machine().RegOpenKeyEx(kLocalMachine, "SOFTWARE\\uninstcontract\\MIXEDCASE",
                                   kKeyQueryValue | kKeyEnumerateSubKeys, key.Receive()));
  long result = -1;
  EXPECT_EQ("Child", EnumName(key.Get(), 0, &result));
  EXPECT_EQ(kErrorSuccess, result);
  // Every letter folds, not only ASCII ones: é and É (code page 1252).
  Env().CreateKey(Key("Caf\xE9"));
  RegKey accented(Machine());
  EXPECT_EQ(kErrorSuccess, Machine().RegOpenKeyEx(kLocalMachine, Key("CAF\xC9").c_str(),
                                                  kKeyQueryValue, accented.Receive()));

  RegHandle missing = 0;
  EXPECT_EQ(kErrorFileNotFound, Machine().RegOpenKeyEx(kLocalMachine, Key("Missing").c_str(),
                                                       kKeyQueryValue, &missing));
  EXPECT_EQ(kErrorFileNotFound,
            Machine().RegOpenKey(kLocalMachine, Key("Missing").c_str(), &missing));
}

// Windows sets the handle of a failed open to null.
TEST_F(PlatformContract, AFailedOpenSetsTheHandleToZero) {
  RegHandle plain = kSentinelHandle;
  EXPECT_EQ(kErrorFileNotFound, Machine().RegOpenKey(kLocalMachine, Key("No").c_str(), &plain));
  EXPECT_EQ(0u, plain);
  RegHandle ex = kSentinelHandle;
  EXPECT_EQ(kErrorFileNotFound,
            Machine().RegOpenKeyEx(kLocalMachine, Key("No").c_str(), kKeyQueryValue, &ex));
  EXPECT_EQ(0u, ex);
}

class FamilyContract : public PlatformContract, public ::testing::WithParamInterface<Family> {
 protected:
  Family FamilyUnderTest() const override { return GetParam(); }
};

// NT keeps subkeys sorted by their upper-cased UTF-16 characters: X\xC0
// (À, U+00C0) before X\x8C (Œ, U+0152), against their code-page bytes. The
// 9x registry chains them in the order they were created.
TEST_P(FamilyContract, EnumeratesSubkeysInTheFamilysOrder) {
  for (const char* name : {"delta", "Alpha", "X\x8C", "charlie", "X\xC0", "Bravo"}) {
    Env().CreateKey(Key(std::string("Order\\") + name));
  }
  RegKey key(Machine());
  ASSERT_EQ(kErrorSuccess,
            Machine().RegOpenKey(kLocalMachine, Key("Order").c_str(), key.Receive()));
  std::uint32_t count = 0;
  ASSERT_EQ(kErrorSuccess, Machine().RegQueryInfoKey(key.Get(), &count));
  EXPECT_EQ(6u, count);
  std::vector<std::string> names;
  long result = kErrorSuccess;
  for (std::uint32_t i = 0; result == kErrorSuccess; ++i) {
    const std::string name = EnumName(key.Get(), i, &result);
    if (result == kErrorSuccess) names.push_back(name);
  }
  EXPECT_EQ(kErrorNoMoreItems, result);
  EXPECT_EQ(
      GetParam() == Family::k9x
          ? (std::vector<std::string>{"delta", "Alpha", "X\x8C", "charlie", "X\xC0", "Bravo"})
          : (std::vector<std::string>{"Alpha", "Bravo", "charlie", "delta", "X\xC0", "X\x8C"}),
      names);
}

TEST_F(PlatformContract, EnumerationNeedsRoomForTheNameAndItsTerminator) {
  Env().CreateKey(Key("Fit\\ABCDEFGH"));
  RegKey key(Machine());
  ASSERT_EQ(kErrorSuccess, Machine().RegOpenKey(kLocalMachine, Key("Fit").c_str(), key.Receive()));
  char name[9] = {};
  EXPECT_EQ(kErrorMoreData, Machine().RegEnumKey(key.Get(), 0, name, 8));
  EXPECT_EQ(kErrorSuccess, Machine().RegEnumKey(key.Get(), 0, name, 9));
  EXPECT_STREQ("ABCDEFGH", name);
}

// A name that does not fit the buffer or that the code page cannot hold
// exactly makes its own index unreadable, writing nothing; the next index is
// read, and the subtree deletion takes every such key with its parent.
TEST_F(PlatformContract, AnUnreadableNameSkipsOnlyItsIndex) {
  Env().CreateKey(Key("Names\\LONGNAME"));
  Env().CreateKey(Key("Names\\Z"));
  ASSERT_TRUE(Env().CreateKeyBeyondCodePage(Key("Names")));
  RegKey key(Machine());
  ASSERT_EQ(kErrorSuccess,
            Machine().RegOpenKey(kLocalMachine, Key("Names").c_str(), key.Receive()));
  std::vector<std::string> names;
  std::vector<long> unreadable;
  long result = kErrorSuccess;
  for (std::uint32_t i = 0; result != kErrorNoMoreItems; ++i) {
    char name[8] = {kSentinelByte, '\0'};
    result = Machine().RegEnumKey(key.Get(), i, name, sizeof name);
    if (result == kErrorSuccess) {
      names.push_back(name);
    } else if (result != kErrorNoMoreItems) {
      unreadable.push_back(result);
      EXPECT_EQ(kSentinelByte, name[0]);
    }
  }
  std::sort(unreadable.begin(), unreadable.end());
  EXPECT_EQ(std::vector<std::string>{"Z"}, names);
  EXPECT_EQ((std::vector<long>{kErrorMoreData, kErrorNoUnicodeTranslation}), unreadable);
  key.Reset();
  RegKey bestFit(Machine());
  EXPECT_EQ(kErrorFileNotFound, Machine().RegOpenKeyEx(kLocalMachine, Key("Names\\A\\B").c_str(),
                                                       kKeyQueryValue, bestFit.Receive()));
  EXPECT_EQ(kErrorSuccess, Machine().RegDeleteKey(kLocalMachine, Key("Names").c_str()));
  EXPECT_FALSE(Env().KeyExists(Key("Names")));
}

struct StringValueCase {
  const char* label;
  std::uint32_t type;
  std::vector<std::uint8_t> data;
  std::uint32_t capacity;
  long expected;
  Family family = Family::kNt;
  // What a read gives where it is not the data stored.
  std::optional<std::vector<std::uint8_t>> read = std::nullopt;
};

class StringValueContract : public PlatformContract,
                            public ::testing::WithParamInterface<StringValueCase> {
 protected:
  Family FamilyUnderTest() const override { return GetParam().family; }
};

// The rows of the families this build can behave as.
std::vector<StringValueCase> OfContractFamilies(const std::vector<StringValueCase>& cases) {
  const std::vector<Family> families = ContractFamilies();
  std::vector<StringValueCase> kept;
  for (const StringValueCase& c : cases) {
    if (std::find(families.begin(), families.end(), c.family) != families.end()) kept.push_back(c);
  }
  return kept;
}

TEST_P(StringValueContract, QueryGivesTypeSizeAndData) {
  const StringValueCase& c = GetParam();
  const std::vector<std::uint8_t>& read = c.read ? *c.read : c.data;
  Env().SetValue(Key("Values"), "Value", c.type, c.data);
  RegKey key(Machine());
  ASSERT_EQ(kErrorSuccess, Machine().RegOpenKeyEx(kLocalMachine, Key("Values").c_str(),
                                                  kKeyQueryValue, key.Receive()));
  std::vector<std::uint8_t> buffer(c.capacity + 1, 0xCC);
  std::uint32_t type = 0;
  std::uint32_t size = c.capacity;
  EXPECT_EQ(c.expected, Machine().RegQueryValueEx(key.Get(), "value", &type, buffer.data(), &size));
  EXPECT_EQ(read.size(), size);  // read, or needed
  EXPECT_EQ(c.type, type);
  if (c.expected == kErrorSuccess) {
    EXPECT_TRUE(std::equal(read.begin(), read.end(), buffer.begin()));
    EXPECT_EQ(0xCC, buffer[c.capacity]) << "wrote past the capacity";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Edges, StringValueContract,
    ::testing::ValuesIn(OfContractFamilies(
        {StringValueCase{"EmptyStringIsItsTerminator", kRegSz, {0}, 512, kErrorSuccess},
         StringValueCase{"SevenCharacters", kRegSz, StringData("fdc\\0000"), 512, kErrorSuccess},
         StringValueCase{"ExactlyFillsTheBuffer", kRegSz, StringData(std::string(511, 'x')), 512,
                         kErrorSuccess},
         StringValueCase{"OneByteTooLong", kRegSz, StringData(std::string(512, 'x')), 512,
                         kErrorMoreData},
         StringValueCase{"ExpandStringKeepsItsType", kRegExpandSz, StringData("%windir%"), 512,
                         kErrorSuccess},
         StringValueCase{"DwordKeepsItsType", kRegDword, {1, 0, 0, 0}, 512, kErrorSuccess},
         StringValueCase{"NoBytesReadAsStored", kRegSz, {}, 512, kErrorSuccess},
         // Windows 98 reads a string as far as its first zero, with one
         // (Wine's registry tests, test_string_termination, Win9x branch).
         StringValueCase{"NoBytesReadAsEmptyString9x",
                         kRegSz,
                         {},
                         512,
                         kErrorSuccess,
                         Family::k9x,
                         std::vector<std::uint8_t>{0}},
         StringValueCase{"UnterminatedGetsItsZero9x",
                         kRegSz,
                         {'a', 'b'},
                         512,
                         kErrorSuccess,
                         Family::k9x,
                         std::vector<std::uint8_t>{'a', 'b', 0}},
         StringValueCase{"EndsAtTheFirstZero9x", kRegSz,
                         StringData(std::string("ab\0", 3) + std::string(600, 'x')), 512,
                         kErrorSuccess, Family::k9x, std::vector<std::uint8_t>{'a', 'b', 0}}})),
    [](const ::testing::TestParamInfo<StringValueCase>& info) { return info.param.label; });

TEST_F(PlatformContract, QueryWithoutDataBufferGivesTheSize) {
  Env().SetValue(Key("Values"), "Driver", kRegSz, StringData("fdc\\0000"));
  RegKey key(Machine());
  ASSERT_EQ(kErrorSuccess, Machine().RegOpenKeyEx(kLocalMachine, Key("Values").c_str(),
                                                  kKeyQueryValue, key.Receive()));
  std::uint32_t size = 0;
  EXPECT_EQ(kErrorSuccess, Machine().RegQueryValueEx(key.Get(), "Driver", nullptr, nullptr, &size));
  EXPECT_EQ(9u, size);
  std::uint8_t data[16];
  size = sizeof(data);
  EXPECT_EQ(kErrorFileNotFound,
            Machine().RegQueryValueEx(key.Get(), "Missing", nullptr, data, &size));
}

enum class KeyCall { kEnum, kQueryInfo, kQueryValue, kDeleteValue };

struct AccessCase {
  const char* label;
  bool plainOpen;
  std::uint32_t access;
  KeyCall call;
  long expected;
};

// The 9x family checks no access rights: every call succeeds.
class AccessContract : public PlatformContract,
                       public ::testing::WithParamInterface<std::tuple<Family, AccessCase>> {
 protected:
  Family FamilyUnderTest() const override { return std::get<0>(GetParam()); }

  long Call(RegHandle key, KeyCall call) {
    char name[64];
    std::uint32_t count = 0;
    std::uint8_t data[64];
    std::uint32_t size = sizeof(data);
    switch (call) {
      case KeyCall::kEnum:
        return Machine().RegEnumKey(key, 0, name, sizeof(name));
      case KeyCall::kQueryInfo:
        return Machine().RegQueryInfoKey(key, &count);
      case KeyCall::kQueryValue:
        return Machine().RegQueryValueEx(key, "Value", nullptr, data, &size);
      case KeyCall::kDeleteValue:
        return Machine().RegDeleteValue(key, "Value");
    }
    return -1;
  }
};

TEST_P(AccessContract, CallsNeedTheirAccessRight) {
  const AccessCase& c = std::get<1>(GetParam());
  const long expected = FamilyUnderTest() == Family::k9x ? kErrorSuccess : c.expected;
  Env().CreateKey(Key("Rights\\Child"));
  Env().SetValue(Key("Rights"), "Value", kRegSz, StringData("x"));
  RegKey key(Machine());
  const std::string path = Key("Rights");
  ASSERT_EQ(kErrorSuccess,
            c.plainOpen
                ? Machine().RegOpenKey(kLocalMachine, path.c_str(), key.Receive())
                : Machine().RegOpenKeyEx(kLocalMachine, path.c_str(), c.access, key.Receive()));
  EXPECT_EQ(expected, Call(key.Get(), c.call));
  EXPECT_EQ(c.call == KeyCall::kDeleteValue && expected == kErrorSuccess,
            !Env().ValueExists(path, "Value"));
}

INSTANTIATE_TEST_SUITE_P(
    Rights, AccessContract,
    ::testing::Combine(
        ::testing::ValuesIn(ContractFamilies()),
        ::testing::Values(
            AccessCase{"QueryCannotEnumerate", false, kKeyQueryValue, KeyCall::kEnum,
                       kErrorAccessDenied},
            AccessCase{"QueryCountsSubkeys", false, kKeyQueryValue, KeyCall::kQueryInfo,
                       kErrorSuccess},
            AccessCase{"QueryReadsValues", false, kKeyQueryValue, KeyCall::kQueryValue,
                       kErrorSuccess},
            AccessCase{"QueryCannotDeleteValues", false, kKeyQueryValue, KeyCall::kDeleteValue,
                       kErrorAccessDenied},
            AccessCase{"EnumerateEnumerates", false, kKeyEnumerateSubKeys, KeyCall::kEnum,
                       kErrorSuccess},
            AccessCase{"EnumerateCannotRead", false, kKeyEnumerateSubKeys, KeyCall::kQueryValue,
                       kErrorAccessDenied},
            AccessCase{"SetValueDeletesValues", false, kKeySetValue, KeyCall::kDeleteValue,
                       kErrorSuccess},
            AccessCase{"PlainOpenEnumerates", true, 0, KeyCall::kEnum, kErrorSuccess},
            AccessCase{"PlainOpenReads", true, 0, KeyCall::kQueryValue, kErrorSuccess},
            AccessCase{"PlainOpenDeletesValues", true, 0, KeyCall::kDeleteValue, kErrorSuccess})),
    [](const ::testing::TestParamInfo<std::tuple<Family, AccessCase>>& info) {
      return FamilyName(std::get<0>(info.param)) + std::get<1>(info.param).label;
    });

TEST_P(FamilyContract, DeletesAKeyWithItsWholeSubtree) {
  Env().CreateKey(Key("Tree\\A\\B\\C"));
  Env().CreateKey(Key("Tree\\D"));
  Env().SetValue(Key("Tree\\A\\B"), "Value", kRegSz, StringData("x"));
  Env().CreateKey(Key("TreeSibling"));

  EXPECT_EQ(kErrorSuccess, Machine().RegDeleteKey(kLocalMachine, Key("tree").c_str()));
  EXPECT_FALSE(Env().KeyExists(Key("Tree")));
  EXPECT_TRUE(Env().KeyExists(Key("TreeSibling")));
  EXPECT_NE(kErrorSuccess, Machine().RegDeleteKey(kLocalMachine, Key("Tree").c_str()));
}

TEST_P(FamilyContract, DeletesASubtreeDeeperThan32Levels) {
  // Windows creates at most 32 levels in one call: one level at a time.
  std::string deepest = Key("Deep");
  for (int level = 0; level < 40; ++level) {
    deepest += "\\L" + std::to_string(level);
    Env().CreateKey(deepest);
  }
  EXPECT_EQ(kErrorSuccess, Machine().RegDeleteKey(kLocalMachine, Key("Deep").c_str()));
  EXPECT_FALSE(Env().KeyExists(Key("Deep")));
}

TEST_F(PlatformContract, RefusesToDeleteAMissingKeyOrTheKeyOfTheHandle) {
  Env().CreateKey(Key("Kept\\Child"));
  EXPECT_EQ(kErrorFileNotFound, Machine().RegDeleteKey(kLocalMachine, Key("Missing").c_str()));
  RegKey key(Machine());
  ASSERT_EQ(kErrorSuccess, Machine().RegOpenKey(kLocalMachine, Key("Kept").c_str(), key.Receive()));
  EXPECT_NE(kErrorSuccess, Machine().RegDeleteKey(key.Get(), ""));
  EXPECT_TRUE(Env().KeyExists(Key("Kept\\Child")));
}

struct LinkCase {
  const char* label;
  const char* link;     // below the scratch key, leading to "Target"
  const char* deleted;  // the path given to RegDeleteKey
  long deletion;        // what RegDeleteKey returns
  const char* kept;     // a key that stays
};

class LinkContract : public PlatformContract,
                     public ::testing::WithParamInterface<std::tuple<LinkCase, Family>> {
 protected:
  Family FamilyUnderTest() const override { return std::get<1>(GetParam()); }
};

// Nothing behind a link is reached: an open through it fails as for a
// missing key, a deletion through it deletes nothing, and a link is deleted
// as a link. Its target, with the values and keys below it, stays whole. The
// 9x family has no links.
TEST_P(LinkContract, NothingBehindALinkIsReached) {
  const LinkCase& c = std::get<0>(GetParam());
  Env().SetValue(Key("Target\\Sub\\Deep"), "Owner", kRegSz, StringData("other"));
  Env().CreateKey(Key("Tree\\Sibling"));
  if (FamilyUnderTest() == Family::k9x) {
    EXPECT_FALSE(Env().CreateLink(Key(c.link), Key("Target")));
    EXPECT_FALSE(Env().KeyExists(Key(c.link)));
    return;
  }
  ASSERT_TRUE(Env().CreateLink(Key(c.link), Key("Target")));
  for (const char* below : {"", "\\Sub", "\\Sub\\Deep"}) {
    RegKey through(Machine());
    const std::string path = Key(c.link + std::string(below));
    EXPECT_EQ(kErrorFileNotFound, Machine().RegOpenKeyEx(kLocalMachine, path.c_str(),
                                                         kKeyQueryValue, through.Receive()))
        << path;
    EXPECT_EQ(kErrorFileNotFound,
              Machine().RegOpenKey(kLocalMachine, path.c_str(), through.Receive()))
        << path;
  }
  EXPECT_EQ(c.deletion, Machine().RegDeleteKey(kLocalMachine, Key(c.deleted).c_str()));
  EXPECT_EQ(c.deletion != kErrorSuccess, Env().KeyExists(Key(c.link)));
  EXPECT_TRUE(Env().ValueExists(Key("Target\\Sub\\Deep"), "Owner"));
  EXPECT_TRUE(Env().KeyExists(Key(c.kept)));
}

INSTANTIATE_TEST_SUITE_P(
    Links, LinkContract,
    ::testing::Combine(::testing::Values(LinkCase{"BelowTheKey", "Tree\\Instance\\Link", "Tree",
                                                  kErrorSuccess, "Target"},
                                         LinkCase{"DeepBelowTheKey", "Tree\\A\\B\\C\\Link", "Tree",
                                                  kErrorSuccess, "Target"},
                                         LinkCase{"BesideOtherSubkeys", "Tree\\Instance\\Link",
                                                  "Tree\\Instance", kErrorSuccess, "Tree\\Sibling"},
                                         LinkCase{"NamedByThePath", "Tree\\Link", "Tree\\Link",
                                                  kErrorSuccess, "Tree\\Sibling"},
                                         LinkCase{"OnTheWay", "Tree\\Link", "Tree\\Link\\Sub",
                                                  kErrorFileNotFound, "Target\\Sub"},
                                         LinkCase{"AtTheTopOfThePath", "Lnk", "Lnk\\Sub\\Deep",
                                                  kErrorFileNotFound, "Target\\Sub\\Deep"}),
                       ::testing::ValuesIn(ContractFamilies())),
    [](const ::testing::TestParamInfo<std::tuple<LinkCase, Family>>& info) {
      return std::string(std::get<0>(info.param).label) + FamilyName(std::get<1>(info.param));
    });

TEST_F(PlatformContract, HandleOfADeletedKeyReportsKeyDeleted) {
  Env().CreateKey(Key("Gone\\Child"));
  RegKey key(Machine());
  ASSERT_EQ(kErrorSuccess, Machine().RegOpenKey(kLocalMachine, Key("Gone").c_str(), key.Receive()));
  ASSERT_EQ(kErrorSuccess, Machine().RegDeleteKey(kLocalMachine, Key("Gone").c_str()));
  std::uint32_t count = 0;
  EXPECT_EQ(kErrorKeyDeleted, Machine().RegQueryInfoKey(key.Get(), &count));
  EXPECT_EQ(kErrorSuccess, Machine().RegCloseKey(key.Release()));
}

TEST_P(FamilyContract, EnumeratesFromTheHighestIndexWhileDeleting) {
  const std::vector<std::string> instances = {"0000", "0001", "0002", "ROOT", "z_last"};
  for (const std::string& name : instances) Env().CreateKey(Key("Branch\\" + name + "\\Sub"));
  RegKey branch(Machine());
  ASSERT_EQ(kErrorSuccess,
            Machine().RegOpenKey(kLocalMachine, Key("Branch").c_str(), branch.Receive()));
  std::uint32_t count = 0;
  ASSERT_EQ(kErrorSuccess, Machine().RegQueryInfoKey(branch.Get(), &count));
  ASSERT_EQ(instances.size(), count);

  std::vector<std::string> visited;
  for (std::uint32_t i = count; i-- > 0;) {
    long result = -1;
    const std::string name = EnumName(branch.Get(), i, &result);
    ASSERT_EQ(kErrorSuccess, result) << "index " << i;
    visited.push_back(name);
    EXPECT_EQ(kErrorSuccess, Machine().RegDeleteKey(kLocalMachine, Key("Branch\\" + name).c_str()));
  }
  EXPECT_EQ(std::vector<std::string>(instances.rbegin(), instances.rend()), visited);
  ASSERT_EQ(kErrorSuccess, Machine().RegQueryInfoKey(branch.Get(), &count));
  EXPECT_EQ(0u, count);
}

INSTANTIATE_TEST_SUITE_P(Families, FamilyContract, ::testing::ValuesIn(ContractFamilies()),
                         [](const auto& info) { return FamilyName(info.param); });

enum class KeyErrorCall { kOpen, kOpenEx, kDelete, kQueryStaleHandle, kCloseStaleHandle };

struct KeyErrorCase {
  const char* label;
  KeyErrorCall call;
  std::string path;  // below the scratch key, or with its own leading backslash
  long windows98;
  long nt;
  const char* wineDiffers = nullptr;  // why the case is skipped under Wine
};

class KeyErrorContract : public PlatformContract,
                         public ::testing::WithParamInterface<std::tuple<Family, KeyErrorCase>> {
 protected:
  Family FamilyUnderTest() const override { return std::get<0>(GetParam()); }

  long Call(const KeyErrorCase& c) {
    const std::string path = c.path[0] == '\\' ? c.path : Key(c.path);
    RegKey key(Machine());
    switch (c.call) {
      case KeyErrorCall::kOpen:
        return Machine().RegOpenKey(kLocalMachine, path.c_str(), key.Receive());
      case KeyErrorCall::kOpenEx:
        return Machine().RegOpenKeyEx(kLocalMachine, path.c_str(), kKeyQueryValue, key.Receive());
      case KeyErrorCall::kDelete:
        return Machine().RegDeleteKey(kLocalMachine, path.c_str());
      case KeyErrorCall::kQueryStaleHandle:
      case KeyErrorCall::kCloseStaleHandle:
        break;
    }
    RegHandle stale = 0;
    if (Machine().RegOpenKey(kLocalMachine, kScratchKey, &stale) != kErrorSuccess ||
        Machine().RegCloseKey(stale) != kErrorSuccess) {
      return -1;
    }
    std::uint32_t count = 0;
    return c.call == KeyErrorCall::kCloseStaleHandle ? Machine().RegCloseKey(stale)
                                                     : Machine().RegQueryInfoKey(stale, &count);
  }
};

// Windows 98 answers a handle it does not know with ERROR_BADKEY and a
// leading backslash with a missing key (Wine's registry tests, test_reg_close_key
// and the "Win9x,ME" branch of test_reg_open_key); NT refuses a key name of
// more than 255 characters ("Registry Element Size Limits").
TEST_P(KeyErrorContract, AnswersAsTheFamilyDoes) {
  const KeyErrorCase& c = std::get<1>(GetParam());
  if (c.wineDiffers && Env().UnderWine()) GTEST_SKIP() << c.wineDiffers;
  EXPECT_EQ(FamilyUnderTest() == Family::k9x ? c.windows98 : c.nt, Call(c));
}

INSTANTIATE_TEST_SUITE_P(
    Errors, KeyErrorContract,
    ::testing::Combine(
        ::testing::ValuesIn(ContractFamilies()),
        ::testing::Values(
            KeyErrorCase{"StaleHandle", KeyErrorCall::kQueryStaleHandle, "", 1010,
                         kErrorInvalidHandle},
            KeyErrorCase{"ClosedTwice", KeyErrorCall::kCloseStaleHandle, "", 1010,
                         kErrorInvalidHandle},
            KeyErrorCase{"LeadingBackslash", KeyErrorCall::kOpen, "\\Software", kErrorFileNotFound,
                         161},
            KeyErrorCase{"LeadingBackslashEx", KeyErrorCall::kOpenEx, "\\Software",
                         kErrorFileNotFound, 161},
            KeyErrorCase{"NameOf255Characters", KeyErrorCall::kOpenEx, std::string(255, 'k'),
                         kErrorFileNotFound, kErrorFileNotFound},
            KeyErrorCase{"NameOf256Characters", KeyErrorCall::kOpenEx, std::string(256, 'k'),
                         kErrorFileNotFound, kErrorInvalidParameter,
                         "Wine holds key names of 256 characters"},
            KeyErrorCase{"LongNameOnThePath", KeyErrorCall::kOpen, std::string(300, 'k') + "\\Sub",
                         kErrorFileNotFound, kErrorInvalidParameter},
            KeyErrorCase{"LongNameDeleted", KeyErrorCall::kDelete, std::string(300, 'k'),
                         kErrorFileNotFound, kErrorInvalidParameter})),
    [](const ::testing::TestParamInfo<std::tuple<Family, KeyErrorCase>>& info) {
      return FamilyName(std::get<0>(info.param)) + std::get<1>(info.param).label;
    });

// System.

TEST_F(PlatformContract, ATooSmallBufferGetsTheSizeOfTheWindowsDirectory) {
  char buffer[260];
  const std::uint32_t length = Machine().GetWindowsDirectory(buffer, sizeof buffer);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, sizeof buffer);
  EXPECT_EQ(std::string(buffer).size(), length);
  // One byte short: the terminator does not fit.
  std::string small(length, kSentinelByte);
  EXPECT_EQ(length + 1, Machine().GetWindowsDirectory(&small[0], length));
  EXPECT_EQ(std::string(length, kSentinelByte), small);
}

struct LoadCase {
  std::uint32_t id;
  int size;
  const char* text;
};

class LoadStringContract : public PlatformContract,
                           public ::testing::WithParamInterface<LoadCase> {};

// The program's English texts, cut to the buffer and always terminated.
TEST_P(LoadStringContract, LoadsTheCatalogueText) {
  const LoadCase& c = GetParam();
  std::string buffer(static_cast<std::size_t>(c.size) + 1, kSentinelByte);
  const int length = Machine().LoadString(c.id, &buffer[0], c.size);
  EXPECT_STREQ(c.text, buffer.c_str());
  EXPECT_EQ(static_cast<int>(std::string(c.text).size()), length);
  EXPECT_EQ(kSentinelByte, buffer[static_cast<std::size_t>(c.size)]) << "wrote past the buffer";
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, LoadStringContract,
    ::testing::Values(LoadCase{51, 512, "Corrindo Driver for Windows"},
                      LoadCase{65, 512,
                               "Windows isn't installed correctly\nPlease install Windows "
                               "correctly, \then try again."},
                      LoadCase{51, 8, "Corrind"}, LoadCase{51, 1, ""}, LoadCase{0, 512, ""},
                      LoadCase{30, 512, ""}, LoadCase{40, 512, ""}, LoadCase{78, 512, ""}));

// Files.

TEST_F(PlatformContract, NoSharingOpenFailsWhileAnotherHandleIsOpen) {
  const std::string path = File("shared.bin");
  Env().WriteFile(path, {1, 2, 3}, FileTime{kTime1999});
  OpenedFile first(Machine(),
                   Machine().CreateFile(path.c_str(), kGenericRead, kFileShareRead, false));
  ASSERT_NE(kInvalidFile, first.Get());
  EXPECT_EQ(kInvalidFile, Machine().CreateFile(path.c_str(), kGenericRead, 0, true));
  EXPECT_FALSE(Machine().DeleteFile(path.c_str()));
  ASSERT_TRUE(Machine().CloseHandle(first.Release()));

  OpenedFile exclusive(Machine(), Machine().CreateFile(path.c_str(), kGenericRead, 0, true));
  ASSERT_NE(kInvalidFile, exclusive.Get());
  EXPECT_EQ(kInvalidFile, Machine().CreateFile(path.c_str(), kGenericRead, kFileShareRead, false));
}

TEST_F(PlatformContract, FileInUseByAnotherProgramCannotBeOpenedAloneNorDeleted) {
  const std::string path = File("inuse.sys");
  Env().WriteFile(path, {1}, FileTime{kTime1999});
  {
    const std::unique_ptr<FileHold> hold = Env().HoldOpen(path);
    EXPECT_EQ(kInvalidFile, Machine().CreateFile(path.c_str(), kGenericRead, 0, true));
    EXPECT_FALSE(Machine().DeleteFile(path.c_str()));
    EXPECT_TRUE(Env().FileExists(path));
  }
  OpenedFile file(Machine(), Machine().CreateFile(path.c_str(), kGenericRead, 0, true));
  EXPECT_NE(kInvalidFile, file.Get());
  file.Reset();
  EXPECT_TRUE(Machine().DeleteFile(path.c_str()));
  EXPECT_FALSE(Env().FileExists(path));
}

TEST_F(PlatformContract, MissingFilesAndDirectoriesAreNotOpened) {
  const std::string missing = File("missing.inf");
  const std::string directory = File("folder");
  Env().WriteFile(directory + "\\inside.txt", {1}, FileTime{kTime1999});
  for (const std::string& path : {missing, directory}) {
    EXPECT_EQ(kInvalidFile, Machine().CreateFile(path.c_str(), kGenericRead, 0, true)) << path;
    EXPECT_FALSE(Machine().DeleteFile(path.c_str())) << path;
  }
  FindData data;
  EXPECT_FALSE(Machine().FindFile(missing.c_str(), &data));
  EXPECT_EQ(kInvalidFileAttributes, Machine().GetFileAttributes(missing.c_str()));
  EXPECT_FALSE(Machine().SetFileAttributes(missing.c_str(), 0));
  EXPECT_EQ(0u, Machine().GetFileVersionInfoSize(missing.c_str()));
  EXPECT_TRUE(Machine().FindFile(directory.c_str(), &data));
  EXPECT_NE(0u, data.attributes & kFileAttributeDirectory);
}

class AttributeContract : public PlatformContract,
                          public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(AttributeContract, AttributesAreReportedAndCleared) {
  const std::uint32_t attributes = GetParam();
  constexpr std::uint32_t kKept =
      kFileAttributeReadOnly | kFileAttributeHidden | kFileAttributeSystem;
  const std::string path = File("attributes.sys");
  Env().WriteFile(path, {1, 2}, FileTime{kTime1999});

  Env().SetAttributes(path, attributes);
  EXPECT_EQ(attributes, Machine().GetFileAttributes(path.c_str()) & kKept);
  FindData data;
  ASSERT_TRUE(Machine().FindFile(path.c_str(), &data));
  EXPECT_EQ(attributes, data.attributes & kKept);

  ASSERT_TRUE(Machine().SetFileAttributes(path.c_str(), 0));
  EXPECT_EQ(0u, Machine().GetFileAttributes(path.c_str()) & kKept);
  EXPECT_EQ(0u, Env().Attributes(path) & kKept);

  ASSERT_TRUE(Machine().SetFileAttributes(path.c_str(), attributes));
  EXPECT_EQ(attributes, Env().Attributes(path) & kKept);
  ASSERT_TRUE(Machine().SetFileAttributes(path.c_str(), 0));
  EXPECT_TRUE(Machine().DeleteFile(path.c_str()));
}

INSTANTIATE_TEST_SUITE_P(Bits, AttributeContract,
                         ::testing::Values(kFileAttributeReadOnly, kFileAttributeHidden,
                                           kFileAttributeSystem,
                                           kFileAttributeReadOnly | kFileAttributeHidden |
                                               kFileAttributeSystem));

struct AttributeAnswerCase {
  const char* label;
  std::uint32_t set;
  std::uint32_t windows98;
  std::uint32_t nt;
  bool wineDiffers;
};

class AttributeAnswerContract
    : public PlatformContract,
      public ::testing::WithParamInterface<std::tuple<Family, AttributeAnswerCase>> {
 protected:
  Family FamilyUnderTest() const override { return std::get<0>(GetParam()); }
};

// NT names a file with no attribute at all "normal" (GetFileAttributes
// docs); the 9x family hands back the attribute byte of the directory entry.
TEST_P(AttributeAnswerContract, AnswersTheFilesAttributes) {
  const AttributeAnswerCase& c = std::get<1>(GetParam());
  if (c.wineDiffers && Env().UnderWine()) GTEST_SKIP() << "Wine reports every file archived";
  const std::string path = File("plain.inf");
  Env().WriteFile(path, {1}, FileTime{kTime1999});
  ASSERT_TRUE(Machine().SetFileAttributes(path.c_str(), c.set));
  const std::uint32_t expected = FamilyUnderTest() == Family::k9x ? c.windows98 : c.nt;
  EXPECT_EQ(expected, Machine().GetFileAttributes(path.c_str()));
  FindData data;
  ASSERT_TRUE(Machine().FindFile(path.c_str(), &data));
  EXPECT_EQ(expected, data.attributes);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AttributeAnswerContract,
    ::testing::Combine(
        ::testing::ValuesIn(ContractFamilies()),
        ::testing::Values(
            AttributeAnswerCase{"None", 0, 0, kFileAttributeNormal, true},
            AttributeAnswerCase{"Normal", kFileAttributeNormal, 0, kFileAttributeNormal, true},
            AttributeAnswerCase{"Hidden", kFileAttributeHidden, kFileAttributeHidden,
                                kFileAttributeHidden, true},
            AttributeAnswerCase{"Archive", kFileAttributeArchive, kFileAttributeArchive,
                                kFileAttributeArchive, false},
            AttributeAnswerCase{"HiddenArchive", kFileAttributeHidden | kFileAttributeArchive,
                                kFileAttributeHidden | kFileAttributeArchive,
                                kFileAttributeHidden | kFileAttributeArchive, false})),
    [](const ::testing::TestParamInfo<std::tuple<Family, AttributeAnswerCase>>& info) {
      return FamilyName(std::get<0>(info.param)) + std::get<1>(info.param).label;
    });

TEST_F(PlatformContract, ReadOnlyFileCannotBeOpenedForWriting) {
  if (Env().UnderWine()) GTEST_SKIP() << "Wine run as root opens a read-only file for writing";
  const std::string path = File("readonly.sys");
  Env().WriteFile(path, {1}, FileTime{kTime1999});
  Env().SetAttributes(path, kFileAttributeReadOnly);
  EXPECT_EQ(kInvalidFile, Machine().CreateFile(path.c_str(), kReadWrite, kFileShareRead, false));
}

TEST_F(PlatformContract, ReadOnlyFileRefusesDeletionUntilCleared) {
  const std::string path = File("readonly.inf");
  Env().WriteFile(path, {1}, FileTime{kTime1999});
  Env().SetAttributes(path, kFileAttributeReadOnly);
  EXPECT_FALSE(Machine().DeleteFile(path.c_str()));
  EXPECT_TRUE(Env().FileExists(path));
  OpenedFile reader(Machine(), Machine().CreateFile(path.c_str(), kGenericRead, 0, true));
  EXPECT_NE(kInvalidFile, reader.Get());
  reader.Reset();

  ASSERT_TRUE(Machine().SetFileAttributes(path.c_str(), 0));
  OpenedFile writer(Machine(),
                    Machine().CreateFile(path.c_str(), kReadWrite, kFileShareRead, false));
  EXPECT_NE(kInvalidFile, writer.Get());
  writer.Reset();
  EXPECT_TRUE(Machine().DeleteFile(path.c_str()));
  EXPECT_FALSE(Env().FileExists(path));
}

TEST_F(PlatformContract, FileTimesAndSizeRoundTrip) {
  const std::string path = File("times.vxd");
  Env().WriteFile(path, std::vector<std::uint8_t>(1536, 0x5A), FileTime{kTime1999});
  {
    OpenedFile file(Machine(), Machine().CreateFile(path.c_str(), kGenericRead, 0, true));
    ASSERT_NE(kInvalidFile, file.Get());
    FileTime lastWrite;
    ASSERT_TRUE(Machine().GetFileTime(file.Get(), nullptr, nullptr, &lastWrite));
    EXPECT_EQ(kTime1999, lastWrite.ticks);
    EXPECT_EQ(1536u, Machine().GetFileSize(file.Get()));
  }
  FindData data;
  ASSERT_TRUE(Machine().FindFile(path.c_str(), &data));
  EXPECT_EQ(1536u, data.size);
  EXPECT_EQ(kTime1999, data.lastWriteTime.ticks);

  OpenedFile writer(Machine(),
                    Machine().CreateFile(path.c_str(), kReadWrite, kFileShareRead, false));
  ASSERT_NE(kInvalidFile, writer.Get());
  const FileTime access{kTime2000};
  const FileTime write{kTime2000 + 20000000};
  ASSERT_TRUE(Machine().SetFileTime(writer.Get(), nullptr, &access, &write));
  ASSERT_TRUE(Machine().SetFileTime(writer.Get(), nullptr, nullptr, nullptr));
  FileTime readAccess;
  FileTime readWrite;
  ASSERT_TRUE(Machine().GetFileTime(writer.Get(), nullptr, &readAccess, &readWrite));
  EXPECT_EQ(access.ticks, readAccess.ticks);
  EXPECT_EQ(write.ticks, readWrite.ticks);
  writer.Reset();
  ASSERT_TRUE(Machine().FindFile(path.c_str(), &data));
  EXPECT_EQ(write.ticks, data.lastWriteTime.ticks);
}

TEST_F(PlatformContract, PathsIgnoreLetterCase) {
  Env().WriteFile(File("Drivers\\MixedCase.Sys"), {7, 7}, FileTime{kTime1999});
  const std::string other = File("DRIVERS\\mixedcase.SYS");
  OpenedFile file(Machine(), Machine().CreateFile(other.c_str(), kGenericRead, 0, true));
  EXPECT_NE(kInvalidFile, file.Get());
  file.Reset();
  FindData data;
  EXPECT_TRUE(Machine().FindFile(other.c_str(), &data));
  EXPECT_EQ(2u, data.size);
  EXPECT_NE(kInvalidFileAttributes, Machine().GetFileAttributes(other.c_str()));
  // Trailing periods and blanks of the last name are dropped; letters
  // beyond ASCII fold too (à and À, code page 1252).
  const std::string dotted = File("Drivers\\MixedCase.Sys. .");
  EXPECT_NE(kInvalidFileAttributes, Machine().GetFileAttributes(dotted.c_str()));
  Env().WriteFile(File("Drivers\\\xC0.Inf"), {1}, FileTime{kTime1999});
  EXPECT_NE(kInvalidFileAttributes, Machine().GetFileAttributes(File("drivers\\\xE0.inf").c_str()));
  EXPECT_TRUE(Machine().DeleteFile(dotted.c_str()));
  EXPECT_FALSE(Env().FileExists(File("Drivers\\MixedCase.Sys")));
}

struct ShortNameCase {
  const char* label;
  std::vector<std::string> files;  // written in this order
  const char* asked;
  int named;  // the index of the file that `asked` names; -1: none
  bool deleteFirst = false;
};

class ShortNameContract : public PlatformContract,
                          public ::testing::WithParamInterface<std::tuple<Family, ShortNameCase>> {
 protected:
  Family FamilyUnderTest() const override { return std::get<0>(GetParam()); }
};

// A long name has an 8.3 short name that names the file in every call: the
// first six characters that a short name can hold, "~1" for the first long
// name of its kind in a folder, "~2" for the next ("Naming Files, Paths, and
// Namespaces"), kept when the others go.
TEST_P(ShortNameContract, NamesTheLongFile) {
  if (Env().UnderWine()) GTEST_SKIP() << "Wine makes other short names than Windows";
  const ShortNameCase& c = std::get<1>(GetParam());
  for (const std::string& name : c.files) Env().WriteFile(File(name), {1}, FileTime{kTime1999});
  if (c.deleteFirst) {
    ASSERT_TRUE(Machine().DeleteFile(File(c.files[0]).c_str()));
  }
  const std::string asked = File(c.asked);
  if (c.named < 0) {
    EXPECT_EQ(kInvalidFileAttributes, Machine().GetFileAttributes(asked.c_str()));
    return;
  }
  FindData data;
  EXPECT_TRUE(Machine().FindFile(asked.c_str(), &data));
  ASSERT_TRUE(Machine().SetFileAttributes(asked.c_str(), kFileAttributeHidden));
  EXPECT_EQ(kFileAttributeHidden, Env().Attributes(File(c.files[c.named])) & kFileAttributeHidden);
  OpenedFile file(Machine(), Machine().CreateFile(asked.c_str(), kGenericRead, 0, true));
  EXPECT_NE(kInvalidFile, file.Get());
  file.Reset();
  EXPECT_TRUE(Machine().DeleteFile(asked.c_str()));
  EXPECT_FALSE(Env().FileExists(File(c.files[c.named])));
}

INSTANTIATE_TEST_SUITE_P(
    Names, ShortNameContract,
    ::testing::Combine(
        ::testing::ValuesIn(ContractFamilies()),
        ::testing::Values(
            ShortNameCase{"FirstIsOne", {"KELMORINUSBFD.INF"}, "KELMOR~1.INF", 0},
            ShortNameCase{"LetterCaseAside", {"KelmorinUsbFd.inf"}, "kelmor~1.inf", 0},
            ShortNameCase{"NextIsTwo", {"KelmorinA.inf", "KelmorinB.inf"}, "KELMOR~2.INF", 1},
            ShortNameCase{"KeptWhenTheFirstGoes",
                          {"KelmorinA.inf", "KelmorinB.inf"},
                          "KELMOR~2.INF",
                          1,
                          true},
            ShortNameCase{
                "GoneWithItsFile", {"KelmorinA.inf", "KelmorinB.inf"}, "KELMOR~1.INF", -1, true},
            ShortNameCase{"BlanksDropped", {"Usb Fd Driver.sys"}, "USBFDD~1.SYS", 0},
            ShortNameCase{"OddCharactersMadeUnderscores", {"a+b=c[d].vxd"}, "A_B_C_~1.VXD", 0},
            ShortNameCase{"ExtensionCut", {"usbfd.inf1234"}, "USBFD~1.INF", 0},
            ShortNameCase{"PeriodsButTheLastDropped", {"kmn.usb.fd.inf"}, "KMNUSB~1.INF", 0},
            ShortNameCase{"NoneForAShortName", {"OEM1.INF"}, "OEM1~1.INF", -1},
            ShortNameCase{
                "FolderShortName", {"Program Files\\usbfd.sys"}, "PROGRA~1\\USBFD.SYS", 0})),
    [](const ::testing::TestParamInfo<std::tuple<Family, ShortNameCase>>& info) {
      return FamilyName(std::get<0>(info.param)) + std::get<1>(info.param).label;
    });

// Version information.

struct VersionCase {
  const char* label;
  testsupport::PeImageRecipe recipe;
};

class VersionContract : public PlatformContract,
                        public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionContract, ReadsTheFixedVersionOfAVersionedFile) {
  const testsupport::PeImageRecipe& recipe = GetParam().recipe;
  const std::string path = File("versioned.sys");
  Env().WriteFile(path, testsupport::BuildPeImage(recipe), FileTime{kTime1999});
  const std::uint32_t size = Machine().GetFileVersionInfoSize(path.c_str());
  ASSERT_GT(size, 0u);
  std::vector<std::uint32_t> block((size + 3) / 4);
  ASSERT_TRUE(Machine().GetFileVersionInfo(path.c_str(), size, block.data()));
  FixedFileInfo info;
  ASSERT_TRUE(Machine().QueryFixedFileInfo(block.data(), &info));
  EXPECT_EQ(0xFEEF04BDu, info.signature);
  EXPECT_EQ(recipe.fileVersion.HighWord(), info.fileVersionMS);
  EXPECT_EQ(recipe.fileVersion.LowWord(), info.fileVersionLS);
  EXPECT_EQ(recipe.productVersion.HighWord(), info.productVersionMS);
  EXPECT_EQ(recipe.productVersion.LowWord(), info.productVersionLS);
}

testsupport::PeImageRecipe Recipe(testsupport::VersionQuad file, testsupport::VersionQuad product,
                                  bool pe32Plus) {
  testsupport::PeImageRecipe recipe;
  recipe.fileVersion = file;
  recipe.productVersion = product;
  recipe.pe32Plus = pe32Plus;
  return recipe;
}

INSTANTIATE_TEST_SUITE_P(
    Files, VersionContract,
    ::testing::Values(VersionCase{"Pe32", Recipe({{1, 2, 3, 4}}, {{5, 6, 7, 8}}, false)},
                      VersionCase{"Pe32Plus", Recipe({{1, 2, 3, 4}}, {{5, 6, 7, 8}}, true)},
                      VersionCase{"Extremes",
                                  Recipe({{65535, 0, 65535, 1}}, {{0, 0, 0, 0}}, false)}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return info.param.label; });

TEST_F(PlatformContract, FilesWithoutVersionResourceHaveNoVersion) {
  testsupport::PeImageRecipe stringsOnly;
  stringsOnly.resourceType = testsupport::kResourceTypeString;
  Env().WriteFile(File("strings.dll"), testsupport::BuildPeImage(stringsOnly), FileTime{kTime1999});
  Env().WriteFile(File("driver.inf"), StringData("[Version]\r\nSignature=$CHICAGO$\r\n"),
                  FileTime{kTime1999});
  EXPECT_EQ(0u, Machine().GetFileVersionInfoSize(File("strings.dll").c_str()));
  EXPECT_EQ(0u, Machine().GetFileVersionInfoSize(File("driver.inf").c_str()));
}

// 16-bit (NE) images carry versions on both families; VxDs (LE images) on
// the 9x family only, as NT does not read them.
enum class OldImage { kNe, kLe };

class OldImageVersionContract : public PlatformContract,
                                public ::testing::WithParamInterface<std::tuple<Family, OldImage>> {
 protected:
  Family FamilyUnderTest() const override { return std::get<0>(GetParam()); }
};

TEST_P(OldImageVersionContract, ReadsWhatTheFamilyReads) {
  const bool vxd = std::get<1>(GetParam()) == OldImage::kLe;
  const testsupport::VersionQuad file{{4, 10, 0, 2222}};
  const testsupport::VersionQuad product{{4, 10, 0, 1998}};
  const std::string path = File(vxd ? "driver.vxd" : "driver.drv");
  Env().WriteFile(
      path,
      vxd ? testsupport::BuildLeImage(file, product) : testsupport::BuildNeImage(file, product),
      FileTime{kTime1999});
  const std::uint32_t size = Machine().GetFileVersionInfoSize(path.c_str());
  if (vxd && FamilyUnderTest() == Family::kNt) {
    EXPECT_EQ(0u, size);
    std::vector<std::uint32_t> block(32, 0x55555555u);
    EXPECT_FALSE(
        Machine().GetFileVersionInfo(path.c_str(), sizeof(std::uint32_t) * 32, block.data()));
    return;
  }
  ASSERT_GT(size, 0u);
  std::vector<std::uint32_t> block((size + 3) / 4);
  ASSERT_TRUE(Machine().GetFileVersionInfo(path.c_str(), size, block.data()));
  FixedFileInfo info;
  ASSERT_TRUE(Machine().QueryFixedFileInfo(block.data(), &info));
  EXPECT_EQ(file.HighWord(), info.fileVersionMS);
  EXPECT_EQ(file.LowWord(), info.fileVersionLS);
  EXPECT_EQ(product.LowWord(), info.productVersionLS);
}

INSTANTIATE_TEST_SUITE_P(Families, OldImageVersionContract,
                         ::testing::Combine(::testing::ValuesIn(ContractFamilies()),
                                            ::testing::Values(OldImage::kNe, OldImage::kLe)),
                         [](const ::testing::TestParamInfo<std::tuple<Family, OldImage>>& info) {
                           return FamilyName(std::get<0>(info.param)) +
                                  (std::get<1>(info.param) == OldImage::kLe ? "Vxd" : "Ne");
                         });

// Time conversions.

struct CalendarCase {
  std::uint64_t ticks;
  SystemTime fields;
};

class CalendarContract : public PlatformContract,
                         public ::testing::WithParamInterface<CalendarCase> {};

TEST_P(CalendarContract, ConvertsBothWays) {
  const CalendarCase& c = GetParam();
  SystemTime fields;
  ASSERT_TRUE(Machine().FileTimeToSystemTime(FileTime{c.ticks}, &fields));
  EXPECT_EQ(c.fields.year, fields.year);
  EXPECT_EQ(c.fields.month, fields.month);
  EXPECT_EQ(c.fields.dayOfWeek, fields.dayOfWeek);
  EXPECT_EQ(c.fields.day, fields.day);
  EXPECT_EQ(c.fields.hour, fields.hour);
  EXPECT_EQ(c.fields.minute, fields.minute);
  EXPECT_EQ(c.fields.second, fields.second);
  EXPECT_EQ(c.fields.milliseconds, fields.milliseconds);
  FileTime time;
  ASSERT_TRUE(Machine().SystemTimeToFileTime(c.fields, &time));
  EXPECT_EQ(c.ticks, time.ticks);

  FileTime local;
  FileTime back;
  ASSERT_TRUE(Machine().FileTimeToLocalFileTime(time, &local));
  ASSERT_TRUE(Machine().LocalFileTimeToFileTime(local, &back));
  EXPECT_EQ(c.ticks, back.ticks);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, CalendarContract,
    ::testing::Values(CalendarCase{116444736000000000ULL, {1970, 1, 4, 1, 0, 0, 0, 0}},
                      CalendarCase{kTime1999, {1999, 3, 3, 3, 0, 0, 0, 0}},
                      CalendarCase{125963012967890000ULL, {2000, 2, 2, 29, 12, 34, 56, 789}},
                      CalendarCase{137919572470000000ULL, {2038, 1, 2, 19, 3, 14, 7, 0}},
                      CalendarCase{2650467743999990000ULL, {9999, 12, 5, 31, 23, 59, 59, 999}}));

struct TimeZoneCase {
  const char* label;
  const char* zone;
  std::uint64_t now;
  int localMinusUtc;  // minutes, for every date converted
};

class TimeZoneContract : public PlatformContract,
                         public ::testing::WithParamInterface<TimeZoneCase> {};

// Windows converts a time with the bias in force now, whatever the time's
// own date (FileTimeToLocalFileTime docs): a summer file seen in winter is
// an hour off its own local time. The Windows layer keeps the zone and clock
// of its machine, where winter and summer times still shift alike.
TEST_P(TimeZoneContract, TakesTheBiasInForceNow) {
  const TimeZoneCase& c = GetParam();
  const bool clockSet = Env().UseTimeZone(c.zone, FileTime{c.now});
  constexpr std::uint64_t kTicksPerMinute = 60 * kFileTimeTicksPerSecond;
  std::vector<std::int64_t> shifts;
  for (const std::uint64_t utc : {kTime1999, kSummer1999}) {
    FileTime local;
    FileTime back;
    ASSERT_TRUE(Machine().FileTimeToLocalFileTime(FileTime{utc}, &local));
    ASSERT_TRUE(Machine().LocalFileTimeToFileTime(local, &back));
    EXPECT_EQ(utc, back.ticks);
    shifts.push_back((static_cast<std::int64_t>(local.ticks) - static_cast<std::int64_t>(utc)) /
                     static_cast<std::int64_t>(kTicksPerMinute));
  }
  EXPECT_EQ(shifts[0], shifts[1]);
  if (clockSet) {
    EXPECT_EQ(c.localMinusUtc, shifts[0]);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Zones, TimeZoneContract,
    ::testing::Values(
        TimeZoneCase{"BerlinInWinter", "Europe/Berlin", kJanuary2026, 60},
        TimeZoneCase{"BerlinInSummer", "Europe/Berlin", kJuly2026, 120},
        // 2026-03-29 01:00 UTC: the clocks go from 02:00 to 03:00.
        TimeZoneCase{"BerlinJustBeforeTheChange", "Europe/Berlin", kBerlinChange2026 - 1, 60},
        TimeZoneCase{"BerlinAtTheChange", "Europe/Berlin", kBerlinChange2026, 120},
        TimeZoneCase{"RuleGivenInWinter", "CET-1CEST,M3.5.0,M10.5.0/3", kJanuary2026, 60},
        TimeZoneCase{"SouthInJanuary", "AEST-10AEDT,M10.1.0,M4.1.0/3", kJanuary2026, 660},
        TimeZoneCase{"SouthInJuly", "AEST-10AEDT,M10.1.0,M4.1.0/3", kJuly2026, 600},
        TimeZoneCase{"NoChange", "Asia/Tokyo", kJuly2026, 540},
        TimeZoneCase{"WestOfGreenwich", "EST5EDT,M3.2.0,M11.1.0", kJuly2026, -240}),
    [](const ::testing::TestParamInfo<TimeZoneCase>& info) { return info.param.label; });

TEST_F(PlatformContract, RefusesTheLeapDayOfACommonYear) {
  if (Env().UnderWine()) GTEST_SKIP() << "Wine accepts 29 February of a common year";
  FileTime time{12345};
  EXPECT_FALSE(Machine().SystemTimeToFileTime(SystemTime{1999, 2, 0, 29, 0, 0, 0, 0}, &time));
}

TEST_F(PlatformContract, RefusesCalendarFieldsThatNameNoTime) {
  const SystemTime invalid[] = {
      {1999, 0, 0, 1, 0, 0, 0, 0},      {1999, 13, 0, 1, 0, 0, 0, 0},
      {1999, 1, 0, 0, 0, 0, 0, 0},      {1999, 4, 0, 31, 0, 0, 0, 0},
      {1999, 1, 0, 1, 24, 0, 0, 0},     {1999, 1, 0, 1, 0, 60, 0, 0},
      {1999, 1, 0, 1, 0, 0, 60, 0},     {1999, 1, 0, 1, 0, 0, 0, 1000},
      {1600, 12, 0, 31, 23, 59, 59, 0},
  };
  for (const SystemTime& fields : invalid) {
    FileTime time{12345};
    EXPECT_FALSE(Machine().SystemTimeToFileTime(fields, &time))
        << fields.year << "-" << fields.month << "-" << fields.day << " " << fields.hour << ":"
        << fields.minute << ":" << fields.second << "." << fields.milliseconds;
  }
  SystemTime leapDay{2000, 2, 0, 29, 0, 0, 0, 0};
  FileTime time;
  EXPECT_TRUE(Machine().SystemTimeToFileTime(leapDay, &time));
}

}  // namespace
}  // namespace uninst::contract
