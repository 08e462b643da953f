#include "platform/codepage.h"
#include "platform/text.h"
#include "store/contactrecord.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(CodePage, EachSingleBytePageKeepsEveryByteAndOtherPagesAreRefused) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(char(b));
  const struct {
    int page;
    const char* byte;
    const char* utf8;  // its character
  } kPages[] = {
      {874, "\xa1", "ก"},  {1250, "\xa3", "Ł"}, {1251, "\xd9", "Щ"}, {1252, "\x80", "€"},
      {1253, "\xd9", "Ω"}, {1254, "\xde", "Ş"}, {1255, "\xf9", "ש"}, {1256, "\xc7", "ا"},
      {1257, "\xd0", "Š"}, {1258, "\xc3", "Ă"}, {866, "\x80", "А"},  {437, "\x9c", "£"},
  };
  for (const auto& p : kPages) {
    const CodePage* page = CodePage::Find(p.page);
    ASSERT_NE(page, nullptr) << p.page;
    EXPECT_EQ(page->Encode(page->Decode(all)), all) << p.page;
    EXPECT_EQ(page->Decode(p.byte), QString::fromUtf8(p.utf8)) << p.page;
    EXPECT_EQ(page->Decode("Az 09"), "Az 09");
    EXPECT_EQ(page->Encode(QString::fromUtf8("丁")), "?");
  }
  // 1258 writes the letters it lacks whole as a letter and its mark, and
  // shows them composed again; what no page holds is "?", and told.
  const CodePage& vietnamese = *CodePage::Find(1258);
  const QString name = QString::fromUtf8("Nguyễn Đức Phạm 王");
  const std::string bytes = "Nguy\xea\xde\x6e \xd0\xfd\xec\x63 Pha\xf2m";  // n and c as escapes
  EXPECT_EQ(vietnamese.Encode(name), bytes + " ?");
  EXPECT_EQ(vietnamese.Decode(bytes), name.chopped(2));
  EXPECT_EQ(vietnamese.Lacking(name + QString::fromUtf8("王€")), QString::fromUtf8("王"));
  EXPECT_EQ(CodePage::Windows1252().Lacking(name), QString::fromUtf8("ễĐứạ王"));
  // A cut to a field's capacity keeps no letter without its mark.
  SetTextCodePage(vietnamese);
  const std::string filled(ContactRecord::kCapacity[ContactRecord::kName] - 1, 'x');
  ContactRecord r;
  r.SetText(ContactRecord::kName, filled + "a\xf2");
  EXPECT_EQ(r.Text(ContactRecord::kName), filled);
  r.SetText(ContactRecord::kName, filled + "ab");
  EXPECT_EQ(r.Text(ContactRecord::kName), filled + "a");
  // UTF-8 keeps every character, and a cut splits none.
  SetTextCodePage(*CodePage::Find(65001));
  EXPECT_EQ(ToCodePage(name), name.toStdString());
  EXPECT_EQ(FromCodePage(name.toStdString()), name);
  EXPECT_EQ(CodePageToUtf8("\xe7\x8e\x8b"), "\xe7\x8e\x8b");
  r.SetText(ContactRecord::kName, filled + "\xe7\x8e\x8b");
  EXPECT_EQ(r.Text(ContactRecord::kName), filled);
  // A double-byte page: a second byte is no character of its own, whatever
  // its value ("田" is 0x93 "c" in 932, "表" 0x95 "\\"), neither for a cut
  // nor for upper-casing; a lone lead byte comes back as it was.
  const struct {
    int page;
    const char* utf8;
    const char* bytes;
  } kPairs[] = {{932, "山田表", "\x8eR\x93" "c\x95\\"},
                {936, "王小明", "\xcd\xf5\xd0\xa1\xc3\xf7"},
                {949, "김민준", "\xb1\xe8\xb9\xce\xc1\xd8"},
                {950, "大文", "\xa4j\xa4\xe5"}};
  for (const auto& p : kPairs) {
    const CodePage* page = CodePage::Find(p.page);
    ASSERT_NE(page, nullptr) << p.page;
    SetTextCodePage(*page);
    const std::string bytes = std::string(p.bytes) + "x";
    EXPECT_EQ(ToCodePage(QString::fromUtf8(p.utf8) + "x"), bytes) << p.page;
    EXPECT_EQ(FromCodePage(bytes), QString::fromUtf8(p.utf8) + "x") << p.page;
    EXPECT_EQ(CodePageToUtf8(bytes), std::string(p.utf8) + "x") << p.page;
    EXPECT_EQ(UpperCaseText(bytes), std::string(p.bytes) + "X") << p.page;
    EXPECT_EQ(SameText(p.bytes, UpperCase(p.bytes)), p.bytes == UpperCase(p.bytes)) << p.page;
    r.SetText(ContactRecord::kName, filled + bytes);
    EXPECT_EQ(r.Text(ContactRecord::kName), filled) << p.page;
    r.SetText(ContactRecord::kName, filled.substr(1) + bytes);
    EXPECT_EQ(r.Text(ContactRecord::kName), filled.substr(1) + bytes.substr(0, 2)) << p.page;
    for (const char* kept : {"a\xb1", "\xc8" "E\xa4"})
      EXPECT_EQ(page->Encode(page->Decode(kept)), kept) << p.page;
  }
  SetTextCodePage(CodePage::Windows1252());
  // EBCDIC, of one byte and of two; no such page.
  for (int refused : {37, 930, 0, 20932, 99999}) EXPECT_EQ(CodePage::Find(refused), nullptr);
}

TEST(CodePage, AFreshInstallationTakesThePageOfItsLocalesLanguage) {
  const std::pair<const char*, int> kLocales[] = {
      {"pl_PL.UTF-8", 1250}, {"cs_CZ", 1250},      {"sr_RS@latin", 1250},  {"sr_RS", 1251},
      {"ru_RU.UTF-8", 1251}, {"uk_UA", 1251},      {"el_GR.UTF-8", 1253},  {"tr_TR", 1254},
      {"az_AZ", 1254},       {"he_IL", 1255},      {"fa_IR", 1256},        {"ar_EG", 1256},
      {"lt_LT", 1257},       {"vi_VN", 1258},      {"zh_CN.UTF-8", 65001}, {"ja_JP", 65001},
      {"ka_GE", 65001},      {"th_TH.UTF-8", 874}, {"de_DE.UTF-8", 1252},  {"C.UTF-8", 1252},
      {"POSIX", 1252},       {"", 1252},           {"ses_ML", 1252},
  };
  for (const auto& [locale, page] : kLocales) EXPECT_EQ(CodePageForLocale(locale), page) << locale;
}

}  // namespace
}  // namespace velmora
