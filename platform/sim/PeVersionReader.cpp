#include "platform/sim/PeVersionReader.h"

#include <algorithm>

#include "platform/sim/ImageView.h"

namespace uninst::sim {
namespace {

constexpr std::uint32_t kResourceTypeVersion = 16;
constexpr std::size_t kDosHeaderSize = 64;
constexpr std::size_t kNewHeaderOffsetField = 0x3C;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kDataDirectorySize = 8;
constexpr std::size_t kResourceDirectoryIndex = 2;
constexpr std::size_t kResourceDirectoryHeaderSize = 16;
constexpr std::size_t kResourceEntrySize = 8;
constexpr std::size_t kResourceDataEntrySize = 16;
constexpr std::uint32_t kHighBit = 0x80000000u;

struct OptionalHeaderLayout {
  std::uint16_t magic;
  std::size_t rvaCountOffset;  // NumberOfRvaAndSizes
  std::size_t directoriesOffset;
};
constexpr OptionalHeaderLayout kLayouts[] = {
    {0x10B, 92, 96},    // PE32
    {0x20B, 108, 112},  // PE32+
};

struct Section {
  std::uint32_t virtualAddress;
  std::uint32_t rawSize;
  std::uint32_t rawOffset;
};

struct Headers {
  std::uint64_t sectionTable = 0;
  std::uint16_t sectionCount = 0;
  std::uint32_t resourceRva = 0;
};

bool ReadHeaders(const Image& image, Headers* headers) {
  std::uint32_t peOffset = 0;
  if (!image.Contains(0, kDosHeaderSize) || !image.Matches(0, "MZ", 2) ||
      !image.Read32(kNewHeaderOffsetField, &peOffset) || !image.Matches(peOffset, "PE\0\0", 4)) {
    return false;
  }
  const std::uint64_t fileHeader = std::uint64_t{peOffset} + 4;
  std::uint16_t optionalSize = 0;
  if (!image.Read16(fileHeader + 2, &headers->sectionCount) ||
      !image.Read16(fileHeader + 16, &optionalSize)) {
    return false;
  }
  const std::uint64_t optional = fileHeader + kFileHeaderSize;
  std::uint16_t magic = 0;
  if (!image.Read16(optional, &magic)) return false;
  for (const OptionalHeaderLayout& layout : kLayouts) {
    if (layout.magic != magic) continue;
    std::uint32_t rvaCount = 0;
    const std::uint64_t entry =
        layout.directoriesOffset + kResourceDirectoryIndex * kDataDirectorySize;
    if (!image.Read32(optional + layout.rvaCountOffset, &rvaCount) ||
        rvaCount <= kResourceDirectoryIndex || entry + kDataDirectorySize > optionalSize ||
        !image.Read32(optional + entry, &headers->resourceRva)) {
      return false;
    }
    headers->sectionTable = optional + optionalSize;
    return headers->resourceRva != 0;
  }
  return false;
}

bool ReadSection(const Image& image, const Headers& headers, std::uint16_t index,
                 Section* section) {
  const std::uint64_t at = headers.sectionTable + std::uint64_t{index} * kSectionHeaderSize;
  return image.Read32(at + 12, &section->virtualAddress) &&
         image.Read32(at + 16, &section->rawSize) && image.Read32(at + 20, &section->rawOffset);
}

// The file bytes from `rva` to the end of the raw data of its section, or
// to the end of the file where that comes first.
bool MapRva(const Image& image, const Headers& headers, std::uint32_t rva, ByteRange* mapped) {
  for (std::uint16_t i = 0; i < headers.sectionCount; ++i) {
    Section section{};
    if (!ReadSection(image, headers, i, &section)) return false;
    const std::uint64_t start = section.virtualAddress;
    if (rva < start || rva - start >= section.rawSize) continue;
    const std::uint64_t offset = std::uint64_t{section.rawOffset} + (rva - start);
    if (!image.Contains(offset, 1)) return false;
    const std::uint64_t length =
        std::min<std::uint64_t>(section.rawSize - (rva - start), image.Size() - offset);
    *mapped = {static_cast<std::size_t>(offset), static_cast<std::size_t>(length)};
    return true;
  }
  return false;
}

// One step down the resource tree: the entry chosen at one level of
// directories, which must be a subdirectory (`wantDirectory`) or data.
// Offsets are relative to the start of the resource section.
bool ChooseEntry(const Image& image, const ByteRange& resources, std::uint32_t directory,
                 const std::uint32_t* wantedId, bool wantDirectory, std::uint32_t* target) {
  std::uint16_t named = 0;
  std::uint16_t ids = 0;
  const std::uint64_t base = resources.offset;
  if (directory > resources.size || resources.size - directory < kResourceDirectoryHeaderSize ||
      !image.Read16(base + directory + 12, &named) || !image.Read16(base + directory + 14, &ids)) {
    return false;
  }
  const std::uint32_t count = std::uint32_t{named} + ids;
  const std::uint64_t first = std::uint64_t{directory} + kResourceDirectoryHeaderSize;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t entry = first + std::uint64_t{i} * kResourceEntrySize;
    std::uint32_t name = 0;
    std::uint32_t data = 0;
    if (entry + kResourceEntrySize > resources.size || !image.Read32(base + entry, &name) ||
        !image.Read32(base + entry + 4, &data)) {
      return false;
    }
    if (wantedId && name != *wantedId) continue;
    if (((data & kHighBit) != 0) != wantDirectory) return false;
    *target = data & ~kHighBit;
    return true;
  }
  return false;
}

bool FindDataEntry(const Image& image, const ByteRange& resources, std::uint32_t* dataEntry) {
  // Type, then name, then language: a fixed depth, so a directory that
  // points back at itself cannot make the walk loop.
  const std::uint32_t versionType = kResourceTypeVersion;
  std::uint32_t names = 0;
  std::uint32_t languages = 0;
  return ChooseEntry(image, resources, 0, &versionType, true, &names) &&
         ChooseEntry(image, resources, names, nullptr, true, &languages) &&
         ChooseEntry(image, resources, languages, nullptr, false, dataEntry);
}

std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(Get16(p)) | (static_cast<std::uint32_t>(Get16(p + 2)) << 16);
}

}  // namespace

