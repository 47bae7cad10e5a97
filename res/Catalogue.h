// Host-side access to the message catalogue: the texts that the Windows
// program carries as its string table, for the simulated machine's string
// resources and for tests that check what the program shows.
#pragma once

#include <cstddef>

namespace uninst {

struct CatalogueMessage {
  unsigned number;       // 1 to 27
  const char* japanese;  // UTF-8, string resource ID `number`
  const char* english;   // UTF-8, string resource ID kLanguageBaseEnglish + `number`
};

// Every message of the catalogue, in number order.
const CatalogueMessage* CatalogueMessages();
std::size_t CatalogueMessageCount();

// The text of string resource `id` (UTF-8), or nullptr when the ID has none.
const char* CatalogueText(unsigned id);

}  // namespace uninst
