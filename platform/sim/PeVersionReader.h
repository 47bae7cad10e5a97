// Finds the version resource of a Windows executable image held in memory,
// as GetFileVersionInfoSize and GetFileVersionInfo look it up: resource type
// RT_VERSION, its first name, that name's first language.
//
// The image comes from any file on the host, so every header, offset and
// size is checked against the image's bounds before it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/Platform.h"

namespace uninst::sim {

struct ByteRange {
  std::size_t offset = 0;
  std::size_t size = 0;
};

// The bytes of the version resource within `image`, or nullopt when the
// image is no PE32/PE32+ file, has no version resource, or is malformed.
std::optional<ByteRange> FindVersionResource(const std::uint8_t* image, std::size_t size);

// Reads VS_FIXEDFILEINFO from a VS_VERSIONINFO block, 32-bit (Unicode) or
// 16-bit (single-byte, as NE and LE images carry it), reading neither past
// `available` bytes nor past the block's own length. False when the block is
// malformed or has no fixed part.
bool ReadFixedFileInfo(const std::uint8_t* block, std::size_t available, FixedFileInfo* info);

}  // namespace uninst::sim
