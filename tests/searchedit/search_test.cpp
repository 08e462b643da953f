#include <gtest/gtest.h>

#include <QLocale>

#include "platform/codepage.h"
#include "searchedit/search.h"

namespace velmora {
namespace {

TEST(SearchRule, KeyIsCaseFoldedTrimmedAndCutTo20) {
  EXPECT_EQ(SearchKey("  sm "), "SM");
  EXPECT_EQ(SearchKey("   "), "");
  EXPECT_EQ(SearchKey(QString(25, 'a')), std::string(20, 'A'));
  EXPECT_EQ(SearchKey(QString::fromUtf8("\u00e9t\u4e00")), "\xc9T?");  // é folds as É
}

TEST(SearchRule, FieldMustBeginWithTheKeyWhateverTheCase) {
  SearchKey("");
  for (const char* match : {"Smith", "SMYTHE", "smart", "SM"})
    EXPECT_TRUE(Matches(match, "SM")) << match;
  for (const char* miss : {" Smith", "S", "", "ASMITH"}) EXPECT_FALSE(Matches(miss, "SM")) << miss;
  EXPECT_TRUE(Matches("", ""));
  EXPECT_TRUE(Matches(" anything", ""));
  EXPECT_TRUE(Matches("\xe9t\xe9", "\xc9T"));
  EXPECT_TRUE(Matches("\xc9t\xe9", "\xc9T"));
  EXPECT_FALSE(Matches("\xe8t", "\xc9T"));  // è is not é
}

// Turkish pairs I with ı, İ with i; UTF-8 folds characters, not bytes. (The
// window's table folds each alphabet.)
TEST(SearchRule, EveryAlphabetFoldsUnderItsLocale) {
  const QLocale before;
  const struct {
    int page;
    const char* locale;
    const char* typed;  // UTF-8
    const char* field;  // in the page
    bool found;
  } kRows[] = {
      {1254, "tr_TR", "ıs", "Is", true},       {1254, "tr_TR", "is", "Is", false},
      {1254, "tr_TR", "is", "\xdds", true},  // İs
      {1254, "en_US", "is", "Is", true},       {65001, "ru_RU", "пе", "Петров", true},
      {65001, "ru_RU", "пё", "Петров", false}, {65001, "tr_TR", "ış", "Işık", true},
      {65001, "en_US", "smi", "Sm", false},
  };
  for (const auto& r : kRows) {
    SetTextCodePage(*CodePage::Find(r.page));
    QLocale::setDefault(QLocale(QString::fromLatin1(r.locale)));
    EXPECT_EQ(Matches(r.field, SearchKey(QString::fromUtf8(r.typed))), r.found)
        << r.page << " " << r.locale << " " << r.typed;
  }
  SetTextCodePage(CodePage::Windows1252());
  QLocale::setDefault(before);
}

TEST(SearchRule, KeyEndingInABlankAfterTheCutMatchesNothing) {
  const std::string key = SearchKey("ABCDEFGHIJKLMNOPQRS TUV");
  ASSERT_EQ(key, "ABCDEFGHIJKLMNOPQRS ");
  EXPECT_FALSE(Matches("ABCDEFGHIJKLMNOPQRS TUV", key));
}

}  // namespace
}  // namespace velmora