std::optional<ByteRange> FindVersionResource(const std::uint8_t* data, std::size_t size) {
  if (!data) return std::nullopt;
  const Image image(data, size);
  Headers headers;
  ByteRange resources;
  std::uint32_t dataEntry = 0;
  if (!ReadHeaders(image, &headers) || !MapRva(image, headers, headers.resourceRva, &resources) ||
      !FindDataEntry(image, resources, &dataEntry) || dataEntry > resources.size ||
      resources.size - dataEntry < kResourceDataEntrySize) {
    return std::nullopt;
  }
  std::uint32_t rva = 0;
  std::uint32_t length = 0;
  ByteRange mapped;
  if (!image.Read32(resources.offset + dataEntry, &rva) ||
      !image.Read32(resources.offset + dataEntry + 4, &length) ||
      !MapRva(image, headers, rva, &mapped) || length == 0 || length > mapped.size) {
    return std::nullopt;
  }
  return ByteRange{mapped.offset, length};
}

bool ReadFixedFileInfo(const std::uint8_t* block, std::size_t available, FixedFileInfo* info) {
  // wLength, wValueLength, then in a 32-bit block wType and a Unicode key, in
  // a 16-bit one (NE and LE images) a single-byte key; the key is padded to
  // 32 bits.
  static const char16_t kWideKey[] = u"VS_VERSION_INFO";
  static const char kNarrowKey[] = "VS_VERSION_INFO";
  constexpr std::size_t kWideValueOffset = (6 + sizeof(kWideKey) + 3) & ~std::size_t{3};
  constexpr std::size_t kNarrowValueOffset = (4 + sizeof(kNarrowKey) + 3) & ~std::size_t{3};
  constexpr std::size_t kFixedSize = 13 * 4;
  constexpr std::uint32_t kSignature = 0xFEEF04BDu;

  if (!block || !info || available < 4) return false;
  const std::size_t length = Get16(block) < available ? Get16(block) : available;
  const std::uint16_t valueLength = Get16(block + 2);
  if (length < kNarrowValueOffset + kFixedSize || valueLength < kFixedSize) return false;
  bool wide = length >= kWideValueOffset + kFixedSize;
  for (std::size_t i = 0; wide && i < sizeof(kWideKey) / 2; ++i) {
    wide = Get16(block + 6 + 2 * i) == kWideKey[i];
  }
  const bool narrow = !wide && std::equal(kNarrowKey, kNarrowKey + sizeof(kNarrowKey), block + 4);
  if (!wide && !narrow) return false;
  const std::uint8_t* fixed = block + (wide ? kWideValueOffset : kNarrowValueOffset);
  if (Get32(fixed) != kSignature) return false;
  std::uint32_t* fields[] = {
      &info->signature,        &info->structVersion,    &info->fileVersionMS, &info->fileVersionLS,
      &info->productVersionMS, &info->productVersionLS, &info->fileFlagsMask, &info->fileFlags,
      &info->fileOS,           &info->fileType,         &info->fileSubtype,   &info->fileDateMS,
      &info->fileDateLS,
  };
  for (std::size_t i = 0; i < kFixedSize / 4; ++i) *fields[i] = Get32(fixed + 4 * i);
  return true;
}

}  // namespace uninst::sim
