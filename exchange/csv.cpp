#include "exchange/csv.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "exchange/fieldtext.h"
#include "platform/text.h"

namespace velmora {
namespace {

// A header name without case and separators: "First Name", "first_name"
// and "FIRSTNAME" are one column.
std::string Normalized(std::string_view header) {
  std::string out;
  for (char c : header) {
    if (c == ' ' || c == '-' || c == '_' || c == '.' || c == '\t') continue;
    out.push_back((c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c);
  }
  return out;
}

bool OneOf(const std::string& h, std::initializer_list<const char*> names) {
  return std::any_of(names.begin(), names.end(), [&](const char* n) { return h == n; });
}

bool IsPhoneColumn(const std::string& h) {
  if (OneOf(h, {"phone", "phone1", "phone2", "mobile", "mobilephone", "mobilenumber", "cell",
                "cellphone", "homephone", "homephone2", "workphone", "businessphone",
                "businessphone2", "primaryphone", "otherphone", "telephone", "tel"}))
    return true;
  // "Phone 1 - Value", as one widespread web address book names them.
  if (h.size() > 10 && h.starts_with("phone") && h.ends_with("value"))
    return std::all_of(h.begin() + 5, h.end() - 5, [](char c) { return c >= '0' && c <= '9'; });
  return false;
}

bool IsBlankOrTab(int c) { return c == ' ' || c == '\t'; }

bool NeedsQuotes(std::string_view t) {
  if (t.empty()) return false;
  if (IsBlankOrTab(t.front()) || IsBlankOrTab(t.back())) return true;
  for (char c : t)
    if (c == ',' || c == '"' || c == '\r' || c == '\n') return true;
  return false;
}

}  // namespace

bool CsvReader::ReadRow(size_t maxFields) {
  fields_.clear();
  int c;
  while ((c = in_.Peek()) == '\r' || c == '\n') in_.Get();
  if (c < 0) return false;
  rowAt_ = in_.line();
  size_t rowBytes = 0;
  auto count = [&] {
    if (++rowBytes > kMaxLineBytes) throw FormatError(rowAt_, "a row longer than 16 MiB");
  };
  std::string field;
  for (;;) {
    field.clear();
    while (IsBlankOrTab(in_.Peek())) in_.Get();
    if (in_.Peek() == '"') {
      const uint64_t openedAt = in_.line();
      in_.Get();
      for (;;) {
        c = in_.Get();
        if (c < 0) throw FormatError(openedAt, "a quoted field that is never closed");
        if (c == '"') {
          if (in_.Peek() != '"') break;
          in_.Get();
        }
        field.push_back(char(c));
        count();
      }
      while (IsBlankOrTab(in_.Peek())) in_.Get();
      c = in_.Peek();
      if (c >= 0 && c != ',' && c != '\r' && c != '\n')
        throw FormatError(in_.line(), "text after the closing quote of a field");
    } else {
      while ((c = in_.Peek()) >= 0 && c != ',' && c != '\r' && c != '\n') {
        field.push_back(char(in_.Get()));
        count();
      }
      while (!field.empty() && IsBlankOrTab(field.back())) field.pop_back();
    }
    // A row wider than allowed is refused at its first field too many, so
    // that a row of nothing but commas holds no more than maxFields.
    if (fields_.size() == maxFields)
      throw FormatError(
          rowAt_, mapped_ ? "more fields than the " + std::to_string(maxFields) +
                                " columns of the first row"
                          : "a first row of more than " + std::to_string(maxFields) + " columns");
    fields_.push_back(field);
    c = in_.Get();
    if (c != ',') break;  // the row's end: CR, LF or the end of the input
    count();
  }
  if (c == '\r' && in_.Peek() == '\n') in_.Get();
  return true;
}

void CsvReader::MapColumns() {
  if (!ReadRow(kMaxCsvColumns)) return;
  columns_ = fields_.size();
  int given = -1, first = -1, plainName = -1, full = -1;
  for (size_t i = 0; i < fields_.size(); ++i) {
    const std::string h = Normalized(fields_[i]);
    const int col = int(i);
    auto take = [&](int& slot) {
      if (slot < 0) slot = col;
    };
    if (h == "givenname")
      take(given);
    else if (h == "firstname")
      take(first);
    else if (h == "name")
      take(plainName);
    else if (OneOf(h, {"fullname", "displayname"}))
      take(full);
    else if (OneOf(h, {"familyname", "lastname", "surname"}))
      take(surname_);
    else if (OneOf(h, {"comments", "comment", "notes", "note"}))
      take(comments_);
    else if (IsPhoneColumn(h))
      phones_.push_back(col);
  }
  name_ = given >= 0 ? given : first >= 0 ? first : surname_ >= 0 ? plainName : -1;
  if (name_ < 0 && surname_ < 0) wholeName_ = plainName >= 0 ? plainName : full;
  if (name_ < 0 && surname_ < 0 && wholeName_ < 0 && phones_.empty() && comments_ < 0)
    throw FormatError(rowAt_,
                      "the first row names none of the columns name, surname, phone or comments");
}

bool CsvReader::Next(ExchangeEntry& e) {
  if (!mapped_) {
    MapColumns();
    mapped_ = true;
  }
  if (!ReadRow(columns_)) return false;
  // Short rows are common where trailing fields are empty; they are not
  // filled up, so that a row costs what it holds, however wide the header.
  auto field = [&](int col) {
    std::string out;
    if (col >= 0 && size_t(col) < fields_.size()) AppendUtf8OrCodePage(out, fields_[size_t(col)]);
    return out;
  };
  e = {};
  if (wholeName_ >= 0) {
    const std::string whole = Trim(field(wholeName_));
    const size_t blank = whole.find_last_of(" \t");
    e.name = blank == std::string::npos ? whole : Trim(std::string_view(whole).substr(0, blank));
    if (blank != std::string::npos) e.surname = Trim(std::string_view(whole).substr(blank + 1));
  } else {
    e.name = field(name_);
    e.surname = field(surname_);
  }
  int found = 0;
  for (int col : phones_) {
    if (found == 2) break;
    std::string phone = field(col);
    if (!phone.empty()) (found++ == 0 ? e.phone1 : e.phone2) = std::move(phone);
  }
  e.comments = field(comments_);
  return true;
}

void AppendCsvHeader(std::string& out) { out.append("name,surname,phone1,phone2,comments\r\n"); }

namespace {

// The UTF-8 of each code page byte as a CSV field holds it: a quote doubled.
// Made from the code page's own table, again only when the page changed.
const Utf8Code* CsvCodes() {
  static std::array<Utf8Code, 256> table;
  static int builtFor = 0;  // the page number the table holds
  const CodePage& page = TextCodePage();
  if (builtFor != page.number()) {
    std::copy_n(page.Utf8Codes(), 256, table.begin());
    table['"'] = {{'"', '"', 0, 0}, 2};
    builtFor = page.number();
  }
  return table.data();
}

// Which of the 16 * kLanes bytes at p need care in a CSV field: bit i of
// `special` is set where byte i calls for quotes (, " CR LF), and of
// `careful` where it cannot be copied as it is (a quote, or an upper-half
// byte that becomes two or three bytes of UTF-8).
struct CsvMarks {
  uint64_t special = 0, careful = 0;
};

template <size_t kLanes>
inline CsvMarks MarksOf(const char* p) {
  static_assert(kLanes <= 4);
  CsvMarks m;
#if defined(__SSE2__)
  for (size_t i = 0; i < kLanes; ++i) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    const __m128i quote = _mm_cmpeq_epi8(x, _mm_set1_epi8('"'));
    const __m128i breaks = _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('\r')),
                                        _mm_cmpeq_epi8(x, _mm_set1_epi8('\n')));
    const __m128i special =
        _mm_or_si128(_mm_or_si128(quote, _mm_cmpeq_epi8(x, _mm_set1_epi8(','))), breaks);
    m.special |= uint64_t(uint32_t(_mm_movemask_epi8(special))) << (16 * i);
    // The mask of x itself is its upper-half bytes.
    m.careful |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_or_si128(quote, x)))) << (16 * i);
  }
