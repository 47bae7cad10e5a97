// Finds the version resource of the images older than PE that Windows 95/98
// reads it from: 16-bit NE images (resource table, type RT_VERSION, its
// first resource) and VxDs, LE images whose Windows header fields name a
// single RT_VERSION resource. Both hold a 16-bit VS_VERSIONINFO block.
//
// As with PE images, every header, offset and size is checked against the
// image's bounds before it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/sim/PeVersionReader.h"

namespace uninst::sim {

enum class ImageFormat { kUnknown, kPe, kNe, kLe };

// The format an MZ image's new header announces.
ImageFormat FormatOfImage(const std::uint8_t* image, std::size_t size);

std::optional<ByteRange> FindNeVersionResource(const std::uint8_t* image, std::size_t size);
std::optional<ByteRange> FindLeVersionResource(const std::uint8_t* image, std::size_t size);

}  // namespace uninst::sim
