#include "platform/sim/OldVersionReader.h"

#include "platform/sim/ImageView.h"

namespace uninst::sim {
namespace {

constexpr std::size_t kDosHeaderSize = 64;
constexpr std::size_t kNewHeaderOffsetField = 0x3C;

// NE: the resource table's offset (from the NE header) is at 0x24; the
// table starts with the alignment shift, then TYPEINFO records (type, count,
// reserved dword) each followed by `count` NAMEINFO records of 12 bytes
// (offset and length in alignment units first), ended by a zero type.
constexpr std::size_t kNeResourceTableField = 0x24;
constexpr std::uint16_t kNeVersionType = 0x8010;  // integer type RT_VERSION
constexpr std::size_t kNeTypeInfoSize = 8;
constexpr std::size_t kNeNameInfoSize = 12;
// Beyond this the offsets would not fit a file the NE format can describe.
constexpr std::uint16_t kNeLargestShift = 16;

// LE: the Windows resource's file offset and length are at 0xB8 and 0xBC of
// the LE header. The resource has a 12-byte header: 0xFF, the type (16), 0xFF,
// the name (ordinal), flags, and the size of the data that follows.
constexpr std::size_t kLeResourceOffsetField = 0xB8;
constexpr std::size_t kLeResourceLengthField = 0xBC;
constexpr std::size_t kLeResourceHeaderSize = 12;
constexpr std::uint16_t kVersionType = 16;

bool ReadNewHeader(const Image& image, std::uint32_t* offset) {
  return image.Contains(0, kDosHeaderSize) && image.Matches(0, "MZ", 2) &&
         image.Read32(kNewHeaderOffsetField, offset) && image.Contains(*offset, 2);
}

ImageFormat FormatOf(const Image& image, std::uint32_t* header) {
  if (!ReadNewHeader(image, header)) return ImageFormat::kUnknown;
  if (image.Matches(*header, "PE\0\0", 4)) return ImageFormat::kPe;
  if (image.Matches(*header, "NE", 2)) return ImageFormat::kNe;
  if (image.Matches(*header, "LE", 2)) return ImageFormat::kLe;
  return ImageFormat::kUnknown;
}

}  // namespace

ImageFormat FormatOfImage(const std::uint8_t* data, std::size_t size) {
  std::uint32_t header = 0;
  return data ? FormatOf(Image(data, size), &header) : ImageFormat::kUnknown;
}

std::optional<ByteRange> FindNeVersionResource(const std::uint8_t* data, std::size_t size) {
  const Image image(data, size);
  std::uint32_t header = 0;
  std::uint16_t tableOffset = 0;
  std::uint16_t shift = 0;
  if (!data || FormatOf(image, &header) != ImageFormat::kNe ||
      !image.Read16(header + kNeResourceTableField, &tableOffset) || tableOffset == 0 ||
      !image.Read16(std::uint64_t{header} + tableOffset, &shift) || shift > kNeLargestShift) {
    return std::nullopt;
  }
  // Each step moves forward through the image, so the walk ends.
  std::uint64_t at = std::uint64_t{header} + tableOffset + 2;
  std::uint16_t type = 0;
  std::uint16_t count = 0;
  while (image.Read16(at, &type) && type != 0 && image.Read16(at + 2, &count)) {
    const std::uint64_t names = at + kNeTypeInfoSize;
    if (type == kNeVersionType) {
      std::uint16_t offset = 0;
      std::uint16_t length = 0;
      if (count == 0 || !image.Read16(names, &offset) || !image.Read16(names + 2, &length)) {
        return std::nullopt;
      }
      const std::uint64_t start = std::uint64_t{offset} << shift;
      const std::uint64_t bytes = std::uint64_t{length} << shift;
      if (bytes == 0 || !image.Contains(start, bytes)) return std::nullopt;
      return ByteRange{static_cast<std::size_t>(start), static_cast<std::size_t>(bytes)};
    }
    at = names + std::uint64_t{count} * kNeNameInfoSize;
  }
  return std::nullopt;
}

std::optional<ByteRange> FindLeVersionResource(const std::uint8_t* data, std::size_t size) {
  const Image image(data, size);
  std::uint32_t header = 0;
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
  if (!data || FormatOf(image, &header) != ImageFormat::kLe ||
      !image.Read32(std::uint64_t{header} + kLeResourceOffsetField, &offset) ||
      !image.Read32(std::uint64_t{header} + kLeResourceLengthField, &length) || offset == 0 ||
      length < kLeResourceHeaderSize || !image.Contains(offset, length)) {
    return std::nullopt;
  }
  std::uint16_t type = 0;
  std::uint32_t dataSize = 0;
  if (!image.Matches(offset, "\xFF", 1) || !image.Read16(offset + 1, &type) ||
      type != kVersionType || !image.Matches(offset + 3, "\xFF", 1) ||
      !image.Read32(offset + 8, &dataSize) || dataSize == 0 ||
      dataSize > length - kLeResourceHeaderSize) {
    return std::nullopt;
  }
  return ByteRange{offset + kLeResourceHeaderSize, dataSize};
}

}  // namespace uninst::sim
