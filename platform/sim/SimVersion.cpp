// Version information of the simulated machine, read from the files' own
// version resources: PE and NE images on both families, LE images (VxDs) on
// the 9x family only.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/sim/OldVersionReader.h"
#include "platform/sim/PeVersionReader.h"
#include "platform/sim/SimState.h"

namespace uninst::sim {
namespace {

// wLength, wValueLength and wType of VS_VERSIONINFO.
constexpr std::uint32_t kVersionHeaderSize = 6;
// Version resources live in small program files; a bigger file is not read.
constexpr std::size_t kLargestReadableFile = 64 * 1024 * 1024;

}  // namespace

bool SimMachine::State::ReadVersionResource(const std::string& windowsPath, WindowsFamily family,
                                            std::vector<std::uint8_t>* resource,
                                            long* error) const {
  const Resolution resolution = Resolve(windowsPath, false);
  if (!resolution.Found()) {
    *error = resolution.Error();
    return false;
  }
  std::string image;
  if (!ReadEntryAt(resolution.folder.Get(), resolution.name, kLargestReadableFile, &image)) {
    *error = errno == ENOENT ? kErrorFileNotFound : kErrorAccessDenied;
    return false;
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(image.data());
  std::optional<ByteRange> found;
  switch (FormatOfImage(bytes, image.size())) {
    case ImageFormat::kPe:
      found = FindVersionResource(bytes, image.size());
      break;
    case ImageFormat::kNe:
      found = FindNeVersionResource(bytes, image.size());
      break;
    case ImageFormat::kLe:
      // NT does not read VxDs: the call fails and the last error is 0.
      if (family == WindowsFamily::kNt) {
        *error = kErrorSuccess;
        return false;
      }
      found = FindLeVersionResource(bytes, image.size());
      break;
    case ImageFormat::kUnknown:
      break;
  }
  if (!found) {
    *error = kErrorResourceTypeNotFound;
    return false;
  }
  resource->assign(bytes + found->offset, bytes + found->offset + found->size);
  return true;
}

std::uint32_t SimMachine::GetFileVersionInfoSize(const char* path) {
  const std::string windowsPath = path ? path : "";
  if (Enter(Op::kGetFileVersionInfoSize, windowsPath)) return 0;
  std::vector<std::uint8_t> resource;
  if (!m_state->ReadVersionResource(windowsPath, m_config.family, &resource, &m_state->lastError)) {
    return 0;
  }
  return static_cast<std::uint32_t>(resource.size());
}

bool SimMachine::GetFileVersionInfo(const char* path, std::uint32_t size, void* block) {
  const std::string windowsPath = path ? path : "";
  if (Enter(Op::kGetFileVersionInfo, windowsPath)) return false;
  if (!block || size < kVersionHeaderSize) {
    m_state->lastError = kErrorInsufficientBuffer;
    return false;
  }
  std::vector<std::uint8_t> resource;
  if (!m_state->ReadVersionResource(windowsPath, m_config.family, &resource, &m_state->lastError)) {
    return false;
  }
  const std::size_t copied = std::min<std::size_t>(size, resource.size());
  auto* bytes = static_cast<std::uint8_t*>(block);
  std::memcpy(bytes, resource.data(), copied);
  // The block's own length must not reach past what it was given, so that a
  // later look-up in the block stays inside it.
  const std::size_t length = bytes[0] | (bytes[1] << 8);
  if (length > copied) {
    bytes[0] = static_cast<std::uint8_t>(copied & 0xFF);
    bytes[1] = static_cast<std::uint8_t>((copied >> 8) & 0xFF);
  }
  return true;
}

bool SimMachine::QueryFixedFileInfo(const void* block, FixedFileInfo* info) {
  if (Enter(Op::kQueryFixedFileInfo, "")) return false;
  if (!block || !info) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  const std::size_t length = bytes[0] | (bytes[1] << 8);
  return ReadFixedFileInfo(bytes, length, info);
}

}  // namespace uninst::sim
