// registry.reg reading and writing: both formats, every value kind, and the
// errors a hand-edited file can hold.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>

#include "platform/sim/CodePage.h"
#include "tests/tools/ToolTestFolders.h"
#include "tools/uninst-sim/regfile/RegFile.h"
#include "tools/uninst-sim/regfile/TextCodec.h"

namespace uninst::tool {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes StringData(const std::string& text) {
  Bytes data = BytesOf(text);
  data.push_back(0);
  return data;
}

constexpr std::uint32_t kJapanese = 932;

sim::RegValue Value(std::string name, std::uint32_t type, Bytes data) {
  return sim::RegValue{std::move(name), type, std::move(data)};
}

std::string Version5File(const std::string& utf8) { return "\xFF\xFE" + *Utf8ToUtf16Le(utf8); }

// Test keys are written in UTF-8; a Japanese machine holds them in code page
// 932. Text that is not UTF-8, or that the code page lacks, stays as it is.
std::string InJapanese(const std::string& text) {
  return sim::Utf8ToCodePage(kJapanese, text).value_or(text);
}

std::vector<RegKeyEntry> InJapanese(std::vector<RegKeyEntry> keys) {
  for (RegKeyEntry& key : keys) {
    key.path = InJapanese(key.path);
    for (sim::RegValue& value : key.values) {
      value.name = InJapanese(value.name);
      if (value.type != kRegSz || value.data.empty() || value.data.back() != 0) continue;
      value.data = StringData(InJapanese(std::string(value.data.begin(), value.data.end() - 1)));
    }
  }
  return keys;
}

// The keys in a registry of a Japanese machine of the 9x family, which keeps
// them in the order given.
sim::Registry RegistryOf(const std::vector<RegKeyEntry>& keys) {
  sim::Registry registry(sim::WindowsFamily::k9x, kJapanese);
  for (const RegKeyEntry& key : InJapanese(keys)) {
    registry.CreateKey(key.path);
    for (const sim::RegValue& value : key.values) {
      registry.SetValue(key.path, value.name, value.type, value.data);
    }
  }
  return registry;
}

// The keys a file of a Japanese machine leaves, in the order the file creates
// them.
std::vector<RegKeyEntry> ReadKeys(const std::string& bytes) {
  Outcome<RegDocument> document = ReadRegFile(bytes, kJapanese);
  EXPECT_TRUE(document.Ok()) << document.Error();
  sim::Registry inFileOrder(sim::WindowsFamily::k9x, kJapanese);
  if (document.Ok()) inFileOrder.TakeKeys(document.Value().registry);
  return SnapshotOf(inFileOrder);
}

struct ValueCase {
  const char* line;
  sim::RegValue expected;
};

class ValueKinds : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ValueKinds, ReadInBothFormats) {
  const std::string body =
      std::string("\r\n[HKEY_LOCAL_MACHINE\\K]\r\n") + GetParam().line + "\r\n";
  for (const std::string& file :
       {*sim::Utf8ToCodePage(kJapanese, std::string("REGEDIT4\r\n") + body),
        Version5File(std::string("Windows Registry Editor Version 5.00\r\n") + body)}) {
    const std::vector<RegKeyEntry> keys = ReadKeys(file);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_TRUE(keys[0] == InJapanese({{"K", {GetParam().expected}}})[0]) << GetParam().line;
  }
}

