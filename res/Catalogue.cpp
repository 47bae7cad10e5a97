#include "res/Catalogue.h"

#include "res/Messages.h"

namespace uninst {
namespace {

constexpr CatalogueMessage kMessages[] = {
#define MESSAGE(n, ja, en) {n, ja, en},
#include "res/Messages.def"
#undef MESSAGE
};

constexpr std::size_t kMessageCount = sizeof(kMessages) / sizeof(kMessages[0]);

const CatalogueMessage* FindMessage(unsigned number) {
  for (const CatalogueMessage& message : kMessages) {
    if (message.number == number) return &message;
  }
  return nullptr;
}

}  // namespace

const CatalogueMessage* CatalogueMessages() { return kMessages; }

std::size_t CatalogueMessageCount() { return kMessageCount; }

const char* CatalogueText(unsigned id) {
  constexpr unsigned kEnglishBase = static_cast<unsigned>(kLanguageBaseEnglish);
  if (id > kEnglishBase) {
    const CatalogueMessage* message = FindMessage(id - kEnglishBase);
    return message ? message->english : nullptr;
  }
  const CatalogueMessage* message = FindMessage(id);
  return message ? message->japanese : nullptr;
}

}  // namespace uninst
