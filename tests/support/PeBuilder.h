// Builds small Windows program files for tests: a valid PE32 or PE32+ image
// whose one section holds a resource directory with a version resource of
// the given file and product versions, and the older NE (16-bit) and LE
// (VxD) images with a 16-bit version resource. Portable C++: usable by host
// tests and by tests built for Windows.
#pragma once

#include <cstdint>
#include <vector>

namespace uninst::testsupport {

// Four version numbers, most significant first: {1, 2, 3, 4} is 1.2.3.4.
struct VersionQuad {
  std::uint16_t parts[4] = {1, 0, 0, 0};

  std::uint32_t HighWord() const { return (std::uint32_t{parts[0]} << 16) | parts[1]; }
  std::uint32_t LowWord() const { return (std::uint32_t{parts[2]} << 16) | parts[3]; }
};

constexpr std::uint16_t kResourceTypeVersion = 16;
constexpr std::uint16_t kResourceTypeString = 6;

struct PeImageRecipe {
  VersionQuad fileVersion;
  VersionQuad productVersion;
  bool pe32Plus = false;
  // The type of the image's one resource; any other than version leaves the
  // image without version information.
  std::uint16_t resourceType = kResourceTypeVersion;
};

// A VS_VERSIONINFO block: the fixed part and a VarFileInfo translation.
std::vector<std::uint8_t> BuildVersionInfoBlock(const VersionQuad& fileVersion,
                                                const VersionQuad& productVersion);

std::vector<std::uint8_t> BuildPeImage(const PeImageRecipe& recipe);

// Where BuildPeImage puts the version resource in the file.
struct PeResourcePlacement {
  std::uint32_t offset;
  std::uint32_t size;
};
PeResourcePlacement VersionResourcePlacement(const PeImageRecipe& recipe);

// A 16-bit VS_VERSIONINFO block (single-byte key, no type word) with its
// fixed part.
std::vector<std::uint8_t> BuildVersionInfoBlock16(const VersionQuad& fileVersion,
                                                  const VersionQuad& productVersion);
// An NE image whose resource table holds one RT_VERSION resource.
std::vector<std::uint8_t> BuildNeImage(const VersionQuad& fileVersion,
                                       const VersionQuad& productVersion);
// A VxD: an LE image whose Windows resource fields name its version resource.
std::vector<std::uint8_t> BuildLeImage(const VersionQuad& fileVersion,
                                       const VersionQuad& productVersion);

}  // namespace uninst::testsupport
