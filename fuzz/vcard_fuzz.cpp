// Any bytes as a vCard file.

#include "exchange/vcard.h"
#include "fuzz/exchange_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmora::FuzzReader<velmora::VcardReader>(data, size,
                                            [](std::string& out, const velmora::RecordTexts& t) {
                                              velmora::AppendVcard(out, t, std::nullopt);
                                            });
  return 0;
}
