#include "store/contactrecord.h"

#include "platform/codepage.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"

namespace velmora {

ContactRecord ContactRecord::FromBytes(const unsigned char* data) {
  ContactRecord r;
  std::memcpy(r.bytes.data(), data, kSize);
  return r;
}

void ContactRecord::SetText(Field f, std::string_view text) {
  size_t len = std::min(text.size(), kCapacity[f]);
  // A cut keeps no part of a character, nor a letter without its marks.
  const CodePage& page = TextCodePage();
  while (len > 0 && len < text.size() && page.SplitsCharacter(text, len)) --len;
  unsigned char* field = bytes.data() + kOffset[f];
  field[0] = static_cast<unsigned char>(len);
  std::memcpy(field + 1, text.data(), len);
}

RecordTexts ContactRecord::Texts() const {
  return {std::string(Text(kName)), std::string(Text(kSurname)), std::string(Text(kPhone1)),
          std::string(Text(kPhone2)), std::string(Text(kComments))};
}

void ContactRecord::SetTexts(const RecordTexts& t) {
  SetText(kName, t.name);
  SetText(kSurname, t.surname);
  SetText(kPhone1, t.phone1);
  SetText(kPhone2, t.phone2);
  SetText(kComments, t.comments);
}

std::string_view ContactRecord::IdentityIn(const unsigned char* rec, char (&buf)[kMaxIdentity]) {
  size_t n = 0;
  for (int f = kName; f <= kComments; ++f) {
    std::string_view t = TextIn(rec, Field(f));
    std::memcpy(buf + n, t.data(), t.size());
    n += t.size();
  }
  size_t b = 0;
  while (b < n && IsTrimmed(buf[b])) ++b;
  while (n > b && IsTrimmed(buf[n - 1])) --n;
  return {buf + b, n - b};
}

std::string_view ContactRecord::SortKeyIn(const unsigned char* rec, char (&buf)[kMaxSortKey]) {
  std::string_view surname = TextIn(rec, kSurname), name = TextIn(rec, kName);
  if (TextCodePage().IsDoubleByte()) [[unlikely]] {
    std::memcpy(buf, surname.data(), surname.size());
    UpperCaseTextIn(buf, surname.size());
    std::memcpy(buf + surname.size(), name.data(), name.size());
    UpperCaseTextIn(buf + surname.size(), name.size());
    return {buf, surname.size() + name.size()};
  }
  size_t n = 0;
  for (char c : surname) buf[n++] = UpperChar(c);
  for (char c : name) buf[n++] = UpperChar(c);
  return {buf, n};
}

int ContactRecord::CompareSortKeys(const unsigned char* a, const unsigned char* b) {
  if (TextCodePage().IsDoubleByte()) [[unlikely]] {
    // The second byte of a character is no letter: the keys made whole.
    char ka[kMaxSortKey], kb[kMaxSortKey];
    const std::string_view x = SortKeyIn(a, ka), y = SortKeyIn(b, kb);
    const int c = std::memcmp(x.data(), y.data(), std::min(x.size(), y.size()));
    return c != 0 ? (c < 0 ? -1 : 1) : x.size() < y.size() ? -1 : x.size() > y.size() ? 1 : 0;
  }
  const std::string_view as = TextIn(a, kSurname), an = TextIn(a, kName);
  const std::string_view bs = TextIn(b, kSurname), bn = TextIn(b, kName);
  const size_t la = as.size() + an.size(), lb = bs.size() + bn.size();
  for (size_t i = 0, n = std::min(la, lb); i < n; ++i) {
    const auto ca =
        static_cast<unsigned char>(UpperChar(i < as.size() ? as[i] : an[i - as.size()]));
    const auto cb =
        static_cast<unsigned char>(UpperChar(i < bs.size() ? bs[i] : bn[i - bs.size()]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return la < lb ? -1 : la > lb ? 1 : 0;
}

std::string ContactRecord::IdentityText() const {
  char buf[kMaxIdentity];
  return std::string(IdentityIn(bytes.data(), buf));
}

std::string ContactRecord::SortKey() const {
  char buf[kMaxSortKey];
  return std::string(SortKeyIn(bytes.data(), buf));
}

bool SameRecordAs::operator()(const unsigned char* rec) const {
  // The identity text starts and ends with a byte that is not trimmed, so a
  // record matches when its texts run together are blanks, the identity
  // text, blanks.
  const size_t n = identity_.size();
  size_t i = 0;
  for (int f = ContactRecord::kName; f <= ContactRecord::kComments; ++f) {
    for (char c : ContactRecord::TextIn(rec, ContactRecord::Field(f))) {
      if (i < n && c == identity_[i]) {
        ++i;
      } else if (!IsTrimmed(c) || (i > 0 && i < n)) {
        return false;
      }
    }
  }
  return i == n;
}

}  // namespace velmora
