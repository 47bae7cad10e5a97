// The version-resource readers (PE, NE, LE) on built images and on damaged ones: it
// must find the resource in a sound file and never read outside any file.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/sim/OldVersionReader.h"
#include "platform/sim/PeVersionReader.h"
#include "tests/support/PeBuilder.h"
#include "tests/support/SimFixture.h"

namespace uninst::sim {
namespace {

using testsupport::BuildPeImage;
using testsupport::PeImageRecipe;

// Offsets in the PE32 image that BuildPeImage lays out.
constexpr std::size_t kSectionCount = 0x46;
constexpr std::size_t kOptionalHeaderSize = 0x54;
constexpr std::size_t kOptionalMagic = 0x58;
constexpr std::size_t kRvaCount = 0x58 + 92;
constexpr std::size_t kResourceRva = 0x58 + 96 + 2 * 8;
constexpr std::size_t kSectionRawSize = 0x58 + 224 + 16;
constexpr std::size_t kTypeEntryTarget = 0x200 + 16 + 4;
constexpr std::size_t kRootCounts = 0x200 + 12;
constexpr std::size_t kRootTypeId = 0x200 + 16;
constexpr std::size_t kLanguageEntryTarget = 0x200 + 48 + 16 + 4;
constexpr std::size_t kDataEntryRva = 0x200 + 72;
constexpr std::size_t kDataEntrySize = 0x200 + 72 + 4;

PeImageRecipe VersionedSpec(bool pe32Plus) {
  PeImageRecipe recipe;
  recipe.fileVersion = {{1, 2, 3, 4}};
  recipe.productVersion = {{65535, 0, 7, 8}};
  recipe.pe32Plus = pe32Plus;
  return recipe;
}

void Patch32(std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Whatever the reader finds must lie inside the image; a fixed part it then
// reads is bounded by the found bytes.
void ExpectBounded(const std::vector<std::uint8_t>& image, std::size_t size) {
  const std::optional<ByteRange> found = FindVersionResource(image.data(), size);
  if (!found) return;
  ASSERT_LE(found->offset, size);
  ASSERT_LE(found->size, size - found->offset);
  std::vector<std::uint8_t> block(
      image.begin() + static_cast<std::ptrdiff_t>(found->offset),
      image.begin() + static_cast<std::ptrdiff_t>(found->offset + found->size));
  FixedFileInfo info;
  ReadFixedFileInfo(block.data(), block.size(), &info);
}

class ValidImages : public ::testing::TestWithParam<bool> {};

TEST_P(ValidImages, FindTheVersionResourceAndItsFixedPart) {
  const PeImageRecipe recipe = VersionedSpec(GetParam());
  const std::vector<std::uint8_t> image = BuildPeImage(recipe);
  const std::optional<ByteRange> found = FindVersionResource(image.data(), image.size());
  ASSERT_TRUE(found);
  EXPECT_EQ(testsupport::VersionResourcePlacement(recipe).offset, found->offset);
  EXPECT_EQ(testsupport::VersionResourcePlacement(recipe).size, found->size);
  FixedFileInfo info;
  ASSERT_TRUE(ReadFixedFileInfo(image.data() + found->offset, found->size, &info));
  EXPECT_EQ(0xFEEF04BDu, info.signature);
  EXPECT_EQ(0x00010002u, info.fileVersionMS);
  EXPECT_EQ(0x00030004u, info.fileVersionLS);
  EXPECT_EQ(0xFFFF0000u, info.productVersionMS);
  EXPECT_EQ(0x00070008u, info.productVersionLS);
}

TEST_P(ValidImages, EveryTruncationIsHandled) {
  const PeImageRecipe recipe = VersionedSpec(GetParam());
  const std::vector<std::uint8_t> image = BuildPeImage(recipe);
  const testsupport::PeResourcePlacement placement = testsupport::VersionResourcePlacement(recipe);
  for (std::size_t size = 0; size <= image.size(); ++size) {
    // A copy of exactly `size` bytes, so that any read past it is caught.
    const std::vector<std::uint8_t> cut(image.begin(),
                                        image.begin() + static_cast<std::ptrdiff_t>(size));
    const std::optional<ByteRange> found = FindVersionResource(cut.data(), cut.size());
    EXPECT_EQ(size >= placement.offset + placement.size, found.has_value()) << size;
  }
}

TEST_P(ValidImages, RandomByteFlipsNeverReadOutside) {
  const std::vector<std::uint8_t> image = BuildPeImage(VersionedSpec(GetParam()));
  std::mt19937 random(0x5EED);
  std::uniform_int_distribution<std::size_t> position(0, image.size() - 1);
  std::uniform_int_distribution<int> flips(1, 4);
  std::uniform_int_distribution<int> bit(0, 7);
  int stillFound = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::uint8_t> damaged = image;
    for (int i = flips(random); i > 0; --i) {
      damaged[position(random)] ^= static_cast<std::uint8_t>(1u << bit(random));
    }
    ExpectBounded(damaged, damaged.size());
    stillFound += FindVersionResource(damaged.data(), damaged.size()).has_value();
  }
  EXPECT_GT(stillFound, 0) << "flips in padding leave the resource readable";
}

INSTANTIATE_TEST_SUITE_P(Formats, ValidImages, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Pe32Plus" : "Pe32";
                         });

// NE and LE images: found whole, never past any truncation or damage.
using OldFinder = std::optional<ByteRange> (*)(const std::uint8_t*, std::size_t);
struct OldImageCase {
  const char* name;
  std::vector<std::uint8_t> (*build)(const testsupport::VersionQuad&,
                                     const testsupport::VersionQuad&);
  OldFinder find;
};

class OldImages : public ::testing::TestWithParam<OldImageCase> {};

TEST_P(OldImages, AreReadWithinTheirBounds) {
  const std::vector<std::uint8_t> image = GetParam().build({{1, 2, 3, 4}}, {{5, 6, 7, 8}});
  const std::optional<ByteRange> found = GetParam().find(image.data(), image.size());
  ASSERT_TRUE(found);
  FixedFileInfo info;
  ASSERT_TRUE(ReadFixedFileInfo(image.data() + found->offset, found->size, &info));
  EXPECT_EQ(0x00030004u, info.fileVersionLS);
  EXPECT_EQ(0x00050006u, info.productVersionMS);
  EXPECT_FALSE(FindVersionResource(image.data(), image.size())) << "not a PE image";
  for (std::size_t size = 0; size <= image.size(); ++size) {
    const std::vector<std::uint8_t> cut(image.begin(),
                                        image.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_EQ(size >= found->offset + found->size, GetParam().find(cut.data(), size).has_value())
        << size;
  }
  std::mt19937 random(0x01D);
  std::uniform_int_distribution<std::size_t> position(0, image.size() - 1);
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::uint8_t> damaged = image;
    damaged[position(random)] = static_cast<std::uint8_t>(random());
    const std::optional<ByteRange> range = GetParam().find(damaged.data(), damaged.size());
    if (!range) continue;
    ASSERT_LE(range->offset + range->size, damaged.size());
    ReadFixedFileInfo(damaged.data() + range->offset, range->size, &info);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, OldImages,
    ::testing::Values(OldImageCase{"Ne", testsupport::BuildNeImage, FindNeVersionResource},
                      OldImageCase{"Le", testsupport::BuildLeImage, FindLeVersionResource}),
    [](const ::testing::TestParamInfo<OldImageCase>& info) { return info.param.name; });

struct Damage {
  const char* label;
  std::size_t at;
  std::uint32_t value;  // 32 bits written at `at`
  std::size_t alsoAt = 0;
  std::uint32_t alsoValue = 0;
};

class DamagedImages : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedImages, HaveNoVersion) {
  std::vector<std::uint8_t> image = BuildPeImage(VersionedSpec(false));
  Patch32(image, GetParam().at, GetParam().value);
  if (GetParam().alsoAt) Patch32(image, GetParam().alsoAt, GetParam().alsoValue);
  EXPECT_FALSE(FindVersionResource(image.data(), image.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Headers, DamagedImages,
    ::testing::Values(Damage{"NoMz", 0, 0x00005A4E}, Damage{"PeOffsetPastEnd", 0x3C, 0xFFFFFFF0u},
                      Damage{"PeOffsetInsideDosHeader", 0x3C, 0x3E},
                      Damage{"NoPeSignature", 0x40, 0x00004551},
                      Damage{"NoSections", kSectionCount, 0x00E00000},
                      Damage{"OptionalHeaderTooSmall", kOptionalHeaderSize, 0x21020060},
                      Damage{"UnknownMagic", kOptionalMagic, 0x0000010C},
                      Damage{"TooFewDirectories", kRvaCount, 2},
                      Damage{"ResourceRvaUnmapped", kResourceRva, 0x5000},
                      Damage{"ResourceRvaZero", kResourceRva, 0},
                      Damage{"SectionWithoutRawData", kSectionRawSize, 0},
                      Damage{"TypeEntryIsData", kTypeEntryTarget, 24},
                      Damage{"TypeDirectoryPastSection", kTypeEntryTarget, 0x8000FFF0u},
                      Damage{"TypeDirectoryPointsToRoot", kTypeEntryTarget, 0x80000000u},
                      Damage{"OtherTypeOnly", kRootTypeId, 17},
                      Damage{"SearchRunsPastSection", kRootTypeId, 17, kRootCounts, 0xFFFFFFFFu},
                      Damage{"LanguageEntryIsDirectory", kLanguageEntryTarget, 0x80000000u | 72},
                      Damage{"DataEntryPastSection", kLanguageEntryTarget, 0x1F8},
                      Damage{"DataRvaUnmapped", kDataEntryRva, 0x9000},
                      Damage{"DataSizeHuge", kDataEntrySize, 0xFFFFFFFFu},
                      Damage{"DataSizeZero", kDataEntrySize, 0}),
    [](const ::testing::TestParamInfo<Damage>& info) { return info.param.label; });

TEST(PeVersionReader, OtherResourcesAreNoVersion) {
  PeImageRecipe recipe;
  recipe.resourceType = testsupport::kResourceTypeString;
  const std::vector<std::uint8_t> image = BuildPeImage(recipe);
  EXPECT_FALSE(FindVersionResource(image.data(), image.size()));
  EXPECT_FALSE(FindVersionResource(nullptr, 100));
}

struct BlockDamage {
  const char* label;
  std::size_t at;
  std::uint16_t value;
  std::size_t available;  // 0: the whole block
};

class DamagedBlocks : public ::testing::TestWithParam<BlockDamage> {};

TEST_P(DamagedBlocks, HaveNoFixedPart) {
  std::vector<std::uint8_t> block = testsupport::BuildVersionInfoBlock({}, {});
  block[GetParam().at] = static_cast<std::uint8_t>(GetParam().value);
  block[GetParam().at + 1] = static_cast<std::uint8_t>(GetParam().value >> 8);
  const std::size_t available = GetParam().available ? GetParam().available : block.size();
  std::vector<std::uint8_t> cut(block.begin(),
                                block.begin() + static_cast<std::ptrdiff_t>(available));
  FixedFileInfo info;
  EXPECT_FALSE(ReadFixedFileInfo(cut.data(), cut.size(), &info));
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, DamagedBlocks,
    ::testing::Values(BlockDamage{"LengthTooShort", 0, 91, 0}, BlockDamage{"NoFixedValue", 2, 0, 0},
                      BlockDamage{"ValueTooShort", 2, 51, 0}, BlockDamage{"WrongKey", 6, 'W', 0},
                      BlockDamage{"KeyNotTerminated", 6 + 30, 'X', 0},
                      BlockDamage{"WrongSignature", 40, 0x04BE, 0},
                      BlockDamage{"CutBeforeFixedPart", 0, 92, 91},
                      BlockDamage{"CutInHeader", 0, 92, 5}),
    [](const ::testing::TestParamInfo<BlockDamage>& info) { return info.param.label; });

TEST(PeVersionReader, MachineBlockNeverClaimsMoreThanItWasGiven) {
  testsupport::SimWorld world;
  const std::vector<std::uint8_t> image = BuildPeImage(VersionedSpec(false));
  world.machine.WriteFile("C:\\v.sys", image);
  const std::uint32_t size = world.machine.GetFileVersionInfoSize("C:\\v.sys");
  ASSERT_EQ(testsupport::VersionResourcePlacement(VersionedSpec(false)).size, size);
  for (std::uint32_t given = 0; given <= size; ++given) {
    std::vector<std::uint8_t> block(given ? given : 1);
    const bool copied = world.machine.GetFileVersionInfo("C:\\v.sys", given, block.data());
    EXPECT_EQ(given >= 6, copied) << given;
    if (!copied) continue;
    FixedFileInfo info;
    EXPECT_EQ(given >= 92, world.machine.QueryFixedFileInfo(block.data(), &info)) << given;
  }
}

}  // namespace
}  // namespace uninst::sim
