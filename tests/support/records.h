#pragma once
// Building records and data files by hand for tests.

#include <string>
#include <vector>

#include "store/contactrecord.h"

namespace velmora::testing {

inline ContactRecord Rec(const std::string& name, const std::string& surname,
                         const std::string& phone1 = "", const std::string& phone2 = "",
                         const std::string& comments = "") {
  ContactRecord r;
  r.SetTexts({name, surname, phone1, phone2, comments});
  return r;
}

inline std::string Bytes(const ContactRecord& r) {
  return std::string(reinterpret_cast<const char*>(r.bytes.data()), r.bytes.size());
}

inline std::string FileOf(const std::vector<ContactRecord>& records) {
  std::string out;
  for (const auto& r : records) out += Bytes(r);
  return out;
}

// The records of a data file's content, an incomplete tail left out.
inline std::vector<ContactRecord> RecordsOf(const std::string& bytes) {
  std::vector<ContactRecord> out;
  for (size_t at = 0; at + ContactRecord::kSize <= bytes.size(); at += ContactRecord::kSize)
    out.push_back(
        ContactRecord::FromBytes(reinterpret_cast<const unsigned char*>(bytes.data() + at)));
  return out;
}

inline std::vector<std::string> Surnames(const std::string& bytes) {
  std::vector<std::string> out;
  for (const auto& r : RecordsOf(bytes)) out.emplace_back(r.Text(ContactRecord::kSurname));
  return out;
}

}  // namespace velmora::testing
