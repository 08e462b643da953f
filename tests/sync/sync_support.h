#pragma once
// What the sync tests read on both sides: the entries of a data file and
// what velmora shows of the cards of a vdir, each as a sorted set.

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "exchange/fieldtext.h"
#include "exchange/vcard.h"
#include "exchange_support.h"
#include "support/records.h"
#include "support/testdir.h"

namespace velmora::testing {

using Set = std::vector<RecordTexts>;

inline Set Sorted(Set v) {
  std::sort(v.begin(), v.end(), [](const RecordTexts& a, const RecordTexts& b) {
    return std::tie(a.name, a.surname, a.phone1, a.phone2, a.comments) <
           std::tie(b.name, b.surname, b.phone1, b.phone2, b.comments);
  });
  return v;
}

// Each text without its blanks at either end.
inline Set Trimmed(Set v) {
  for (RecordTexts& t : v)
    for (std::string* f : {&t.name, &t.surname, &t.phone1, &t.phone2, &t.comments}) {
      const size_t b = f->find_first_not_of(' '), e = f->find_last_not_of(' ');
      *f = b == std::string::npos ? "" : f->substr(b, e - b + 1);
    }
  return Sorted(v);
}

inline std::string DataFileOf(const Set& entries) {
  std::string bytes;
  for (const RecordTexts& t : entries) {
    ContactRecord r;
    r.SetTexts(t);
    bytes += Bytes(r);
  }
  return bytes;
}

inline Set EntriesOf(const std::string& dataFile) {
  Set out;
  for (const ContactRecord& r : RecordsOf(dataFile)) out.push_back(r.Texts());
  return Sorted(out);
}

// The .vcf files of a folder by name.
inline std::map<std::string, std::string> CardsIn(const TestDir& dir, const std::string& sub) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir / sub, ec))
    if (e.path().extension() == ".vcf")
      out[e.path().filename()] = dir.Read(sub + "/" + e.path().filename().string());
  return out;
}

inline RecordTexts Shown(const std::string& card) {
  ImportCounts ignored;
  return ToRecordTexts(ReadVcard(card), ignored);
}

inline Set ShownOfCards(const TestDir& dir, const std::string& sub) {
  Set out;
  for (const auto& [file, bytes] : CardsIn(dir, sub)) out.push_back(Shown(bytes));
  return Sorted(out);
}

}  // namespace velmora::testing
