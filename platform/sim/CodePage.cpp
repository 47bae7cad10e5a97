#include "platform/sim/CodePage.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace uninst::sim {
namespace {

constexpr char kUtf8[] = "UTF-8";
constexpr char kUtf16Le[] = "UTF-16LE";
constexpr char kUtf8Replacement[] = "\xEF\xBF\xBD";

std::string IconvName(std::uint32_t codePage) { return "CP" + std::to_string(codePage); }

// An iconv conversion descriptor, closed when it goes.
class Converter {
 public:
  Converter(const std::string& to, const std::string& from)
      : m_handle(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (Valid()) iconv_close(m_handle);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool Valid() const { return m_handle != reinterpret_cast<iconv_t>(-1); }

  // Converts from `*offset` until the end or the first bad sequence, which
  // `*offset` is left at; false then.
  bool Run(const std::string& text, std::size_t* offset, std::string* out) {
    char* in = const_cast<char*>(text.data()) + *offset;
    std::size_t inLeft = text.size() - *offset;
    bool good = true;
    while (good && inLeft > 0) {
      char buffer[1024];
      char* next = buffer;
      std::size_t outLeft = sizeof buffer;
      good = iconv(m_handle, &in, &inLeft, &next, &outLeft) != static_cast<std::size_t>(-1) ||
             errno == E2BIG;
      out->append(buffer, static_cast<std::size_t>(next - buffer));
    }
    *offset = text.size() - inLeft;
    return good;
  }

 private:
  iconv_t m_handle;
};

std::optional<std::string> ConvertStrictly(const std::string& to, const std::string& from,
                                           const std::string& text, std::size_t* badOffset) {
  Converter converter(to, from);
  std::string out;
  std::size_t offset = 0;
  if (converter.Valid() && converter.Run(text, &offset, &out)) return out;
  if (badOffset) *badOffset = offset;
  return std::nullopt;
}

unsigned char ByteAt(const std::string& text, std::size_t i) {
  return static_cast<unsigned char>(text[i]);
}

// The length of the UTF-8 sequence a lead byte starts (1 for a stray byte).
std::size_t Utf8SequenceLength(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  return lead >= 0xC0 ? 2 : 1;
}

}  // namespace

bool IsAscii(std::string_view text) {
  // Eight bytes at a time: a whole machine's names and strings pass here.
  std::size_t at = 0;
  for (; at + sizeof(std::uint64_t) <= text.size(); at += sizeof(std::uint64_t)) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + at, sizeof word);
    if (word & 0x8080808080808080ull) return false;
  }
  return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(at), text.end(),
                     [](char c) { return (c & 0x80) == 0; });
}

bool IsSupportedCodePage(std::uint32_t codePage) {
  std::string ascii;
  for (int c = 1; c < 0x80; ++c) ascii += static_cast<char>(c);
  const std::string name = IconvName(codePage);
  return ConvertStrictly(kUtf8, name, ascii, nullptr) == ascii &&
         ConvertStrictly(name, kUtf8, ascii, nullptr) == ascii;
}

// A supported code page keeps ASCII as it is, which spares most texts iconv.
std::optional<std::string> CodePageToUtf8(std::uint32_t codePage, const std::string& text,
                                          std::size_t* badOffset) {
  if (IsAscii(text)) return text;
  return ConvertStrictly(kUtf8, IconvName(codePage), text, badOffset);
}

std::optional<std::string> Utf8ToCodePage(std::uint32_t codePage, const std::string& text,
                                          std::size_t* badOffset) {
  if (IsAscii(text)) return text;
  return ConvertStrictly(IconvName(codePage), kUtf8, text, badOffset);
}

std::optional<std::string> Utf16LeToUtf8(const std::string& bytes, std::size_t* badOffset) {
  return ConvertStrictly(kUtf8, kUtf16Le, bytes, badOffset);
}

std::optional<std::string> Utf8ToUtf16Le(const std::string& text) {
  return ConvertStrictly(kUtf16Le, kUtf8, text, nullptr);
}

std::string Utf8ToCodePageLossy(std::uint32_t codePage, const std::string& text) {
  if (IsAscii(text)) return text;
  Converter converter(IconvName(codePage), kUtf8);
  std::string out;
  std::size_t offset = 0;
  while (converter.Valid() && !converter.Run(text, &offset, &out)) {
    out += '?';
    offset = std::min(text.size(), offset + Utf8SequenceLength(ByteAt(text, offset)));
  }
  return out;
}

std::string CodePageToUtf8Lossy(std::uint32_t codePage, const std::string& text) {
  if (IsAscii(text)) return text;
  Converter converter(kUtf8, IconvName(codePage));
  std::string out;
  std::size_t offset = 0;
  while (converter.Valid() && !converter.Run(text, &offset, &out)) {
    out += kUtf8Replacement;
    ++offset;
  }
  return out;
}

std::bitset<256> LeadBytesOf(std::uint32_t codePage) {
  std::bitset<256> lead;
  for (int byte = 0x80; byte < 0x100; ++byte) {
    Converter converter(kUtf8, IconvName(codePage));
    const std::string single(1, static_cast<char>(byte));
    std::string out;
    std::size_t offset = 0;
    // An incomplete character is EINVAL; a byte that is none is EILSEQ.
    lead[static_cast<std::size_t>(byte)] =
        converter.Valid() && !converter.Run(single, &offset, &out) && errno == EINVAL;
  }
  return lead;
}

}  // namespace uninst::sim
