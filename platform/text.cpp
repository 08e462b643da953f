#include "platform/text.h"

#include <cstdint>

namespace velmora {
namespace {

// The code point of the UTF-8 sequence at text[at] and its length, or a
// length of 0 when the bytes there are no UTF-8 (overlong, a surrogate, cut
// short, beyond U+10FFFF).
struct CodePoint {
  uint32_t value = 0;
  size_t length = 0;
};

CodePoint Decode(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {lead, 1};
  size_t length = 0;
  uint32_t value = 0, least = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, least = 0x10000;
  } else {
    return {};
  }
  if (at + length > text.size()) return {};
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return {};
    value = value << 6 | (byte(i) & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return {};
  return {value, length};
}

// Characters a terminal or a log reader would act on rather than show: the
// controls (C0, DEL, C1), the line and paragraph separators, and the marks
// and overrides of writing direction, which can make a name read as another.
bool Unsafe(uint32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
         (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

std::string Hex(uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out(size_t(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) out[size_t(i)] = kDigits[value & 0xF];
  return out;
}

// text with its unsafe characters (and, when quoting, its quotes and
// backslashes) as escapes; whether anything needed one.
bool Escape(std::string_view text, bool quoting, std::string& out) {
  bool escaped = false;
  for (size_t at = 0; at < text.size();) {
    const CodePoint c = Decode(text, at);
    if (c.length == 0) {
      out += "\\x" + Hex(static_cast<unsigned char>(text[at]), 2);
      escaped = true;
      ++at;
      continue;
    }
    at += c.length;
    if (!Unsafe(c.value) && !(quoting && (c.value == '"' || c.value == '\\'))) {
      out.append(text.substr(at - c.length, c.length));
      continue;
    }
    escaped = escaped || Unsafe(c.value);
    switch (c.value) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default: out += c.value < 0x100 ? "\\x" + Hex(c.value, 2) : "\\u" + Hex(c.value, 4);
    }
  }
  return escaped;
}

}  // namespace

std::string QuotedName(std::string_view name) {
  std::string inner;
  if (!Escape(name, true, inner) && !name.starts_with('"')) return std::string(name);
  return '"' + inner + '"';
}

std::string OneLine(std::string_view text) {
  std::string out;
  Escape(text, false, out);
  return out;
}

}  // namespace velmora
