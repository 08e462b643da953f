#include <gtest/gtest.h>

#include "searchedit/search.h"

namespace velmora {
namespace {

TEST(SearchRule, KeyIsUpperCasedTrimmedAndCutTo20) {
  EXPECT_EQ(SearchKey("  sm "), "SM");
  EXPECT_EQ(SearchKey("   "), "");
  EXPECT_EQ(SearchKey(QString(25, 'a')), std::string(20, 'A'));
  EXPECT_EQ(SearchKey(QString::fromUtf8("\u00e9t\u4e00")), "\xe9T?");  // é kept, not upper-cased
}

TEST(SearchRule, FieldMustBeginWithTheKeyInUpperCase) {
  for (const char* match : {"Smith", "SMYTHE", "smart", "SM"})
    EXPECT_TRUE(Matches(match, "SM")) << match;
  for (const char* miss : {" Smith", "S", "", "ASMITH"}) EXPECT_FALSE(Matches(miss, "SM")) << miss;
  EXPECT_TRUE(Matches("", ""));
  EXPECT_TRUE(Matches(" anything", ""));
  // Only a to z are upper-cased: é in the field is not É in the key.
  EXPECT_FALSE(Matches("\xe9t\xe9", "\xc9T"));
  EXPECT_TRUE(Matches("\xc9t\xe9", "\xc9T"));
}

TEST(SearchRule, KeyEndingInABlankAfterTheCutMatchesNothing) {
  const std::string key = SearchKey("ABCDEFGHIJKLMNOPQRS TUV");
  ASSERT_EQ(key, "ABCDEFGHIJKLMNOPQRS ");
  EXPECT_FALSE(Matches("ABCDEFGHIJKLMNOPQRS TUV", key));
}

}  // namespace
}  // namespace velmora
