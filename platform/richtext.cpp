#include "platform/richtext.h"

#include <QFont>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextFragment>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/codepage.h"

namespace velmora {
namespace {

// The three character properties a note keeps.
struct Style {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool operator==(const Style&) const = default;
};

Style StyleOf(const QTextCharFormat& f) {
  return {f.fontWeight() >= QFont::DemiBold, f.fontItalic(), f.fontUnderline()};
}

QTextCharFormat FormatOf(Style s) {
  QTextCharFormat f;
  if (s.bold) f.setFontWeight(QFont::Bold);
  if (s.italic) f.setFontItalic(true);
  if (s.underline) f.setFontUnderline(true);
  return f;
}

// Characters that QTextDocument treats as structure, not text: block and
// frame separators and the placeholder of an embedded object. Neither side
// carries them; a note has no frames or images to go with them.
bool IsStructure(char16_t c) {
  return c == u'\n' || c == u'\r' || c == 0x2029 || c == 0xFDD0 || c == 0xFDD1 || c == 0xFFFC;
}

// Loading builds the document with edits of its own; none of them should be
// something the user can undo, nor should they hold memory for undo.
class NoUndo {
 public:
  explicit NoUndo(QTextDocument& doc) : doc_(doc), was_(doc.isUndoRedoEnabled()) {
    doc_.setUndoRedoEnabled(false);
  }
  ~NoUndo() { doc_.setUndoRedoEnabled(was_); }
  NoUndo(const NoUndo&) = delete;
  NoUndo& operator=(const NoUndo&) = delete;

 private:
  QTextDocument& doc_;
  bool was_;
};

// ---------------------------------------------------------------- writing

// Appends RTF tokens and keeps source lines short. Readers ignore CR and LF
// in RTF source, so a line may break between any two tokens; it breaks
// before a blank once past kSoftWidth and anywhere once past kHardWidth
// (text without blanks).
class RtfSink {
 public:
  explicit RtfSink(std::string& out) : out_(out) {}

  void Raw(std::string_view s) {
    out_ += s;
    col_ += s.size();
    delimit_ = false;
  }

  void Word(std::string_view name) { WordToken("\\" + std::string(name)); }
  void Word(std::string_view name, int param) {
    WordToken("\\" + std::string(name) + std::to_string(param));
  }

  // An escape ("\{", "\'e9", "\u937?"): self-delimiting.
  void Escape(std::string_view tok) {
    Put(tok, false);
    delimit_ = false;
  }

  // One printable ASCII character as itself. After a control word, a letter,
  // digit, blank or hyphen would be read as part of it: a blank delimits.
  void Literal(char c) {
    const bool blank = c == ' ';
    if (!Break(blank) && delimit_ && ContinuesWord(c)) {
      out_ += ' ';
      ++col_;
    }
    out_ += c;
    ++col_;
    delimit_ = false;
  }

  void Newline() {
    out_ += "\r\n";
    col_ = 0;
    delimit_ = false;
  }

 private:
  static constexpr size_t kSoftWidth = 76;
  static constexpr size_t kHardWidth = 200;

  static bool ContinuesWord(char c) {
    return c == ' ' || c == '-' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
           (c >= 'A' && c <= 'Z');
  }
  void WordToken(const std::string& tok) {
    Put(tok, false);
    delimit_ = true;
  }
  bool Break(bool blank) {
    if (col_ >= kHardWidth || (blank && col_ >= kSoftWidth)) {
      Newline();
      return true;
    }
    return false;
  }
  void Put(std::string_view tok, bool blank) {
    Break(blank);
    out_ += tok;
    col_ += tok.size();
  }

