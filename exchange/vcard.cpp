#include "exchange/vcard.h"

#include <QByteArray>
#include <cstring>
#include <utility>

#include "exchange/fieldtext.h"
#include "platform/text.h"

namespace velmora {
namespace {

constexpr size_t kFoldAt = 75;

// ---------------------------------------------------------------------------
// Reading

struct ContentLine {
  std::string_view name;    // without its group
  std::string_view params;  // after the name's ";", up to the ":"
  std::string_view value;
};

struct Params {
  bool qp = false;
  bool base64 = false;
  std::string charset;
};

// A piece of a line for a message: short, and cut between characters.
std::string Quoted(std::string_view line) {
  size_t n = std::min<size_t>(line.size(), 40);
  while (n > 0 && n < line.size() && (static_cast<unsigned char>(line[n]) & 0xC0) == 0x80) --n;
  std::string out = "\"" + std::string(line.substr(0, n)) + (n < line.size() ? "...\"" : "\"");
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return out;
}

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.';
}

bool IsBlank(std::string_view line) {
  for (char c : line)
    if (!IsTrimmed(c)) return false;
  return true;
}

// False when the line is no content line at all.
bool TrySplit(std::string_view line, ContentLine& cl) {
  size_t i = 0;
  while (i < line.size() && IsNameChar(line[i])) ++i;
  std::string_view name = line.substr(0, i);
  const size_t dot = name.rfind('.');
  if (dot != std::string_view::npos) name.remove_prefix(dot + 1);
  if (name.empty() || i == line.size() || (line[i] != ';' && line[i] != ':')) return false;
  cl = {name, {}, {}};
  if (line[i] == ';') {
    // A quoted parameter value may hold ":" and ";".
    const size_t from = ++i;
    bool quoted = false;
    while (i < line.size() && (quoted || line[i] != ':')) quoted ^= line[i++] == '"';
    if (i == line.size()) return false;
    cl.params = line.substr(from, i - from);
  }
  cl.value = line.substr(i + 1);
  return true;
}

ContentLine Split(std::string_view line, uint64_t at) {
  ContentLine cl;
  if (!TrySplit(line, cl)) throw FormatError(at, "not a vCard line: " + Quoted(line));
  return cl;
}

Params ParseParams(std::string_view raw) {
  Params p;
  while (!raw.empty()) {
    size_t end = 0;
    for (bool quoted = false; end < raw.size() && (quoted || raw[end] != ';'); ++end)
      quoted ^= raw[end] == '"';
    std::string_view param = raw.substr(0, end);
    raw.remove_prefix(std::min(end + 1, raw.size()));

    // 2.1 allows a value without its name: "TEL;HOME;QUOTED-PRINTABLE:".
    const size_t eq = param.find('=');
    const std::string key =
        eq == std::string_view::npos ? "" : UpperCase(Trim(param.substr(0, eq)));
    std::string value = Trim(eq == std::string_view::npos ? param : param.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    const std::string upper = UpperCase(value);
    if (key == "ENCODING" || key.empty()) {
      if (upper == "QUOTED-PRINTABLE") p.qp = true;
      if (upper == "B" || upper == "BASE64") p.base64 = true;
    } else if (key == "CHARSET") {
      p.charset = value;
    }
  }
  return p;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string DecodeQuotedPrintable(std::string_view v, uint64_t at) {
  std::string out;
  out.reserve(v.size());
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] != '=') {
      out.push_back(v[i]);
      continue;
    }
    const int hi = i + 1 < v.size() ? HexDigit(v[i + 1]) : -1;
    const int lo = i + 2 < v.size() ? HexDigit(v[i + 2]) : -1;
    if (hi < 0 || lo < 0)
      throw FormatError(at, "quoted-printable \"=\" not followed by two hex digits");
    out.push_back(char(hi * 16 + lo));
    i += 2;
  }
  return out;
}

