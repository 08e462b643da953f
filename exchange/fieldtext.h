#pragma once
// Texts between the store's single-byte code page and the UTF-8 of the
// exchange formats.

#include <cstdint>
#include <string>
#include <string_view>

#include "exchange/entry.h"
#include "store/contactrecord.h"

namespace velmora {

// Windows-1252 bytes as UTF-8, appended; every byte has a character.
void AppendUtf8(std::string& out, std::string_view cp1252);

// Bytes of a value as UTF-8: unchanged when they are UTF-8, else read as
// Windows-1252, which is what such bytes nearly always are (spreadsheets and
// older address books write the code page of their system).
void AppendUtf8OrCp1252(std::string& out, std::string_view bytes);

// Bytes in the named character set as UTF-8, appended. False for a
// character set not known here.
bool AppendDecoded(std::string& out, std::string_view bytes, std::string_view charset);

struct ImportCounts {
  uint64_t fieldsCut = 0;      // texts longer than their field
  uint64_t charsReplaced = 0;  // characters the code page lacks, kept as "?"
};

// The record texts of an entry: line breaks and other control characters
// become blanks (every field is one line), characters outside the code page
// "?", and each text is cut to its field.
RecordTexts ToRecordTexts(const ExchangeEntry& entry, ImportCounts& counts);

}  // namespace velmora