  std::string& out_;
  size_t col_ = 0;
  bool delimit_ = false;
};

// The font character set that goes with a code page, for readers that take
// the text's code page from its font.
int FontCharset(int codePage) {
  static constexpr std::pair<int, int> kCharsets[] = {
      {874, 222},  {1250, 238}, {1251, 204}, {1253, 161}, {1254, 162},
      {1255, 177}, {1256, 178}, {1257, 186}, {1258, 163}, {932, 128},
      {936, 134},  {949, 129},  {950, 136},
  };
  for (const auto& [page, charset] : kCharsets)
    if (page == codePage) return charset;
  return 0;
}

void WriteChar(RtfSink& rtf, char16_t c) {
  static const char kHex[] = "0123456789abcdef";
  if (c == u'\\' || c == u'{' || c == u'}') {
    const char esc[] = {'\\', char(c), 0};
    rtf.Escape(esc);
  } else if (c == u'\t') {
    rtf.Word("tab");
  } else if (c == 0x2028) {
    rtf.Word("line");
  } else if (c >= 0x20 && c < 0x7F) {
    rtf.Literal(char(c));
  } else if (IsStructure(c)) {
    // Nothing to keep (see IsStructure).
  } else if (int code = TextCodePage().FromUnicode(c); code >= 0) {
    // A double-byte page's pair as two escapes, the lead first.
    for (int b : {code >> 8, code & 0xFF}) {
      if (b == 0 && code <= 0xFF) continue;
      const char esc[] = {'\\', '\'', kHex[b >> 4], kHex[b & 15], 0};
      rtf.Escape(esc);
    }
  } else {
    // Each UTF-16 unit on its own, so a character beyond U+FFFF goes out
    // as its surrogate pair, as readers expect; "\uc1" in the header says
    // one fallback character follows.
    rtf.Escape("\\u" + std::to_string(int16_t(c)) + "?");
  }
}

void WriteFontName(RtfSink& rtf, const QString& family) {
  const QString name = family.isEmpty() ? QStringLiteral("Arial") : family;
  for (QChar ch : name)
    if (ch != u';' && ch != u'\t' && ch != QChar::LineSeparator) WriteChar(rtf, ch.unicode());
}

// ---------------------------------------------------------------- reading

// Destinations whose text is not part of the note: tables, document
// properties, pictures, embedded objects, headers, footers, footnotes, field
// instructions, index and contents entries. A group marked "\*" is skipped
// whatever it is, so only those that come without it need naming here.
bool IsHiddenDestination(std::string_view w) {
  static const std::unordered_set<std::string_view> kSet = {
      "aftncn",     "aftnsep",      "aftnsepc",   "annotation",
      "atnauthor",  "atndate",      "atnid",      "atnparent",
      "atnref",     "atrfend",      "atrfstart",  "author",
      "bkmkend",    "bkmkstart",    "category",   "colorschememapping",
      "colortbl",   "comment",      "company",    "datastore",
      "doccomm",    "docvar",       "falt",       "fchars",
      "filetbl",    "fldinst",      "fonttbl",    "footer",
      "footerf",    "footerl",      "footerr",    "footnote",
      "ftncn",      "ftnsep",       "ftnsepc",    "generator",
      "header",     "headerf",      "headerl",    "headerr",
      "hlinkbase",  "info",         "keywords",   "latentstyles",
      "lchars",     "levelnumbers", "leveltext",  "listoverridetable",
      "listtable",  "manager",      "nonshppict", "objdata",
      "object",     "operator",     "panose",     "pgdsctbl",
      "pict",       "pntxta",       "pntxtb",     "private",
      "revtbl",     "rsidtbl",      "rxe",        "shpinst",
      "stylesheet", "subject",      "tc",         "tcn",
      "template",   "themedata",    "title",      "txe",
      "userprops",  "xe",           "xmlnstbl",
  };
  return kSet.count(w) != 0;
}

bool IsUnderlineOn(std::string_view w) {
  static const std::unordered_set<std::string_view> kSet = {
      "ul",         "uld",       "uldash",     "uldashd", "uldashdd", "uldb",
      "ulhwave",    "ulldash",   "ulth",       "ulthd",   "ulthdash", "ulthdashd",
      "ulthdashdd", "ulthldash", "ululdbwave", "ulw",     "ulwave",
  };
  return kSet.count(w) != 0;
}

// Control words that stand for one character.
char16_t SpecialChar(std::string_view w) {
  struct Entry {
    std::string_view word;
    char16_t ch;
  };
  static constexpr Entry kTable[] = {
      {"line", 0x2028},    {"tab", u'\t'},        {"cell", u'\t'},       {"nestcell", u'\t'},
      {"emdash", 0x2014},  {"endash", 0x2013},    {"bullet", 0x2022},    {"lquote", 0x2018},
      {"rquote", 0x2019},  {"ldblquote", 0x201C}, {"rdblquote", 0x201D}, {"emspace", 0x2003},
      {"enspace", 0x2002}, {"qmspace", 0x2005},   {"zwj", 0x200D},       {"zwnj", 0x200C},
      {"ltrmark", 0x200E}, {"rtlmark", 0x200F},
  };
  for (const Entry& e : kTable)
    if (e.word == w) return e.ch;
  return 0;
}

// The state a group saves and restores.
struct GroupState {
  Style style;
  bool hidden = false;  // "\v": hidden text
  bool skip = false;    // inside a destination that is not shown
  int64_t uc = 1;       // fallback characters after "\uN"
};

// One pass over the bytes, no recursion: groups are a stack of states, and
// every step consumes at least one byte.
class RtfReader {
 public:
  RtfReader(const QByteArray& bytes, QTextDocument& doc)
      : p_(bytes.constData()), end_(bytes.constData() + bytes.size()), cursor_(&doc) {}
  // The text alone, as the document would hold it: paragraphs end at U+2029.
  RtfReader(const QByteArray& bytes, QString& text)
      : p_(bytes.constData()), end_(bytes.constData() + bytes.size()), text_(&text) {}