INSTANTIATE_TEST_SUITE_P(
    RegFile, ValueKinds,
    ::testing::Values(
        ValueCase{R"("s"="text")", Value("s", kRegSz, StringData("text"))},
        ValueCase{R"("empty"="")", Value("empty", kRegSz, {0})},
        ValueCase{R"(@="default")", Value("", kRegSz, StringData("default"))},
        ValueCase{R"("esc\"aped\\"="C:\\WIN \"98\"")",
                  Value("esc\"aped\\", kRegSz, StringData("C:\\WIN \"98\""))},
        ValueCase{"\"j\"=\"\xE6\x97\xA5\xE6\x9C\xAC\"", Value("j", kRegSz, StringData("日本"))},
        ValueCase{R"("d"=dword:0000002a)", Value("d", kRegDword, {0x2A, 0, 0, 0})},
        ValueCase{R"("d"=DWORD:FFFFFFFF)", Value("d", kRegDword, {0xFF, 0xFF, 0xFF, 0xFF})},
        ValueCase{R"("d"=dword:1)", Value("d", kRegDword, {1, 0, 0, 0})},
        ValueCase{R"("b"=hex:00,ff,7a)", Value("b", kRegBinary, {0x00, 0xFF, 0x7A})},
        ValueCase{R"("b"=hex:)", Value("b", kRegBinary, {})},
        ValueCase{R"("x"=hex(2):25,00)", Value("x", kRegExpandSz, {0x25, 0x00})},
        ValueCase{R"("m"=hex(7):41,00,00)", Value("m", kRegMultiSz, {0x41, 0, 0})},
        ValueCase{R"("n"=hex(0):)", Value("n", kRegNone, {})},
        ValueCase{R"("q"=hex(b):01,02,03,04,05,06,07,08)",
                  Value("q", 0xB, {1, 2, 3, 4, 5, 6, 7, 8})},
        ValueCase{R"("t"=hex(ffffffff):1)", Value("t", 0xFFFFFFFFu, {0x01})},
        ValueCase{"\"c\"=hex:01,02,\\\r\n  03,04,\\\r\n  05",
                  Value("c", kRegBinary, {1, 2, 3, 4, 5})},
        ValueCase{"\"w\" = hex: 01 , 02 ", Value("w", kRegBinary, {1, 2})}));

TEST(RegFile, AppliesDeletionsCommentsAndRepeatsInOrder) {
  const std::vector<RegKeyEntry> keys = ReadKeys(
      "REGEDIT4\n"
      "; a comment\n"
      "[HKEY_LOCAL_MACHINE\\A\\B\\C]\n"
      "  ; an indented comment\n"
      "\"v\"=\"1\"\n"
      "\"gone\"=\"x\"\n"
      "[hkey_local_machine\\a\\d]\n"
      "[HKEY_LOCAL_MACHINE\\A\\B]\n"
      "\"w\"=\"2\"\n"
      "[-HKEY_LOCAL_MACHINE\\A\\B\\C]\n"
      "[HKEY_LOCAL_MACHINE\\a\\b]\n"
      "\"W\"=\"3\"\n"
      "\"GONE\"=-\n"
      "[HKEY_LOCAL_MACHINE\\A\\B\\C\\E]\n");
  const std::vector<RegKeyEntry> expected = {
      {"A", {}},       {"A\\B", {Value("w", kRegSz, StringData("3"))}},
      {"A\\B\\C", {}}, {"A\\B\\C\\E", {}},
      {"A\\d", {}},
  };
  EXPECT_EQ(keys, expected);
}

// Past a handful of values a key's values are found by an index.
TEST(RegFile, AppliesRepeatsAndDeletionsToAKeyOfManyValues) {
  std::string file = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n";
  std::vector<sim::RegValue> expected;
  for (int k = 0; k < 20; ++k) {
    file += "\"v" + std::to_string(k) + "\"=\"1\"\n";
    if (k != 7)
      expected.push_back(Value("v" + std::to_string(k), kRegSz, StringData(k == 5 ? "2" : "1")));
  }
  file += "\"V5\"=\"2\"\n\"v7\"=-\n\"v20\"=-\n\"V7\"=\"3\"\n";
  expected.push_back(Value("V7", kRegSz, StringData("3")));
  EXPECT_EQ(ReadKeys(file), (std::vector<RegKeyEntry>{{"K", expected}}));
}

