// Any bytes as a CSV file.

#include "exchange/csv.h"
#include "fuzz/exchange_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmora::FuzzReader<velmora::CsvReader>(data, size,
                                          [](std::string& out, const velmora::RecordTexts& t) {
                                            if (out.empty()) velmora::AppendCsvHeader(out);
                                            velmora::AppendCsvRow(out, t);
                                          });
  return 0;
}