  void Run() {
    while (p_ < end_) {
      const auto c = static_cast<unsigned char>(*p_++);
      switch (c) {
        case '{':
          skip_chars_ = 0;
          Open();
          break;
        case '}':
          skip_chars_ = 0;
          if (!Close()) return Finish();
          break;
        case '\\': Control(); break;
        case '\r':
        case '\n': break;  // source line ends, not text
        default:
          if (skip_chars_ > 0) {
            --skip_chars_;
          } else if (c >= 0x20 || c == '\t') {
            PutByte(c);
          }
          // Other control bytes in the source are noise.
      }
    }
    Finish();  // a file cut short keeps what came before the cut
  }

 private:
  // Deeper groups than this are dropped with everything in them; real
  // documents stay far below it.
  static constexpr size_t kMaxDepth = 1000;
  // Control words are at most 32 letters; numbers beyond this are
  // meaningless and are pinned so arithmetic on them cannot overflow.
  static constexpr size_t kMaxWord = 32;
  static constexpr int64_t kMaxParam = int64_t(1) << 40;

  void Open() {
    if (stack_.size() >= kMaxDepth) {
      ++overflow_;
      return;
    }
    stack_.push_back(st_);
  }

  // False when the outermost group has closed: the document ends there.
  bool Close() {
    if (overflow_ > 0) {
      --overflow_;
      return true;
    }
    if (stack_.empty()) return false;
    st_ = stack_.back();
    stack_.pop_back();
    return !stack_.empty();
  }

  bool Shown() const { return overflow_ == 0 && !st_.skip && !st_.hidden; }

  static bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  static int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // After the backslash.
  void Control() {
    if (p_ == end_) return;
    if (!IsLetter(*p_)) return Symbol(static_cast<unsigned char>(*p_++));

    const char* name = p_;
    while (p_ < end_ && IsLetter(*p_)) ++p_;
    const size_t len = size_t(p_ - name);

    bool has_param = false;
    int64_t param = 0;
    bool negative = false;
    if (p_ + 1 < end_ && *p_ == '-' && IsDigit(p_[1])) {
      negative = true;
      ++p_;
    }
    while (p_ < end_ && IsDigit(*p_)) {
      has_param = true;
      param = std::min(param * 10 + (*p_ - '0'), kMaxParam);
      ++p_;
    }
    if (negative) param = -param;
    if (p_ < end_ && *p_ == ' ') ++p_;  // the delimiting blank belongs to the word

    const std::string_view word =
        len <= kMaxWord ? std::string_view(name, len) : std::string_view();
    if (word == "bin") {
      // Binary data is part of the word, even where the word is skipped.
      const int64_t n = std::clamp<int64_t>(param, 0, end_ - p_);
      p_ += n;
    }
    if (skip_chars_ > 0) {
      --skip_chars_;
      return;
    }
    if (overflow_ > 0) return;
    Word(word, has_param, param);
  }

  void Word(std::string_view w, bool has_param, int64_t param) {
    const bool on = !has_param || param != 0;
    if (w == "par" || w == "sect" || w == "row" || w == "nestrow") {
      Paragraph();
    } else if (char16_t ch = SpecialChar(w)) {
      Put(ch);
    } else if (w == "b") {
      st_.style.bold = on;
    } else if (w == "i") {
      st_.style.italic = on;
    } else if (IsUnderlineOn(w)) {
      st_.style.underline = on;
    } else if (w == "ulnone") {
      st_.style.underline = false;
    } else if (w == "v") {
      st_.hidden = on;
    } else if (w == "plain") {
      st_.style = Style();
      st_.hidden = false;
    } else if (w == "uc") {
      st_.uc = std::max<int64_t>(param, 0);
    } else if (w == "u") {
      if (!has_param) return;
      const int64_t unit = param < 0 ? param + 65536 : param;
      if (unit >= 0 && unit <= 0xFFFF) Put(char16_t(unit));
      skip_chars_ = st_.uc;
    } else if (w == "ansicpg") {
      // A byte of a document stands for one character; UTF-8 documents
      // write every other character as \u.
      if (const CodePage* page = has_param ? CodePage::Find(int(param)) : nullptr;
          page && !page->IsUtf8())
        page_ = page;
    } else if (IsHiddenDestination(w)) {
      st_.skip = true;
    }
    // A file names the code page of its bytes; one we cannot use leaves
    // them in the stored texts' own. Everything else (fonts, sizes,
    // colours, paragraph layout) has no bearing on the text.
  }