// REGEDIT4 text is in the machine's ANSI code page, which the registry keeps
// byte for byte, even where two byte sequences stand for one character;
// Unicode text needs characters the code page has.
TEST(RegFile, ReadsTextInTheAnsiCodePage) {
  struct Case {
    std::uint32_t codePage;
    std::string bytes;
    std::string path;  // in the code page; empty: refused
    const char* says;
    bool writtenAsRead = false;
  };
  const Case cases[] = {
      {1252, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K\xE9]", "K\xE9", ""},
      {932, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\\x88\x9F\\x]", "\x88\x9F\\x", ""},
      {932, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\\xA0]", "",
       "line 2: the byte 0xA0 is not text in code page 932"},
      {1252,
       Version5File("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\\xE8\xA1\xA8]"), "",
       "line 2: \"\xE8\xA1\xA8\" is no character of code page 1252"},
      {1252,
       Version5File("Windows Registry Editor Version 5.00\n; \xE8\xA1\xA8\n"
                    "[HKEY_CURRENT_USER\\\xE8\xA1\xA8]\n\"\xE8\xA1\xA8\"=hex:01,\\\n  02\n"
                    "[HKEY_LOCAL_MACHINE\\K]"),
       "K", ""},
      {1252,
       Version5File("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n"
                    "\"v\"=\"\xE8\xA1\xA8\""),
       "", "line 3: \"\xE8\xA1\xA8\" is no character of code page 1252"},
      {932,
       Version5File("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\\xEF\xBD\x9E]\n"
                    "[HKEY_LOCAL_MACHINE\\\xE3\x80\x9C]"),
       "", "line 3: \"\xE3\x80\x9C\" shares its code with another character in code page 932"},
      {932,
       "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A\xED\x40\xEE\xF9]\r\n\"\x95\x5C\"="
       "\"\x87\x90\\\\\"\r\n\r\n",
       "A\xED\x40\xEE\xF9", "", true},
      {932,
       "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A\x87\x90]\r\n\"v\"=\"1\"\r\n\r\n"
       "[HKEY_LOCAL_MACHINE\\A\x81\xE0]\r\n\"v\"=\"2\"\r\n\r\n",
       "A\x81\xE0", "", true},
  };
  for (const Case& c : cases) {
    Outcome<RegDocument> document = ReadRegFile(c.bytes, c.codePage);
    if (c.path.empty()) {
      ASSERT_FALSE(document.Ok()) << c.bytes;
      EXPECT_NE(document.Error().find(c.says), std::string::npos) << document.Error();
      continue;
    }
    ASSERT_TRUE(document.Ok()) << document.Error();
    EXPECT_EQ(SnapshotOf(document.Value().registry).back().path, c.path);
    if (c.writtenAsRead) {
      EXPECT_EQ(WriteRegFile(document.Value().registry, RegFormat::kRegedit4, RegEncoding::kBytes,
                             c.codePage)
                    .Value(),
                c.bytes);
    }
  }
}

struct MalformedCase {
  std::string text;
  int line;
  const char* says;
};

class Malformed : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(Malformed, NamesTheLine) {
  Outcome<RegDocument> document = ReadRegFile(GetParam().text);
  ASSERT_FALSE(document.Ok());
  EXPECT_EQ(document.Error().rfind("line " + std::to_string(GetParam().line) + ": ", 0), 0u)
      << document.Error();
  EXPECT_NE(document.Error().find(GetParam().says), std::string::npos) << document.Error();
}

const std::string kKey = "[HKEY_LOCAL_MACHINE\\K]\n";

std::string KeyLevelsDeep(int levels) {
  std::string line = "[HKEY_LOCAL_MACHINE";
  for (int i = 0; i < levels; ++i) line += "\\K";
  return line + "]\n";
}

TEST(RegFile, TakesKeysAsDeepAsTheRegistryAllows) {
  EXPECT_TRUE(ReadRegFile("REGEDIT4\n" + KeyLevelsDeep(512)).Ok());
}