std::string DecodeBase64(std::string_view v, uint64_t at) {
  QByteArray in;
  for (char c : v)
    if (!IsTrimmed(c)) in.push_back(c);
  auto decoded = QByteArray::fromBase64Encoding(in, QByteArray::AbortOnBase64DecodingErrors);
  if (!decoded) throw FormatError(at, "a base64 value that is not base64");
  return decoded.decoded.toStdString();
}

// Backslash escapes: 3.0 and 4.0 escape "\", ",", ";" and line breaks; 2.1
// only ";" (and "\" before it). Anything else after a backslash stays as it is.
void Unescape(std::string& out, std::string_view v, bool v21) {
  for (size_t i = 0; i < v.size(); ++i) {
    const char next = i + 1 < v.size() ? v[i + 1] : 0;
    if (v[i] == '\\' && (next == ';' || next == '\\' || (!v21 && next == ','))) {
      out.push_back(next);
      ++i;
    } else if (v[i] == '\\' && !v21 && (next == 'n' || next == 'N')) {
      out.push_back('\n');
      ++i;
    } else {
      out.push_back(v[i]);
    }
  }
}

std::string TextValue(std::string_view raw, const Params& p, bool v21, uint64_t at) {
  std::string bytes = p.qp       ? DecodeQuotedPrintable(raw, at)
                      : p.base64 ? DecodeBase64(raw, at)
                                 : std::string(raw);
  std::string utf8;
  // A character set not known here is read as no character set: UTF-8
  // where the bytes are that, else Windows-1252.
  if (!AppendDecoded(utf8, bytes, p.charset)) AppendDecoded(utf8, bytes, {});
  std::string out;
  Unescape(out, utf8, v21);
  return out;
}

// The components of N up to the given name: family;given;...
std::pair<std::string_view, std::string_view> FamilyAndGiven(std::string_view v) {
  size_t parts[3] = {0, v.size(), v.size()};
  int found = 0;
  for (size_t i = 0; i < v.size() && found < 2; ++i) {
    if (v[i] == '\\') {
      ++i;
    } else if (v[i] == ';') {
      parts[++found] = i;
    }
  }
  std::string_view family = v.substr(0, parts[1]);
  std::string_view given = found >= 1 ? v.substr(parts[1] + 1, parts[2] - parts[1] - 1) : "";
  return {family, given};
}

bool Is(std::string_view name, std::string_view want) { return SameName(name, want); }

bool IsVcardMarker(const ContentLine& cl, std::string_view which) {
  return Is(cl.name, which) && SameName(Trim(cl.value), "VCARD");
}

// A quoted-printable value's soft line break at the line's end, "=" and
// maybe blanks, is taken off; false when the line has none.
bool TakeSoftBreak(std::string& line) {
  size_t end = line.size();
  while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
  if (end == 0 || line[end - 1] != '=') return false;
  ContentLine cl;
  if (!TrySplit(line, cl) || !ParseParams(cl.params).qp) return false;
  line.resize(end - 1);
  return true;
}

}  // namespace

bool VcardLines::Next() {
  line_.clear();
  lineAt_ = in_.line();
  begin_ = in_.offset();
  brokenAtEnd_ = false;
  if (!in_.ReadLine(line_, kMaxLineBytes)) return false;
  for (;;) {
    textEnd_ = in_.textEnd();
    end_ = in_.offset();
    // Empty lines carry nothing, also inside a folded value: some phones end
    // every line with CR CR LF.
    int c;
    while ((c = in_.Peek()) == '\r' || c == '\n') in_.Get();
    if ((brokenAtEnd_ = TakeSoftBreak(line_))) {
      // The value goes on at the start of the next line; a blank there is
      // a fold's, which some writers add as well.
      if (c == ' ' || c == '\t') in_.Get();
    } else if (c == ' ' || c == '\t') {
      // 2.1 keeps the blank that starts a folded line; later versions drop it.
      if (!v21) in_.Get();
    } else {
      return true;
    }
    if (!in_.ReadLine(line_, kMaxLineBytes)) return true;
    brokenAtEnd_ = false;
  }
}