  // After the backslash: a non-letter.
  void Symbol(unsigned char c) {
    if (c == '\'') {
      int value = 0, digits = 0;
      while (digits < 2 && p_ < end_ && HexValue(*p_) >= 0)
        value = value * 16 + HexValue(*p_++), ++digits;
      if (skip_chars_ > 0) {
        --skip_chars_;
        return;
      }
      if (digits == 2 && overflow_ == 0) PutByte(static_cast<unsigned char>(value));
      return;  // a cut-off "\'4" stands for nothing
    }
    if (skip_chars_ > 0) {
      --skip_chars_;
      return;
    }
    if (overflow_ > 0) return;
    switch (c) {
      case '\\':
      case '{':
      case '}': return Put(char16_t(c));
      case '~': return Put(0x00A0);
      case '-': return Put(0x00AD);
      case '_': return Put(0x2011);
      case '*':
        st_.skip = true;  // an optional destination: none of them is note text
        return;
      case '\r':
      case '\n': return Paragraph();  // a backslash before a line end is "\par"
      default: return;                // "\:", "\|" and unknown symbols: nothing to show
    }
  }

  // ---- output

  void Paragraph() {
    if (!Shown()) return;
    PutLeadAlone();
    DropHighSurrogate();
    ++pending_pars_;
  }

  // A byte of the document's page. A double-byte page's lead byte waits for
  // the byte after it, written as it is or as an escape.
  void PutByte(unsigned char b) {
    if (lead_ != 0) {
      const char pair[2] = {char(lead_), char(b)};
      size_t end = 0;
      const char32_t c = page_->NextChar(std::string_view(pair, 2), end);
      if (end == 2) {
        lead_ = 0;
        return PutChar(char16_t(c));
      }
      PutLeadAlone();
    }
    if (page_->IsLeadByte(b)) {
      lead_ = b;
      return;
    }
    PutChar(page_->ToUnicode(b));
  }

  void PutLeadAlone() {
    if (lead_ != 0) PutChar(page_->ToUnicode(std::exchange(lead_, 0)));
  }

  void Put(char16_t c) {
    PutLeadAlone();
    PutChar(c);
  }

  void PutChar(char16_t c) {
    if (!Shown() || IsStructure(c)) return;
    if (QChar::isHighSurrogate(c)) {
      DropHighSurrogate();
      high_ = c;
      return;
    }
    if (QChar::isLowSurrogate(c)) {
      if (!high_) return Append(0xFFFD);
      Append(high_);
      high_ = 0;
      return Append(c);
    }
    DropHighSurrogate();
    Append(c);
  }

  // A high surrogate not followed by its low half is no character.
  void DropHighSurrogate() {
    if (!high_) return;
    high_ = 0;
    Append(0xFFFD);
  }

  void Append(char16_t c) {
    if (pending_pars_ > 0) {
      FlushRun();
      for (; pending_pars_ > 0; --pending_pars_) NewBlock();
    }
    if (st_.style != run_style_) {
      FlushRun();
      run_style_ = st_.style;
    }
    run_ += QChar(c);
  }

  void FlushRun() {
    if (run_.isEmpty()) return;
    if (text_)
      *text_ += run_;
    else
      cursor_.insertText(run_, FormatOf(run_style_));
    run_.clear();
  }

  void NewBlock() {
    if (text_)
      *text_ += QChar::ParagraphSeparator;
    else
      cursor_.insertBlock(QTextBlockFormat(), QTextCharFormat());
  }

  // Every "\par" ended a paragraph; the last one ends the last paragraph
  // rather than opening an empty one after it.
  void Finish() {
    PutLeadAlone();
    DropHighSurrogate();
    FlushRun();
    for (; pending_pars_ > 1; --pending_pars_) NewBlock();
  }