INSTANTIATE_TEST_SUITE_P(
    RegFile, Malformed,
    ::testing::Values(
        MalformedCase{"", 1, "not a registry file"},
        MalformedCase{"REGEDIT5\n", 1, "not a registry file"},
        MalformedCase{"REGEDIT4\n[HKEY_CURRENT_USERS\\Software]\n", 2, "none of the root keys"},
        MalformedCase{"REGEDIT4\n[HKEY_LOCAL_MACHINEX\\A]\n", 2, "none of the root keys"},
        MalformedCase{"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\n", 2, "must end with ']'"},
        MalformedCase{"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 2, "empty name"},
        MalformedCase{"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\]\n", 2, "empty name"},
        MalformedCase{"REGEDIT4\n" + KeyLevelsDeep(513), 2, "deeper than 512 levels"},
        MalformedCase{"REGEDIT4\n[-HKEY_LOCAL_MACHINE]\n", 2, "cannot delete"},
        MalformedCase{"REGEDIT4\n[-HKEY_DYN_DATA]\n", 2, "cannot delete HKEY_DYN_DATA"},
        MalformedCase{"REGEDIT4\n\"v\"=\"x\"\n", 2, "must follow a key"},
        MalformedCase{"REGEDIT4\n[HKEY_LOCAL_MACHINE]\n\"v\"=\"x\"\n", 3, "no values of its own"},
        MalformedCase{"REGEDIT4\n[-HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"x\"\n", 3, "deleted key"},
        MalformedCase{"REGEDIT4\n" + kKey + "\"v\"=\"x\n", 3, "not closed"},
        MalformedCase{"REGEDIT4\n" + kKey + "\"v=\"x\"\n", 3, "expected '='"},
        MalformedCase{"REGEDIT4\n" + kKey + "\"v\"=\"a\\n\"\n", 3, "unknown escape"},
        MalformedCase{"REGEDIT4\n" + kKey + "\"v\"=\"x\" junk\n", 3, "after the value"},
        MalformedCase{"REGEDIT4\n" + kKey + "\"v\"=word:1\n", 3, "unknown value type"},
        MalformedCase{"REGEDIT4\n" + kKey + "\"v\"=dword:\n", 3, "dword"},
        MalformedCase{"REGEDIT4\n" + kKey + "\"v\"=dword:123456789\n", 3, "dword"},
        MalformedCase{"REGEDIT4\n" + kKey + "\"v\"=hex(2:00\n", 3, "hex(type):"},
        MalformedCase{"REGEDIT4\n" + kKey + "\"v\"=hex:0g\n", 3, "','"},
        MalformedCase{"REGEDIT4\n" + kKey + "\"v\"=hex:100\n", 3, "hex list"},
        MalformedCase{"REGEDIT4\n" + kKey + "\"v\"=hex:01,\n", 3, "ends with ','"},
        MalformedCase{"REGEDIT4\n" + kKey + "\"v\"=hex:01,\\\n  02,\\\n  zz\n", 5, "hex list"},
        MalformedCase{"REGEDIT4\n" + kKey + "\"v\"=hex:01,\\", 3, "past the end"},
        MalformedCase{"REGEDIT4\n" + kKey + "value=1\n", 3, "unexpected text"},
        MalformedCase{std::string("\xFF\xFEW\x00\n\x00\x00\xD8", 8), 2, "UTF-16LE"}));

// A registry of every kind of value, with names that need care.
std::vector<RegKeyEntry> TrickyKeys() {
  return {
      {"Enum", {}},
      {"Enum\\FLOP", {}},
      {"Enum\\FLOP\\KEY ]WITH[ BRACKETS",
       {Value("", kRegSz, StringData("default")), Value("@", kRegSz, StringData("at")),
        Value("q\"uo\\te", kRegSz, StringData("a\"b\\c"))}},
      {"Text",
       {Value("utf8", kRegSz, StringData("日本語")), Value("empty", kRegSz, {0}),
        Value("unterminated", kRegSz, BytesOf("abc")), Value("no data", kRegSz, {}),
        Value("inner zero", kRegSz, {'a', 0, 'b', 0}), Value("break", kRegSz, StringData("a\nb")),
        Value("latin1", kRegSz, {0xE9, 0}), Value("expand", kRegExpandSz, StringData("%x%"))}},
      // In code page 932 the second byte of 表 is a backslash, and those of
      // ア and ヂ are 'A' and 'a': two keys, neither split nor folded.
      {"表", {}},
      {"表\\ア", {Value("ア", kRegSz, StringData("1")), Value("ヂ", kRegSz, StringData("2"))}},
      {"表\\ヂ", {}},
      {"Numbers",
       {Value("d", kRegDword, {1, 2, 3, 4}), Value("short dword", kRegDword, {1, 2}),
        Value("bin", kRegBinary, Bytes(200, 0xAB)), Value("none", kRegNone, {}),
        Value("big type", 0x12345678, {9})}},
  };
}

TEST(RegFile, WritesRegedit4TheWayRegeditDoes) {
  const std::vector<RegKeyEntry> keys = {
      {"A\\B",
       {Value("", kRegSz, StringData("x\\y")), Value("d", kRegDword, {0x2A, 0, 0, 0}),
        Value("b", kRegBinary, {0xDE, 0xAD}), Value("m", kRegMultiSz, {0x41, 0, 0}),
        Value("u", kRegSz, BytesOf("no end"))}},
  };
  Outcome<std::string> text = WriteRegFile(RegistryOf(keys), RegFormat::kRegedit4);
  ASSERT_TRUE(text.Ok()) << text.Error();
  EXPECT_EQ(text.Value(),
            "REGEDIT4\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\A]\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\A\\B]\r\n"
            "@=\"x\\\\y\"\r\n"
            "\"d\"=dword:0000002a\r\n"
            "\"b\"=hex:de,ad\r\n"
            "\"m\"=hex(7):41,00,00\r\n"
            "\"u\"=hex(1):6e,6f,20,65,6e,64\r\n"
            "\r\n");
}

TEST(RegFile, WrapsLongHexListsWithContinuations) {
  Outcome<std::string> text = WriteRegFile(
      RegistryOf({{"K", {Value("bin", kRegBinary, Bytes(100, 0x11))}}}), RegFormat::kRegedit4);
  ASSERT_TRUE(text.Ok());
  std::size_t start = 0;
  int lines = 0;
  while (start < text.Value().size()) {
    const std::size_t end = text.Value().find("\r\n", start);
    EXPECT_LE(end - start, 80u);
    start = end + 2;
    ++lines;
  }
  EXPECT_GT(lines, 6);
  EXPECT_EQ(ReadKeys(text.Value()),
            (std::vector<RegKeyEntry>{{"K", {Value("bin", kRegBinary, Bytes(100, 0x11))}}}));
}

struct Layout {
  RegFormat format;
  RegEncoding encoding;
};

class RoundTrip : public ::testing::TestWithParam<Layout> {};

// Read, write and read again give the same keys, format and encoding.
TEST_P(RoundTrip, KeepsNamesTypesAndBytes) {
  const std::vector<RegKeyEntry> keys = TrickyKeys();
  Outcome<std::string> first =
      WriteRegFile(RegistryOf(keys), GetParam().format, GetParam().encoding, kJapanese);
  ASSERT_TRUE(first.Ok()) << first.Error();
  Outcome<RegDocument> read = ReadRegFile(first.Value(), kJapanese);
  ASSERT_TRUE(read.Ok()) << read.Error();
  EXPECT_EQ(read.Value().format, GetParam().format);
  EXPECT_EQ(read.Value().encoding, GetParam().encoding);
  sim::Registry inFileOrder(sim::WindowsFamily::k9x, kJapanese);
  inFileOrder.TakeKeys(read.Value().registry);
  EXPECT_EQ(SnapshotOf(inFileOrder), InJapanese(keys));
  Outcome<std::string> second =
      WriteRegFile(inFileOrder, read.Value().format, read.Value().encoding, kJapanese);
  ASSERT_TRUE(second.Ok());
  EXPECT_EQ(second.Value(), first.Value());
}

TEST_P(RoundTrip, KeepsRandomBinaryData) {
  std::mt19937 random(1234);
  std::vector<RegKeyEntry> keys;
  for (int k = 0; k < 30; ++k) {
    RegKeyEntry key{"Key" + std::to_string(k), {}};
    for (int v = 0; v < 5; ++v) {
      Bytes data(random() % 40);
      for (std::uint8_t& byte : data) byte = static_cast<std::uint8_t>(random());
      if (v == 0 && !data.empty()) data.back() = 0;
      key.values.push_back(Value("v" + std::to_string(v), random() % 12, std::move(data)));
    }
    keys.push_back(std::move(key));
  }
  Outcome<std::string> text =
      WriteRegFile(RegistryOf(keys), GetParam().format, GetParam().encoding, kJapanese);
  ASSERT_TRUE(text.Ok()) << text.Error();
  EXPECT_EQ(ReadKeys(text.Value()), InJapanese(keys));
}

INSTANTIATE_TEST_SUITE_P(RegFile, RoundTrip,
                         ::testing::Values(Layout{RegFormat::kRegedit4, RegEncoding::kBytes},
                                           Layout{RegFormat::kVersion5, RegEncoding::kUtf16Le},
                                           Layout{RegFormat::kVersion5, RegEncoding::kBytes},
                                           Layout{RegFormat::kVersion5, RegEncoding::kUtf8WithMark},
                                           Layout{RegFormat::kRegedit4, RegEncoding::kUtf16Le}));

TEST(RegFile, Version5IsUtf16WithByteOrderMark) {
  Outcome<std::string> text =
      WriteRegFile(RegistryOf({{"K", {Value("日", kRegSz, StringData("本"))}}}),
                   RegFormat::kVersion5, RegEncoding::kUtf16Le, kJapanese);
  ASSERT_TRUE(text.Ok());
  EXPECT_EQ(text.Value().compare(0, 4, std::string("\xFF\xFEW\x00", 4)), 0);
  EXPECT_EQ(*Utf16LeToUtf8(text.Value().substr(2), nullptr),
            "Windows Registry Editor Version "
            "5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"日\"=\"本\"\r\n\r\n");
}

struct UnwritableCase {
  RegKeyEntry key;
  RegFormat format;
  const char* says;
};

class Unwritable : public ::testing::TestWithParam<UnwritableCase> {};

TEST_P(Unwritable, IsRefusedWithTheName) {
  Outcome<std::string> text =
      WriteRegFile(RegistryOf({GetParam().key}), GetParam().format, RegEncoding::kBytes, kJapanese);
  ASSERT_FALSE(text.Ok());
  EXPECT_NE(text.Error().find(GetParam().says), std::string::npos) << text.Error();
  EXPECT_NE(text.Error().find("cannot be written back"), std::string::npos) << text.Error();
}

INSTANTIATE_TEST_SUITE_P(
    RegFile, Unwritable,
    ::testing::Values(
        UnwritableCase{{"K", {Value("a\nb", kRegSz, {0})}}, RegFormat::kRegedit4, "line break"},
        UnwritableCase{{"K\rX", {}}, RegFormat::kRegedit4, "line break"},
        UnwritableCase{{"K", {Value("\xE9", kRegSz, {0})}}, RegFormat::kVersion5, "code page 932"},
        UnwritableCase{{"K\xFF", {}}, RegFormat::kVersion5, "code page 932"},
        UnwritableCase{{KeyLevelsDeep(513).substr(20, 513 * 2 - 1), {}},
                       RegFormat::kRegedit4,
                       "deeper than 512 levels"}));

// A whole machine's export as regedit writes it, every root key, around the
// minimal machine's keys; a line that starts with '-' is one the run
// removes, one that starts with '+' one it adds: a key that stays gets a line
// of its own when the lines that named it go. The other roots name the same
// paths as the removed keys.
constexpr char kWholeExport[] = R"(
[HKEY_LOCAL_MACHINE]

[HKEY_LOCAL_MACHINE\Enum]

+[HKEY_LOCAL_MACHINE\Enum\FLOP]
+
-[HKEY_LOCAL_MACHINE\Enum\FLOP\KELMORINUSB_FLOPPY_DISK_1.00]
-
-[HKEY_LOCAL_MACHINE\Enum\FLOP\KELMORINUSB_FLOPPY_DISK_1.00\USB&VID_0D7C&PID_FFFF&0001]
-"Driver"="fdc\\0001"
-"ConfigFlags"= hex:00,00,00,00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,\
-  12,13,14,15,16,17,18
-
[HKEY_LOCAL_MACHINE\Enum\USB]

-[HKEY_LOCAL_MACHINE\Enum\USB\VID_0D7C&PID_FFFF]
-
-[HKEY_LOCAL_MACHINE\Enum\USB\VID_0D7C&PID_FFFF\5&1A2B3C4D&0&1]
-"Driver"="fdc\\0002"
-
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Setup\SetupX\INF\OEM Name]
-"C:\\WINDOWS\\INF\\KMNUFD1.INF"="OEM3.INF"
"C:\\WINDOWS\\INF\\MODEM.INF"="OEM4.INF"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Setup\SetupX\Catalogs]
-"c:\\windows\\inf\\kmnufd1.inf"="C:\\WINDOWS\\CATROOT\\KMNUFD1.CAT"

