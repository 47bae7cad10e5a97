#include "platform/sim/CodePage.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/AsciiCase.h"

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
  iconv_t Handle() const { return m_handle; }

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

namespace {

// The code point of a well-formed sequence of the length its lead byte
// tells (Utf8SequenceLength), or none.
std::optional<char32_t> DecodeUtf8(std::string_view bytes) {
  const std::size_t length = bytes.size();
  const unsigned char lead = static_cast<unsigned char>(bytes[0]);
  if (length == 1) return lead < 0x80 ? std::optional<char32_t>(lead) : std::nullopt;
  if (lead > 0xF4) return std::nullopt;
  char32_t point = static_cast<unsigned char>(bytes[0]) & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if ((c & 0xC0) != 0x80) return std::nullopt;
    point = (point << 6) | (c & 0x3F);
  }
  constexpr char32_t kLowest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < kLowest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
    return std::nullopt;
  }
  return point;
}

void AppendUtf8(std::string& out, char32_t point) {
  if (point < 0x80) {
    out += static_cast<char>(point);
  } else if (point < 0x800) {
    out += static_cast<char>(0xC0 | (point >> 6));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else if (point < 0x10000) {
    out += static_cast<char>(0xE0 | (point >> 12));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (point >> 18));
    out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  }
}

// The C library's Unicode case table, whatever the process's locale.
class UnicodeCase {
 public:
  UnicodeCase() : m_locale(::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr)) {}
  ~UnicodeCase() {
    if (m_locale) ::freelocale(m_locale);
  }
  UnicodeCase(const UnicodeCase&) = delete;
  UnicodeCase& operator=(const UnicodeCase&) = delete;

  char32_t Upper(char32_t point) const {
    if (point < 0x80) return point >= 'a' && point <= 'z' ? point - 'a' + 'A' : point;
    return m_locale ? static_cast<char32_t>(::towupper_l(static_cast<wint_t>(point), m_locale))
                    : point;
  }

 private:
  locale_t m_locale;
};

}  // namespace

std::string UpperUtf8(std::string_view text) {
  std::string out;
  if (IsAscii(text)) {
    out.assign(text);
    for (char& c : out) c = UpperAscii(c);
    return out;
  }
  const UnicodeCase cases;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceLength(static_cast<unsigned char>(text[at]));
    const std::optional<char32_t> point =
        at + length <= text.size() ? DecodeUtf8(text.substr(at, length)) : std::nullopt;
    if (!point) {
      out += text[at++];
      continue;
    }
    AppendUtf8(out, cases.Upper(*point));
    at += length;
  }
  return out;
}

std::vector<std::uint32_t> FoldTableOf(std::uint32_t codePage, const std::bitset<256>& leadBytes) {
  const bool doubleByte = leadBytes.any();
  std::vector<std::uint32_t> table(doubleByte ? 0x10000 : 0x100);
  Converter converter(kUtf8, IconvName(codePage));
  const UnicodeCase cases;
  for (std::uint32_t index = 0; index < table.size(); ++index) {
    const bool pair = index >= 0x100;
    table[index] = 0x10000 | index;
    if (pair && !leadBytes[index >> 8]) continue;
    if (!pair && index < 0x80) {
      table[index] = UpperAscii(static_cast<char>(index));
      continue;
    }
    std::string character;
    if (pair) character += static_cast<char>(index >> 8);
    character += static_cast<char>(index & 0xFF);
    std::string utf8;
    std::size_t offset = 0;
    if (!converter.Valid()) continue;
    ::iconv(converter.Handle(), nullptr, nullptr, nullptr, nullptr);  // forget a failed pair
    if (!converter.Run(character, &offset, &utf8) || utf8.empty()) continue;
    const std::size_t length = Utf8SequenceLength(static_cast<unsigned char>(utf8[0]));
    const std::optional<char32_t> point = length == utf8.size() ? DecodeUtf8(utf8) : std::nullopt;
    if (!point || *point > 0xFFFF) continue;
    const char32_t upper = cases.Upper(*point);
    table[index] = upper < 0x80 && *point >= 0x80 ? *point : upper;
  }
  return table;
}

}  // namespace uninst::sim
