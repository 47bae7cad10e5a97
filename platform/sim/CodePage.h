// Windows code pages by number, converted with the C library's iconv: the
// simulated machine keeps its single-byte ("A") text in its ANSI code page,
// while the files and the terminal around it speak UTF-8 or UTF-16LE.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace uninst::sim {

// ASCII text is the same in every code page the machine accepts, and in
// UTF-8.
bool IsAscii(std::string_view text);

// True when iconv converts the code page and it keeps ASCII as it is, as the
// ANSI and OEM code pages of Windows do.
bool IsSupportedCodePage(std::uint32_t codePage);

// Strict conversions: nullopt when the text holds a byte sequence or a
// character the target lacks; `badOffset` (if given) receives the offset of
// the first such in the input. The code page must be supported.
std::optional<std::string> CodePageToUtf8(std::uint32_t codePage, const std::string& text,
                                          std::size_t* badOffset = nullptr);
std::optional<std::string> Utf8ToCodePage(std::uint32_t codePage, const std::string& text,
                                          std::size_t* badOffset = nullptr);
std::optional<std::string> Utf16LeToUtf8(const std::string& bytes,
                                         std::size_t* badOffset = nullptr);
std::optional<std::string> Utf8ToUtf16Le(const std::string& text);

// As WideCharToMultiByte with its default character: a character the code
// page lacks becomes '?'. For text that the program takes from its resources.
std::string Utf8ToCodePageLossy(std::uint32_t codePage, const std::string& text);
// For a person to read: a byte that is no character of the code page becomes
// U+FFFD.
std::string CodePageToUtf8Lossy(std::uint32_t codePage, const std::string& text);

// UTF-8 text with every character upper-cased by the Unicode simple case
// mapping, as Windows folds file names (à and À, ａ and Ａ are one name); a
// byte that is no UTF-8 stays as it is.
std::string UpperUtf8(std::string_view text);

// Each character of the code page upper-cased as the NT family compares
// registry names: entry b for a single byte b, (lead << 8) | trail for a
// double-byte character. The value is the upper-cased UTF-16 character; a
// byte or pair that is no character of the code page keeps 0x10000 | index.
// A character whose upper case is ASCII keeps its own (the dotless i stays
// apart from I), so that folding never joins ASCII and other bytes.
std::vector<std::uint32_t> FoldTableOf(std::uint32_t codePage, const std::bitset<256>& leadBytes);

// The lead bytes of a double-byte code page (none for a single-byte one):
// the bytes that iconv finds to be the incomplete start of a character.
std::bitset<256> LeadBytesOf(std::uint32_t codePage);

}  // namespace uninst::sim
