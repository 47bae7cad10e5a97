// Bounded single-byte text: the holders of loaded and composed messages.
//
// The capacity is far above the longest text the program composes (a
// 511-byte path, its details line and a question), so an append never has to
// cut in practice; when it would, the text keeps its old content and the
// call reports false instead of writing past the end.
#pragma once

#include <cstddef>

namespace uninst {

class Platform;

class Text {
 public:
  static constexpr std::size_t kCapacity = 2048;

  Text() { m_data[0] = '\0'; }

  const char* Get() const { return m_data; }
  std::size_t Length() const { return m_length; }
  bool IsEmpty() const { return m_length == 0; }

  void Clear();
  bool Assign(const char* text);
  bool Append(const char* text);
  // printf-style formatting with the conversions the catalogue uses:
  // %ld / %d (signed 32-bit), %s and %%. Anything else is copied as it stands.
  bool Format(const char* format, long number, const char* string);

  // Direct access for loaders that fill the text themselves.
  char* Buffer() { return m_data; }
  void SetLength(std::size_t length);

 private:
  char m_data[kCapacity];
  std::size_t m_length = 0;
};

// Copies `source` with its terminator into `dest` of `capacity` bytes. Returns
// false, leaving `dest` untouched, when it does not fit.
[[nodiscard]] bool CopyBounded(char* dest, std::size_t capacity, const char* source);

// Writes the parts joined by single backslashes into `dest`. Returns false,
// leaving `dest` untouched, when the result would not fit: a cut path could
// name another file or key.
[[nodiscard]] bool JoinPath(char* dest, std::size_t capacity, const char* const* parts,
                            std::size_t count);

template <std::size_t N, std::size_t M>
[[nodiscard]] bool JoinPath(char (&dest)[N], const char* const (&parts)[M]) {
  return JoinPath(dest, N, parts, M);
}

// The character after the one at `p`: both bytes of a double-byte character
// of the ANSI code page, so that a trail byte is never read as a character
// of its own. `p` must not point at the terminator.
const char* NextCharacter(const char* p, Platform& platform);
inline char* NextCharacter(char* p, Platform& platform) {
  return const_cast<char*>(NextCharacter(static_cast<const char*>(p), platform));
}

// The first character of `text` that is one of the single-byte characters of
// `set`, read character by character; nullptr when there is none.
const char* FindCharacter(const char* text, const char* set, Platform& platform);

}  // namespace uninst
