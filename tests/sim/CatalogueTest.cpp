// The host-side message catalogue: the 27 messages under their string IDs.
#include <gtest/gtest.h>

#include <cstring>

#include "res/Catalogue.h"
#include "res/Messages.h"

namespace uninst {
namespace {

TEST(Catalogue, HoldsMessagesOneToTwentySevenInOrder) {
  ASSERT_EQ(27u, CatalogueMessageCount());
  for (std::size_t i = 0; i < CatalogueMessageCount(); ++i) {
    const CatalogueMessage& message = CatalogueMessages()[i];
    EXPECT_EQ(i + 1, message.number);
    EXPECT_GT(std::strlen(message.japanese), 0u);
    EXPECT_GT(std::strlen(message.english), 0u);
    EXPECT_EQ(message.japanese, CatalogueText(message.number));
    EXPECT_EQ(message.english, CatalogueText(kLanguageBaseEnglish + message.number));
  }
}

TEST(Catalogue, IdsOutsideBothLanguagesHaveNoText) {
  for (const unsigned id : {0u, 28u, 32u, 49u, 50u, 78u, 79u, 61440u}) {
    EXPECT_EQ(nullptr, CatalogueText(id)) << id;
  }
}

TEST(Catalogue, TextsAreThoseTheUserSees) {
  EXPECT_STREQ("Corrindo Driver for Windows", CatalogueText(51));
  EXPECT_STREQ("%ld bytes %s", CatalogueText(61));
  EXPECT_STREQ("%ld バイト %s", CatalogueText(11));
  EXPECT_STREQ(
      "Windows isn't installed correctly\nPlease install Windows correctly, \then try again.",
      CatalogueText(65));
  EXPECT_NE(nullptr, std::strchr(CatalogueText(65), '\t'));
}

}  // namespace
}  // namespace uninst