#else
  for (size_t i = 0; i < 16 * kLanes; ++i) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    m.special |= uint64_t(c == ',' || c == '"' || c == '\r' || c == '\n') << i;
    m.careful |= uint64_t(c >= 0x80 || c == '"') << i;
  }
#endif
  return m;
}

// A text of at most 16 * kLanes bytes of a record with kSlack readable bytes
// after it: the export's inner loop. A text without a byte needing care,
// which most are, is one fixed copy; whether it is quoted only moves the
// write position.
template <size_t kLanes>
inline char* PutCsvText(char* w, std::string_view f, const Utf8Code* codes) {
  static_assert(16 * kLanes <= kSlack);
  CsvMarks m = MarksOf<kLanes>(f.data());
  const uint64_t inText = f.size() >= 64 ? ~uint64_t(0) : (uint64_t(1) << f.size()) - 1;
  m.special &= inText;
  m.careful &= inText;
  // A blank at either end; an empty text has no ends (and its slack is
  // read in vain).
  const unsigned char first = static_cast<unsigned char>(f.data()[0]);
  const unsigned char last = static_cast<unsigned char>(f.data()[(f.size() - 1) & 63]);
  const bool blankEnd =
      ((first == ' ') | (first == '\t') | (last == ' ') | (last == '\t')) & !f.empty();
  const bool quoted = (m.special != 0) | blankEnd;
  *w = '"';
  w += quoted;
  // Each run of plain bytes goes in one fixed copy (the text lies in a
  // record with kSlack bytes after it), each byte needing care through the
  // table.
  size_t from = 0;
  for (uint64_t care = m.careful; care != 0; care &= care - 1) {
    const size_t at = size_t(std::countr_zero(care));
    std::memcpy(w, f.data() + from, 16 * kLanes);
    w += at - from;
    w = PutUtf8(w, codes, static_cast<unsigned char>(f[at]));
    from = at + 1;
  }
  std::memcpy(w, f.data() + from, 16 * kLanes);
  w += f.size() - from;
  *w = '"';
  return w + quoted;
}