; added by hand: the floppy controllers
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\fdc]
@="Floppy disk controllers"
"Icon"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\
    17,18,19,1a,1b,1c,1d,1e,1f,20,\
  21,22

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\fdc\0000]
"InfSection"="FLOPPY"
"InfPath"="OEM0.INF"

-[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\fdc\0001]
-"InfSection"="KMNCRN.DEV"
-"InfPath"="OEM1.INF"
-
-[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\fdc\0002]
-"InfSection"="KMNCRN.DEV"
-"InfPath"="OEM2.INF"
-
-[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\fdc\0003]
-"InfSection"="kmncrn.dev"
-"InfPath"="OEM3.INF"
-
[HKEY_CLASSES_ROOT]

[HKEY_CLASSES_ROOT\.txt]
@="txtfile"

[HKEY_CURRENT_USER\Enum\USB\VID_0D7C&PID_FFFF\5&1A2B3C4D&0&1]
"Driver"="fdc\\0002"

[HKEY_USERS\.DEFAULT\Software\Microsoft\Windows\CurrentVersion\Setup\SetupX\Catalogs]
"C:\\WINDOWS\\INF\\KMNUFD1.INF"="C:\\WINDOWS\\CATROOT\\KMNUFD1.CAT"
"Blob"=hex:de,ad,\
  be,ef