  const char* p_;
  const char* end_;
  std::vector<GroupState> stack_;
  GroupState st_;
  int64_t overflow_ = 0;    // groups opened beyond kMaxDepth, still open
  int64_t skip_chars_ = 0;  // fallback characters of the last "\uN" still to drop
  char16_t high_ = 0;       // a high surrogate waiting for its low half
  unsigned char lead_ = 0;  // a lead byte waiting for the rest of its character
  // Of the file's bytes, as it declares.
  const CodePage* page_ = TextCodePage().IsUtf8() ? &CodePage::Windows1252() : &TextCodePage();

  QTextCursor cursor_;       // where the document grows, unless
  QString* text_ = nullptr;  // the text alone is wanted
  QString run_;              // text not yet inserted, all in run_style_
  Style run_style_;
  int64_t pending_pars_ = 0;
};

}  // namespace

QByteArray WriteRtf(const QTextDocument& doc) {
  std::string out;
  RtfSink rtf(out);
  const int page = TextCodePage().number();
  rtf.Raw("{\\rtf1\\ansi\\ansicpg" + std::to_string(page) +
          "\\deff0\\uc1{\\fonttbl{\\f0\\fswiss\\fcharset" + std::to_string(FontCharset(page)) +
          " ");
  WriteFontName(rtf, doc.defaultFont().family());
  rtf.Raw(";}}");
  rtf.Newline();
  rtf.Raw("\\pard\\plain\\f0");
  const double points = doc.defaultFont().pointSizeF();
  if (points > 0) rtf.Word("fs", int(std::lround(std::min(points, 1000.0) * 2)));

  // An empty note writes no paragraph at all; it reads back as the one
  // empty block every document has.
  if (!doc.isEmpty()) {
    Style current;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
      for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        const Style s = StyleOf(fragment.charFormat());
        if (s.bold != current.bold) rtf.Word(s.bold ? "b" : "b0");
        if (s.italic != current.italic) rtf.Word(s.italic ? "i" : "i0");
        if (s.underline != current.underline) rtf.Word(s.underline ? "ul" : "ulnone");
        current = s;
        for (QChar ch : fragment.text()) WriteChar(rtf, ch.unicode());
      }
      rtf.Word("par");
      rtf.Newline();
    }
  }
  rtf.Raw("}");
  rtf.Newline();
  return QByteArray(out.data(), qsizetype(out.size()));
}

bool ReadRtf(const QByteArray& bytes, QTextDocument& out) {
  if (!bytes.startsWith("{\\rtf")) return false;
  NoUndo no_undo(out);
  out.clear();
  RtfReader(bytes, out).Run();
  return true;
}

namespace {

// Text in the code page as a document holds it: CR LF, CR and LF become LF,
// and a line end at the very end is dropped.
QString PlainTextOf(const QByteArray& bytes) {
  const CodePage& page = TextCodePage();
  QString text;
  if (page.IsMultiByte()) {
    // CR and LF are never part of a character of several bytes.
    text = page.Decode(std::string_view(bytes.data(), size_t(bytes.size())));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    if (text.endsWith(u'\n')) text.chop(1);
    return text;
  }
  text.reserve(bytes.size());
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '\r') {
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      text += u'\n';
    } else {
      text += QChar(page.ToUnicode(c));
    }
  }
  if (text.endsWith(u'\n')) text.chop(1);
  return text;
}

}  // namespace

void ReadPlainText(const QByteArray& bytes, QTextDocument& out) {
  const QString text = PlainTextOf(bytes);
  NoUndo no_undo(out);
  out.clear();
  QTextCursor(&out).insertText(text, QTextCharFormat());
}

NoteLoad LoadNote(const QByteArray& bytes, QTextDocument& out) {
  if (bytes.size() > kMaxNoteBytes) return NoteLoad::kFailed;
  if (ReadRtf(bytes, out)) return NoteLoad::kRtf;
  ReadPlainText(bytes, out);
  return NoteLoad::kPlainText;
}

std::optional<QString> LoadNotePlainText(const QByteArray& bytes) {
  if (bytes.size() > kMaxNoteBytes) return std::nullopt;
  QString text;
  if (bytes.startsWith("{\\rtf")) {
    text.reserve(bytes.size());
    RtfReader(bytes, text).Run();
  } else {
    text = PlainTextOf(bytes);
  }
  // What QTextDocument::toPlainText makes of the document's text.
  for (QChar& c : text) {
    if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
      c = u'\n';
    else if (c == QChar::Nbsp)
      c = u' ';
  }
  return text;
}

}  // namespace velmora
