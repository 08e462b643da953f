#pragma once
// Text rules shared by every part of the address book. Texts are single-byte
// strings; upper-casing touches only a to z, trimming drops every byte of
// code 32 or less at both ends.

#include <string>
#include <string_view>

namespace velmora {

inline char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

inline std::string UpperCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = UpperChar(c);
  return out;
}

inline bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= 32; }

inline std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsTrimmed(s[b])) ++b;
  while (e > b && IsTrimmed(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

// True when the two names are the same under the upper-casing rule.
inline bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperChar(a[i]) != UpperChar(b[i])) return false;
  return true;
}

// A name (of a file, a folder) as a message line shows it: as it is when
// plain, else in double quotes, with every character that could end the line
// or make it look like another (control characters, line separators,
// direction overrides, bytes that are no UTF-8), every quote and every
// backslash written as an escape (\n, \", \\, \x1B, \u202E). A name that
// begins with a quote is quoted too, so that a quoted name is never taken
// for a plain one.
std::string QuotedName(std::string_view name);

// A message line made of texts from files: the characters QuotedName would
// escape written as escapes, without quotes; plain text as it is.
std::string OneLine(std::string_view text);

}  // namespace velmora