[HKEY_CURRENT_CONFIG\System\CurrentControlSet\Services\Class\fdc\0001]

[HKEY_DYN_DATA\Config Manager\Enum\C29A3B40]
"HardWareKey"="Enum\\FLOP\\KELMORINUSB_FLOPPY_DISK_1.00\\USB&VID_0D7C&PID_FFFF&0001"
)";

struct ExportCase {
  const char* name;
  const char* header;
  const char* newline;
  bool utf16;
  const char* family;
  bool perRootFiles;  // the roots reg export writes to files of their own
};

// The files of the export with their header and line breaks, with or
// without the lines the run removes, in the file's encoding; each line goes
// to the file of the root of the key line before it.
std::map<std::string, std::string> ExportFiles(const ExportCase& c, bool removed) {
  const std::map<std::string, std::string> kRootFiles = {{"HKEY_CLASSES_ROOT", "HKCR.reg"},
                                                         {"HKEY_CURRENT_USER", "hkcu.reg"},
                                                         {"HKEY_USERS", "HKU.reg"},
                                                         {"HKEY_CURRENT_CONFIG", "HKCC.reg"}};
  std::map<std::string, std::string> files;
  std::string file = "registry.reg";
  std::istringstream lines(kWholeExport + 1);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && (line[0] == '-' || line[0] == '+')) {
      if (removed == (line[0] == '-')) continue;
      line.erase(0, 1);
    }
    if (c.perRootFiles && !line.empty() && line[0] == '[') {
      const auto root = kRootFiles.find(line.substr(1, line.find_first_of("\\]") - 1));
      file = root == kRootFiles.end() ? "registry.reg" : root->second;
    }
    if (files[file].empty()) files[file] = std::string(c.header) + c.newline + c.newline;
    files[file] += line + c.newline;
  }
  if (c.utf16) {
    for (auto& [name, text] : files) text = Version5File(text);
  }
  return files;
}