bool VcardReader::Next(ExchangeEntry& e) {
  const std::string& line = lines_.line();
  while (!begun_) {
    if (!lines_.Next()) return false;
    if (IsBlank(line)) continue;
    ContentLine cl;
    if (!TrySplit(line, cl) || !IsVcardMarker(cl, "BEGIN"))
      throw FormatError(lines_.lineNumber(), "expected BEGIN:VCARD, found " + Quoted(line));
    break;
  }
  begun_ = false;
  lines_.v21 = false;
  e = {};
  int depth = 1;
  bool haveN = false, haveFn = false, haveNote = false;
  std::string family, given, fn;
  int tels = 0;
  bool agent = false;  // the property before was AGENT

  for (;;) {
    // A file cut short after its last card's properties still holds them.
    if (!lines_.Next()) break;
    if (IsBlank(line)) continue;
    const uint64_t lineAt = lines_.lineNumber();
    const bool v21 = lines_.v21;
    const ContentLine cl = Split(line, lineAt);
    const Params p = ParseParams(cl.params);
    const bool afterAgent = std::exchange(agent, Is(cl.name, "AGENT"));

    if (IsVcardMarker(cl, "BEGIN")) {
      // A card inside the card (2.1 AGENT) is passed over; any other BEGIN
      // starts the next card, this one having lost its END:VCARD.
      if (depth == 1 && !afterAgent) {
        begun_ = true;
        break;
      }
      ++depth;
    } else if (IsVcardMarker(cl, "END")) {
      if (--depth == 0) break;
    } else if (depth > 1) {
      continue;
    } else if (Is(cl.name, "VERSION")) {
      lines_.v21 = Trim(cl.value) == "2.1";
    } else if (Is(cl.name, "N") && !haveN) {
      auto [f, g] = FamilyAndGiven(cl.value);
      family = TextValue(f, p, v21, lineAt);
      given = TextValue(g, p, v21, lineAt);
      haveN = true;
    } else if (Is(cl.name, "FN") && !haveFn) {
      fn = TextValue(cl.value, p, v21, lineAt);
      haveFn = true;
    } else if (Is(cl.name, "TEL") && tels < 2) {
      std::string tel = TextValue(cl.value, p, v21, lineAt);
      // 4.0 writes numbers as tel: URIs.
      if (tel.size() >= 4 && SameName(std::string_view(tel).substr(0, 4), "tel:")) tel.erase(0, 4);
      if (!Trim(tel).empty()) (tels++ == 0 ? e.phone1 : e.phone2) = std::move(tel);
    } else if (Is(cl.name, "NOTE") && !haveNote) {
      e.comments = TextValue(cl.value, p, v21, lineAt);
      haveNote = true;
    }
  }

  if (haveN && !(family.empty() && given.empty())) {
    e.name = std::move(given);
    e.surname = std::move(family);
  } else if (haveFn) {
    // "Ann Marie Smith": the surname is the last word.
    const std::string whole = Trim(fn);
    const size_t blank = whole.find_last_of(" \t");
    if (blank == std::string::npos) {
      e.name = whole;
    } else {
      e.name = Trim(std::string_view(whole).substr(0, blank));
      e.surname = Trim(std::string_view(whole).substr(blank + 1));
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Writing

namespace {

// What each byte needs on its way into a text value: nothing (copied as it
// stands), its UTF-8 (the code page's upper half), or an escape.
enum ByteKind : unsigned char { kPlain, kHigh, kEscaped };

struct ByteKinds {
  ByteKind text[256], component[256];
};

const ByteKinds& Kinds() {
  static const ByteKinds kKinds = [] {
    ByteKinds k;
    for (int b = 0; b < 256; ++b) {
      const bool escaped = (b < 0x20 && b != '\t') || b == '\\' || b == ',';
      const ByteKind kind = b >= 0x80 ? kHigh : escaped ? kEscaped : kPlain;
      k.text[b] = kind;
      k.component[b] = b == ';' ? kEscaped : kind;
    }
    return k;
  }();
  return kKinds;
}

std::string_view Trimmed(std::string_view t) {
  while (!t.empty() && IsTrimmed(t.front())) t.remove_prefix(1);
  while (!t.empty() && IsTrimmed(t.back())) t.remove_suffix(1);
  return t;
}

// A text value: "\" and "," escaped, and ";" in a component of N; line
// breaks as "\n"; other control characters, which a card may not hold, as
// blanks. The text is in the code page; each character takes at most three
// bytes.
char* PutEscaped(char* w, std::string_view text, bool component, bool wordWise) {
  constexpr unsigned kAlso = kHighBytes | kControls;
  if (wordWise && !(component ? HasAny<kAlso, '\\', ',', ';'>(text.data(), text.size())
                              : HasAny<kAlso, '\\', ','>(text.data(), text.size())))
    return CopyWithSlack(w, text.data(), text.size());
  const ByteKind* kind = component ? Kinds().component : Kinds().text;
  const Utf8Code* codes = Utf8Codes();
  for (size_t i = 0; i < text.size(); ++i) {
    // Runs of plain ASCII, most texts wholly, in one copy.
    size_t end = i;
    while (end < text.size() && kind[static_cast<unsigned char>(text[end])] == kPlain) ++end;
    w = Put(w, text.substr(i, end - i));
    if ((i = end) == text.size()) break;
    const auto c = static_cast<unsigned char>(text[i]);
    switch (kind[c]) {
      case kPlain: *w++ = char(c); break;
      case kHigh: w = PutUtf8(w, codes, c); break;
      case kEscaped:
        if (c == '\r' || c == '\n') {
          w = Put(w, "\\n");
          if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c < 0x20) {
          *w++ = ' ';
        } else {
          *w++ = '\\';
          *w++ = char(c);
        }
        break;
    }
  }
  return w;
}

// The same for a text that is UTF-8 already, of any length.
void AppendEscapedUtf8(std::string& out, std::string_view text) {
  const ByteKind* kind = Kinds().text;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (kind[c] != kEscaped) {
      out.push_back(char(c));
    } else if (c == '\r' || c == '\n') {
      out.append("\\n");
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c < 0x20) {
      out.push_back(' ');
    } else {
      out.push_back('\\');
      out.push_back(char(c));
    }
  }
}

// A content line, folded: no line longer than 75 octets, a continuation
// starting with one blank, and no character cut in two.
template <class PutPiece>
void Fold(std::string_view line, PutPiece put) {
  size_t room = kFoldAt;
  while (line.size() > room) {
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    // Bytes kept from a card need not be UTF-8: a run of nothing but
    // continuation bytes is cut where it stands.
    if (cut == 0) cut = room;
    put(line.substr(0, cut));
    put("\r\n ");
    line.remove_prefix(cut);
    room = kFoldAt - 1;
  }
  put(line);
  put("\r\n");
}

// Ends the content line written from `start` to w; most are short and stay
// as they are.
char* EndLine(char* start, char* w) {
  if (size_t(w - start) <= kFoldAt) return Put(w, "\r\n");
  const std::string line(start, w);
  w = start;
  Fold(line, [&](std::string_view piece) { w = Put(w, piece); });
  return w;
}

// The card up to its comments' NOTE, which comes also when the comments are
// empty if noteAlways.
char* PutCardStart(char* w, const TextsView& t, bool noteAlways) {
  if (const std::optional<RecordTexts> decoded = DecodedForWriters(t)) [[unlikely]] {
    TextsView utf8(*decoded);
    utf8.utf8 = true;
    return PutCardStart(w, utf8, noteAlways);
  }
  w = Put(w, "BEGIN:VCARD\r\nVERSION:4.0\r\n");
  char* line = w;
  auto escaped = [&t](char* at, std::string_view text, bool component) {
    return PutEscaped(at, text, component, WordWise(t, text));
  };
  const std::string_view name = Trimmed(t.name), surname = Trimmed(t.surname);
  w = escaped(Put(w, "FN:"), name, false);
  if (!name.empty() && !surname.empty()) *w++ = ' ';
  w = EndLine(line, escaped(w, surname, false));

  line = w;
  w = escaped(Put(w, "N:"), t.surname, true);
  *w++ = ';';
  w = EndLine(line, Put(escaped(w, t.name, true), ";;;"));

  for (std::string_view phone : {t.phone1, t.phone2}) {
    if (phone.empty()) continue;
    line = w;
    w = EndLine(line, escaped(Put(w, "TEL:"), phone, false));
  }
  // The comments are the first NOTE, also when empty, so that a reader
  // never takes the extra text for them.
  if (!t.comments.empty() || noteAlways) {
    line = w;
    w = EndLine(line, escaped(Put(w, "NOTE:"), t.comments, false));
  }
  return w;
}

constexpr std::string_view kEnd = "END:VCARD\r\n";

}  // namespace

char* PutVcard(char* w, const TextsView& t) { return Put(PutCardStart(w, t, false), kEnd); }

void AppendVcard(std::string& out, const TextsView& t,
                 const std::optional<std::string>& extraText) {
  const size_t at = out.size();
  out.resize(at + kMaxCardBytes);
  out.resize(size_t(PutCardStart(out.data() + at, t, extraText.has_value()) - out.data()));
  if (extraText) {
    std::string line = "NOTE:";
    AppendEscapedUtf8(line, *extraText);
    Fold(line, [&](std::string_view piece) { out.append(piece); });
  }
  out.append(kEnd);
}

}  // namespace velmora

// ---------------------------------------------------------------------------
// Rewriting velmora's properties of a card in place

namespace velmora {

namespace {

// The bytes of a card in memory as an input.
ByteSource SourceOf(std::string_view card) {
  return [card, at = size_t(0)](char* buf, size_t n) mutable {
    const size_t k = std::min(n, card.size() - at);
    std::memcpy(buf, card.data() + at, k);
    at += k;
    return k;
  };
}

}  // namespace

ExchangeEntry ReadVcard(std::string_view card) {
  VcardReader reader(SourceOf(card));
  ExchangeEntry e;
  if (!reader.Next(e)) throw FormatError(1, "no card");
  return e;
}

namespace {

// A text value as UTF-8 for a card of the given version: 3.0 and 4.0
// escape "\", "," and line breaks (and ";" in a component); 2.1 knows only
// "\;" and "\\", so its line breaks become blanks.
std::string EscapeUtf8(std::string_view text, bool component, bool v21) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' || (c == ';' && (component || v21)) || (c == ',' && !v21)) {
      out.push_back('\\');
      out.push_back(c);
    } else if ((c == '\r' || c == '\n') && !v21) {
      out.append("\\n");
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
      out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// The parameters of a line without those that describe how the old value
// was encoded; the new value is plain UTF-8.
std::string ParamsWithoutEncoding(std::string_view raw) {
  std::string out;
  while (!raw.empty()) {
    size_t end = 0;
    for (bool quoted = false; end < raw.size() && (quoted || raw[end] != ';'); ++end)
      quoted ^= raw[end] == '"';
    const std::string_view param = raw.substr(0, end);
    raw.remove_prefix(std::min(end + 1, raw.size()));
    const size_t eq = param.find('=');
    const std::string key = UpperCase(Trim(param.substr(0, eq)));
    const bool encoding = eq == std::string_view::npos
                              ? key == "QUOTED-PRINTABLE" || key == "BASE64" || key == "B"
                              : key == "ENCODING" || key == "CHARSET";
    if (encoding || param.empty()) continue;
    out += ';';
    out += param;
  }
  return out;
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// N's raw value after its given name ("additional;prefix;suffix"), with
// the ";" that leads it; empty when there is none.
std::string_view AfterGiven(std::string_view v) {
  int found = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '\\') {
      ++i;
    } else if (v[i] == ';' && ++found == 2) {
      return v.substr(i);
    }
  }
  return {};
}

// Rewrites the first card: each property is found as the reader finds it,
// through VcardLines, and only the bytes of the properties replaced change.
// Every other byte, line ends and empty lines included, is copied.
class CardEditor {
 public:
  CardEditor(std::string_view card, const ExchangeEntry& entry, unsigned fields)
      : card_(card), e_(entry), fields_(fields), lines_(SourceOf(card)) {
    eol_ = card.find("\r\n") != std::string_view::npos ? "\r\n"
           : card.find('\n') != std::string_view::npos ? "\n"
                                                       : "\r";
  }

  std::string Run() {
    int depth = 0;
    bool agent = false;  // the property before was AGENT
    bool ended = false;
    std::optional<uint64_t> broken;  // the end of a soft break that ends the input
    uint64_t agentAt = 0;            // where the AGENT line starts whose card is open
    uint64_t before = 0;             // where the line before starts
    while (!ended && lines_.Next()) {
      ContentLine cl;
      if (IsBlank(lines_.line()) || !TrySplit(lines_.line(), cl)) continue;
      const bool afterAgent = std::exchange(agent, Is(cl.name, "AGENT"));
      const uint64_t previous = std::exchange(before, lines_.begin());
      // As the reader: a BEGIN at the card's own level that no AGENT leads
      // starts the next card, this one having lost its END.
      if (IsVcardMarker(cl, "BEGIN") && (depth != 1 || afterAgent)) {
        if (depth++ == 1) agentAt = previous;
      } else if (IsVcardMarker(cl, "BEGIN") || (IsVcardMarker(cl, "END") && --depth == 0)) {
        CopyUpTo(lines_.begin());
        AddMissing();
        ended = true;
      } else if (depth == 1) {
        Edit(cl);
      }
      if (lines_.brokenAtEnd()) broken = lines_.textEnd();
    }
    if (!ended && depth > 1) {
      // Cut short inside an AGENT's card: what the card lacks goes before
      // the AGENT, where the card is still its own.
      CopyUpTo(agentAt);
      AddMissing();
    } else if (!ended) {
      // A card cut short after its properties: what it lacks goes at its
      // end, on a line of its own. A soft break there would take that line
      // in, and joins nothing as it stands: it goes.
      if (broken && *broken > copied_) {
        CopyUpTo(*broken);
        while (!out_.empty() && (out_.back() == ' ' || out_.back() == '\t')) out_.pop_back();
        if (!out_.empty() && out_.back() == '=') out_.pop_back();
      }
      CopyUpTo(card_.size());
      if (!out_.empty() && out_.back() != '\n' && out_.back() != '\r') out_ += eol_;
      AddMissing();
    }
    CopyUpTo(card_.size());
    return std::move(out_);
  }

 private:
  bool Wants(int field) const { return (fields_ & FieldBit(field)) != 0; }
  bool WantsName() const { return Wants(ContactRecord::kName) || Wants(ContactRecord::kSurname); }

  void CopyUpTo(uint64_t at) {
    if (at > copied_) out_.append(card_.substr(copied_, at - copied_));
    copied_ = std::max<uint64_t>(copied_, at);
  }
  // The current line gives way to `value`; its last line end and the empty
  // lines after it stay.
  void Replace(std::string_view head, std::string_view params, const std::string& value) {
    CopyUpTo(lines_.begin());
    Put(head, params, value, false);
    copied_ = lines_.textEnd();
  }
  // The current line goes with its line end.
  void Drop() {
    CopyUpTo(lines_.begin());
    copied_ = lines_.end();
  }

  void Edit(const ContentLine& cl) {
    const std::string& text = lines_.line();
    const bool v21 = lines_.v21;
    const std::string_view head =
        std::string_view(text).substr(0, size_t(cl.name.data() - text.data()) + cl.name.size());
    if (Is(cl.name, "VERSION")) {
      lines_.v21 = Trim(cl.value) == "2.1";
    } else if (Is(cl.name, "N") && !haveN_) {
      haveN_ = true;
      if (!WantsName()) return;
      const Params p = ParseParams(cl.params);
      const std::string_view rest = p.qp || p.base64 ? std::string_view() : AfterGiven(cl.value);
      Replace(head, cl.params, NValue(rest));
    } else if (Is(cl.name, "FN") && !haveFn_) {
      haveFn_ = true;
      if (WantsName()) Replace(head, cl.params, FnValue());
    } else if (Is(cl.name, "TEL") && tels_ < 2) {
      std::string tel = TextValue(cl.value, ParseParams(cl.params), v21, 0);
      const bool uri = tel.size() >= 4 && SameName(std::string_view(tel).substr(0, 4), "tel:");
      if (uri) tel.erase(0, 4);
      if (Trim(tel).empty()) return;
      const int field = ContactRecord::kPhone1 + tels_++;
      if (!Wants(field)) return;
      const std::string& phone = field == ContactRecord::kPhone1 ? e_.phone1 : e_.phone2;
      if (phone.empty())
        Drop();
      else
        Replace(head, cl.params, (uri ? "tel:" : "") + EscapeUtf8(phone, false, v21));
    } else if (Is(cl.name, "NOTE") && !haveNote_) {
      haveNote_ = true;
      if (Wants(ContactRecord::kComments))
        Replace(head, cl.params, EscapeUtf8(e_.comments, false, v21));
    }
  }

  std::string NValue(std::string_view rest) const {
    const bool v21 = lines_.v21;
    return EscapeUtf8(e_.surname, true, v21) + ";" + EscapeUtf8(e_.name, true, v21) +
           (rest.empty() ? std::string(";;;") : std::string(rest));
  }
  std::string FnValue() const {
    const std::string name = Trim(e_.name), surname = Trim(e_.surname);
    return EscapeUtf8(name + (name.empty() || surname.empty() ? "" : " ") + surname, false,
                      lines_.v21);
  }

  // Lines for the properties the card lacks, where out_ stands.
  void AddMissing() {
    const bool v21 = lines_.v21;
    if (WantsName() && !haveN_) Put("N", "", NValue({}), true);
    if (WantsName() && !haveFn_) Put("FN", "", FnValue(), true);
    for (int field : {ContactRecord::kPhone1, ContactRecord::kPhone2}) {
      const std::string& phone = field == ContactRecord::kPhone1 ? e_.phone1 : e_.phone2;
      if (field >= ContactRecord::kPhone1 + tels_ && Wants(field) && !phone.empty())
        Put("TEL", "", EscapeUtf8(phone, false, v21), true);
    }
    if (!haveNote_ && Wants(ContactRecord::kComments) && !e_.comments.empty())
      Put("NOTE", "", EscapeUtf8(e_.comments, false, v21), true);
  }

  void Put(std::string_view head, std::string_view params, const std::string& value, bool lineEnd) {
    std::string line(head);
    line += ParamsWithoutEncoding(params);
    if (lines_.v21 && !IsAscii(value)) line += ";CHARSET=UTF-8";
    line += ':';
    line += value;
    if (lines_.v21) {
      // 2.1 keeps the blank that starts a folded line, so a fold would add
      // one to the value: the line stays whole, as readers take it.
      out_ += line;
    } else {
      Fold(line, [&](std::string_view piece) {
        out_.append(piece == "\r\n"    ? std::string()
                    : piece == "\r\n " ? eol_ + " "
                                       : std::string(piece));
      });
    }
    if (lineEnd) out_ += eol_;
  }

  std::string_view card_;
  const ExchangeEntry& e_;
  unsigned fields_;
  VcardLines lines_;
  std::string eol_;      // the card's own line end
  uint64_t copied_ = 0;  // card_ up to here is in out_ or dropped
  std::string out_;
  bool haveN_ = false, haveFn_ = false, haveNote_ = false;
  int tels_ = 0;  // non-empty TEL lines seen, as the reader counts them
};

}  // namespace

std::string ReplaceVcardFields(std::string_view card, const ExchangeEntry& entry, unsigned fields) {
  ReadVcard(card);  // a malformed card is refused, not half rewritten
  return CardEditor(card, entry, fields).Run();
}

}  // namespace velmora
