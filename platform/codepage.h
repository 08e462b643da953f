#pragma once
// Windows-1252, the single-byte code page of every stored text. Widgets hold
// QString; records, profile values and rich text hold bytes. Every byte has a
// character (the five unassigned ones map to the C1 controls of the same
// code), so decoding never fails; a character outside the page encodes as "?".

#include <QString>
#include <string>
#include <string_view>

namespace velmora {

QString FromCp1252(std::string_view bytes);
std::string ToCp1252(const QString& text);

// The character of one byte, and the byte of one character (-1 when none).
char16_t Cp1252ToUnicode(unsigned char byte);
int UnicodeToCp1252(char32_t ch);

// File names on disk are the UTF-8 spelling of the single-byte texts.
std::string Cp1252ToUtf8(std::string_view bytes);
std::string Utf8ToCp1252(std::string_view utf8);

}  // namespace velmora