class RegeditExports : public ::testing::TestWithParam<ExportCase> {};

// A dry run leaves the export byte for byte, a real run takes out only the
// lines of what it removed, and the undo puts the export back byte for byte.
TEST_P(RegeditExports, KeepEveryLineTheRunDidNotRemove) {
  const ExportCase& c = GetParam();
  testing::ScratchFolder scratch;
  const std::filesystem::path machine = scratch.Path() / "machine";
  std::filesystem::copy(testing::DemoMachine() / ".." / "minimal-machine", machine,
                        std::filesystem::copy_options::recursive);
  for (const auto& [name, bytes] : ExportFiles(c, false)) testing::WriteText(machine / name, bytes);
  testing::WriteText(machine / "machine.ini",
                     std::string("[machine]\nwindows = ") + c.family + "\n");
  const auto before = testing::TreePicture(machine);
  const std::vector<std::string> run = {"--machine", machine.string(), "--answers", "yes,no", "--",
                                        "/E"};
  std::vector<std::string> dryRun = run;
  dryRun.insert(dryRun.begin() + 2, "--dry-run");
  const testing::ToolRun dry = testing::RunWith(dryRun);
  ASSERT_EQ(dry.status, kExitOk) << dry.err;
  EXPECT_NE(dry.out.find("Registry keys deleted (7)"), std::string::npos) << dry.out;
  EXPECT_EQ(testing::TreePicture(machine), before);

  const testing::ToolRun real = testing::RunWith(run);
  ASSERT_EQ(real.status, kExitOk) << real.err;
  for (const auto& [name, bytes] : ExportFiles(c, true)) {
    EXPECT_EQ(testing::ReadText(machine / name), bytes) << name;
  }
  const testing::ToolRun undo = testing::RunWith({"--machine", machine.string(), "--undo"});
  ASSERT_EQ(undo.status, kExitOk) << undo.err;
  EXPECT_EQ(testing::TreePicture(machine), before);
}

INSTANTIATE_TEST_SUITE_P(
    RegFile, RegeditExports,
    ::testing::Values(ExportCase{"Windows98", "REGEDIT4", "\r\n", false, "98", false},
                      ExportCase{"WindowsNt", "Windows Registry Editor Version 5.00", "\r\n", true,
                                 "nt", false},
                      ExportCase{"LineFeedsOnly", "REGEDIT4", "\n", false, "nt", false},
                      ExportCase{"PerRootFiles", "Windows Registry Editor Version 5.00", "\r\n",
                                 true, "nt", true}),
    [](const ::testing::TestParamInfo<ExportCase>& info) { return info.param.name; });

}  // namespace
}  // namespace uninst::tool
