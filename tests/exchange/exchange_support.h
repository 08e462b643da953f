#pragma once
// Inputs from strings, and entries written the way tests read them.

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "exchange/entry.h"
#include "platform/codepage.h"
#include "store/contactrecord.h"

namespace velmora {

inline void PrintTo(const ExchangeEntry& e, std::ostream* os) {
  *os << "{" << e.name << " | " << e.surname << " | " << e.phone1 << " | " << e.phone2 << " | "
      << e.comments << "}";
}

inline void PrintTo(const RecordTexts& t, std::ostream* os) {
  *os << "{" << CodePageToUtf8(t.name) << " | " << CodePageToUtf8(t.surname) << " | "
      << CodePageToUtf8(t.phone1) << " | " << CodePageToUtf8(t.phone2) << " | "
      << CodePageToUtf8(t.comments) << "}";
}

namespace testing {

// The bytes handed out a few at a time, so that every line end and escape
// in a test input meets a block boundary somewhere.
inline ByteSource StringSource(std::string bytes, size_t step = 7) {
  auto data = std::make_shared<std::string>(std::move(bytes));
  return [data, step, at = size_t(0)](char* buf, size_t n) mutable {
    const size_t take = std::min({n, step, data->size() - at});
    std::memcpy(buf, data->data() + at, take);
    at += take;
    return take;
  };
}

inline std::vector<ExchangeEntry> ReadAll(EntryReader& reader) {
  std::vector<ExchangeEntry> out;
  ExchangeEntry e;
  while (reader.Next(e)) out.push_back(e);
  return out;
}

// Record texts written in UTF-8 for readability, in the code page.
inline RecordTexts Texts(const std::string& name, const std::string& surname,
                         const std::string& phone1 = "", const std::string& phone2 = "",
                         const std::string& comments = "") {
  return {Utf8ToCodePage(name), Utf8ToCodePage(surname), Utf8ToCodePage(phone1), Utf8ToCodePage(phone2),
          Utf8ToCodePage(comments)};
}

}  // namespace testing
}  // namespace velmora