// A field; a record's text (16 * kLanes bytes at most) the quick way.
template <size_t kLanes>
char* PutCsvField(char* w, const TextsView& t, std::string_view f, const Utf8Code* codes) {
  if (WordWise(t, f) && f.size() <= 16 * kLanes) return PutCsvText<kLanes>(w, f, codes);
  const bool quoted = NeedsQuotes(f);
  if (quoted) *w++ = '"';
  for (char c : f) w = PutUtf8(w, codes, static_cast<unsigned char>(c));
  if (quoted) *w++ = '"';
  return w;
}

constexpr size_t LanesOf(ContactRecord::Field f) { return (ContactRecord::kCapacity[f] + 15) / 16; }

}  // namespace

char* PutCsvRow(char* w, const TextsView& t) {
  if (const std::optional<RecordTexts> decoded = DecodedForWriters(t)) [[unlikely]] {
    TextsView utf8(*decoded);
    utf8.utf8 = true;
    return PutCsvRow(w, utf8);
  }
  const Utf8Code* codes = CsvCodes();
  w = PutCsvField<LanesOf(ContactRecord::kName)>(w, t, t.name, codes);
  *w++ = ',';
  w = PutCsvField<LanesOf(ContactRecord::kSurname)>(w, t, t.surname, codes);
  *w++ = ',';
  w = PutCsvField<LanesOf(ContactRecord::kPhone1)>(w, t, t.phone1, codes);
  *w++ = ',';
  w = PutCsvField<LanesOf(ContactRecord::kPhone2)>(w, t, t.phone2, codes);
  *w++ = ',';
  w = PutCsvField<LanesOf(ContactRecord::kComments)>(w, t, t.comments, codes);
  return Put(w, "\r\n");
}

void AppendCsvRow(std::string& out, const TextsView& t) {
  const size_t at = out.size();
  out.resize(at + kMaxCsvRowBytes);
  out.resize(size_t(PutCsvRow(out.data() + at, t) - out.data()));
}

}  // namespace velmora
