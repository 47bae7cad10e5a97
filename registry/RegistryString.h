// Reading one string value from the registry.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace uninst {

// Opens `subkey` below `root` for query, reads the REG_SZ value `valueName`
// into `dest` (capacity `size`) and closes the key again. Returns the bytes
// stored, terminator included; 0 when there is no usable string value. A key
// that cannot be opened leaves `dest` untouched; any other failure may leave
// the value's bytes in it. `subkey` and `valueName` may share storage with
// `dest`. The string in `dest` is always terminated when the result is not 0.
[[nodiscard]] std::uint32_t ReadRegistryString(Platform& platform, RegHandle root,
                                               const char* subkey, const char* valueName,
                                               char* dest, std::uint32_t size);

}  // namespace uninst
