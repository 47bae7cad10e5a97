// Conversions between the encodings the machine folder's files use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace uninst::tool {

// Windows compares registry names by upper-casing ASCII letters only.
std::string UpperAscii(std::string text);
bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b);

bool IsValidUtf8(const std::string& text);

// UTF-16LE bytes to UTF-8; nullopt for an odd length or a lone surrogate.
// `badOffset` receives the byte offset of the first bad unit.
std::optional<std::string> Utf16LeToUtf8(const std::string& bytes, std::size_t* badOffset);
// UTF-8 to UTF-16LE bytes; nullopt when the text is not valid UTF-8.
std::optional<std::string> Utf8ToUtf16Le(const std::string& text);

}  // namespace uninst::tool
