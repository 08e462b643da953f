#pragma once
// One entry of a data file: 135 bytes, five length-prefixed texts back to
// back. A field is one length byte, the characters (single-byte, no
// terminator) and filler up to the field's size. The filler carries no
// meaning and is never read; a length byte above the capacity (possible only
// in a foreign file) is read as the capacity, so no text comes from outside
// its field.

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

// The five texts of an entry, as typed or as stored.
struct RecordTexts {
  std::string name, surname, phone1, phone2, comments;
  bool operator==(const RecordTexts&) const = default;
};

struct ContactRecord {
  static constexpr size_t kSize = 135;
  enum Field { kName, kSurname, kPhone1, kPhone2, kComments };
  static constexpr size_t kOffset[5] = {0, 21, 42, 63, 84};
  static constexpr size_t kCapacity[5] = {20, 20, 20, 20, 50};
  // The longest identity text and sort key.
  static constexpr size_t kMaxIdentity = 130;
  static constexpr size_t kMaxSortKey = 40;

  std::array<unsigned char, kSize> bytes{};

  static ContactRecord FromBytes(const unsigned char* data);

  std::string_view Text(Field f) const { return TextIn(bytes.data(), f); }
  // Cuts the text to the field's capacity; the filler keeps what it held.
  void SetText(Field f, std::string_view text);

  RecordTexts Texts() const;
  void SetTexts(const RecordTexts& t);

  // The five texts run together, then trimmed. Equal identity texts make the
  // same record; letter case counts.
  std::string IdentityText() const;
  // SURNAME followed by NAME, upper-cased, not trimmed.
  std::string SortKey() const;

  // The same on raw record bytes, into a caller's buffer, for the scans.
  static std::string_view TextIn(const unsigned char* rec, Field f) {
    const unsigned char* field = rec + kOffset[f];
    return {reinterpret_cast<const char*>(field + 1), std::min<size_t>(field[0], kCapacity[f])};
  }
  static std::string_view IdentityIn(const unsigned char* rec, char (&buf)[kMaxIdentity]);
  static std::string_view SortKeyIn(const unsigned char* rec, char (&buf)[kMaxSortKey]);
  // The order of two records' sort keys, negative, zero or positive, found
  // in place up to the first byte that differs.
  static int CompareSortKeys(const unsigned char* a, const unsigned char* b);
};

// Tells the records that are the same record as a given one. It compares
// the texts in place and stops at the first byte that tells them apart, so
// a scan of a whole file costs little more than reading it.
class SameRecordAs {
 public:
  explicit SameRecordAs(const ContactRecord& r) : identity_(r.IdentityText()) {}
  bool operator()(const unsigned char* rec) const;

 private:
  std::string identity_;
};

// A record read in place, in a reader's buffer: valid until the reader
// moves on. Scans use it so that no record is copied.
class RecordView {
 public:
  explicit RecordView(const unsigned char* bytes) : bytes_(bytes) {}
  std::string_view Text(ContactRecord::Field f) const { return ContactRecord::TextIn(bytes_, f); }
  const unsigned char* bytes() const { return bytes_; }
  ContactRecord Copy() const { return ContactRecord::FromBytes(bytes_); }

 private:
  const unsigned char* bytes_;
};

}  // namespace velmora
