// Any bytes as a vCard file; and each field of its first card rewritten
// reads back as written, the other fields as they were.

#include <cstdlib>

#include "exchange/vcard.h"
#include "fuzz/exchange_fuzz.h"

namespace {

void RewriteEachField(const uint8_t* data, size_t size) {
  const std::string_view card(reinterpret_cast<const char*>(data), size);
  velmora::ExchangeEntry was;
  try {
    was = velmora::ReadVcard(card);
  } catch (const velmora::FormatError&) {
    return;
  }
  for (int f = velmora::ContactRecord::kName; f <= velmora::ContactRecord::kComments; ++f) {
    if (f == velmora::ContactRecord::kSurname) continue;  // N and FN, as for kName
    // A second number has no place of its own in a card without a first.
    if (f == velmora::ContactRecord::kPhone2 && was.phone1.empty()) continue;
    velmora::ExchangeEntry want = was;
    std::string* field[] = {&want.name, &want.surname, &want.phone1, &want.phone2, &want.comments};
    *field[f] = "N\u00ebw;, x";
    if (f == velmora::ContactRecord::kName) want.surname = "S\u00fcr;";
    unsigned bits = velmora::FieldBit(f);
    if (f == velmora::ContactRecord::kName)
      bits |= velmora::FieldBit(velmora::ContactRecord::kSurname);
    if (!(velmora::ReadVcard(velmora::ReplaceVcardFields(card, want, bits)) == want)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmora::FuzzReader<velmora::VcardReader>(data, size,
                                            [](std::string& out, const velmora::RecordTexts& t) {
                                              velmora::AppendVcard(out, t, std::nullopt);
                                            });
  RewriteEachField(data, size);
  return 0;
}
