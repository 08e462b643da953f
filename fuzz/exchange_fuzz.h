#pragma once
// Shared by the vCard and CSV targets: any bytes through a reader, read a
// few at a time, either end in a FormatError or give entries whose record
// texts fit their fields; and what a reader took reads back the same after
// the writer of its format has written it.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "exchange/entry.h"
#include "exchange/fieldtext.h"

namespace velmora {

template <class Reader, class Write>
void FuzzReader(const uint8_t* data, size_t size, Write write) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  auto source = [&bytes](size_t step) {
    return [&bytes, step, at = size_t(0)](char* buf, size_t n) mutable {
      const size_t take = std::min({n, step, bytes.size() - at});
      std::memcpy(buf, bytes.data() + at, take);
      at += take;
      return take;
    };
  };
  std::vector<RecordTexts> first;
  try {
    Reader reader(source(size % 13 + 1));
    ImportCounts counts;
    for (ExchangeEntry e; reader.Next(e);) {
      RecordTexts t = ToRecordTexts(e, counts);
      for (const std::string* f : {&t.name, &t.surname, &t.phone1, &t.phone2})
        if (f->size() > 20) std::abort();
      if (t.comments.size() > 50) std::abort();
      first.push_back(t);
    }
  } catch (const FormatError& e) {
    if (e.line() == 0) std::abort();
    return;
  }
  // Written and read again: the same texts. A lone PHONE2 has no place of
  // its own in a card, so it becomes PHONE1 on the way.
  std::string out;
  for (RecordTexts& t : first) {
    if (t.phone1.find_first_not_of(' ') == std::string::npos) t.phone1.clear();
    if (t.phone2.find_first_not_of(' ') == std::string::npos) t.phone2.clear();
    if (t.phone1.empty()) std::swap(t.phone1, t.phone2);
    write(out, t);
  }
  const std::string written = out;
  Reader again([&written, at = size_t(0)](char* buf, size_t n) mutable {
    const size_t take = std::min(n, written.size() - at);
    std::memcpy(buf, written.data() + at, take);
    at += take;
    return take;
  });
  ImportCounts counts;
  size_t i = 0;
  for (ExchangeEntry e; again.Next(e); ++i)
    if (i >= first.size() || !(ToRecordTexts(e, counts) == first[i])) std::abort();
  if (i != first.size()) std::abort();
}

}  // namespace velmora
