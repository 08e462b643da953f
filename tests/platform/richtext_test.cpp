#include "platform/richtext.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextFragment>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/testdir.h"

namespace velmora {
namespace {

// The text a note shows, written the way the fixtures' expected files are:
// each paragraph followed by LF, a line break as LF; nothing for a document
// without text.
std::string Shown(const QTextDocument& doc) {
  if (doc.isEmpty()) return "";
  QString out;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
    out += b.text().replace(QChar::LineSeparator, u'\n');
    out += u'\n';
  }
  return out.toStdString();
}

// Paragraphs and their formatted runs, e.g. "plain <b>bold</b>|next", with
// neighbouring fragments of the same look merged.
std::string Describe(const QTextDocument& doc) {
  QString out;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
    if (b != doc.begin()) out += u'|';
    QString last;
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QTextCharFormat f = it.fragment().charFormat();
      QString tag;
      if (f.fontWeight() >= QFont::DemiBold) tag += u'b';
      if (f.fontItalic()) tag += u'i';
      if (f.fontUnderline()) tag += u'u';
      if (tag != last) {
        if (!last.isEmpty()) out += "</" + last + ">";
        if (!tag.isEmpty()) out += "<" + tag + ">";
        last = tag;
      }
      out += it.fragment().text();
    }
    if (!last.isEmpty()) out += "</" + last + ">";
  }
  return out.toStdString();
}

struct Run {
  QString text;
  const char* look = "";  // any of "b", "i", "u"
};

// A document from paragraphs of runs.
void Fill(QTextDocument& doc, const std::vector<std::vector<Run>>& paragraphs) {
  doc.clear();
  QTextCursor c(&doc);
  for (size_t p = 0; p < paragraphs.size(); ++p) {
    if (p > 0) c.insertBlock(QTextBlockFormat(), QTextCharFormat());
    for (const Run& r : paragraphs[p]) {
      const std::string look = r.look;
      QTextCharFormat f;
      if (look.find('b') != std::string::npos) f.setFontWeight(QFont::Bold);
      if (look.find('i') != std::string::npos) f.setFontItalic(true);
      if (look.find('u') != std::string::npos) f.setFontUnderline(true);
      c.insertText(r.text, f);
    }
  }
}

std::string Read(const std::string& rtf) {
  QTextDocument doc;
  EXPECT_TRUE(ReadRtf(QByteArray::fromStdString(rtf), doc));
  return Shown(doc);
}

std::string ReadDescribed(const std::string& rtf) {
  QTextDocument doc;
  EXPECT_TRUE(ReadRtf(QByteArray::fromStdString(rtf), doc));
  return Describe(doc);
}

// ------------------------------------------------------------ round trips

class RichTextRoundTrip : public ::testing::Test {
 protected:
  // Writes `doc`, checks the bytes are well-formed RTF source, reads them back.
  void ExpectRoundTrip(const QTextDocument& doc) {
    const QByteArray rtf = WriteRtf(doc);
    ASSERT_TRUE(rtf.startsWith("{\\rtf1\\ansi\\ansicpg1252\\deff0")) << rtf.left(60).toStdString();
    int depth = 0, line = 0;
    for (qsizetype i = 0; i < rtf.size(); ++i) {
      const auto c = static_cast<unsigned char>(rtf[i]);
      ASSERT_LT(c, 0x80) << "every byte above 127 is escaped, at " << i;
      if (c == '\\')
        ++i;  // an escaped brace is no group
      else if (c == '{')
        ++depth;
      else if (c == '}')
        --depth;
      line = (c == '\n') ? 0 : line + 1;
      ASSERT_LE(line, 260) << "source lines stay short";
    }
    EXPECT_EQ(depth, 0) << "groups balance";

    QTextDocument back;
    back.setPlainText("whatever was there before");
    ASSERT_TRUE(ReadRtf(rtf, back));
    EXPECT_EQ(Describe(back), Describe(doc)) << rtf.toStdString();
    EXPECT_EQ(back.blockCount(), doc.blockCount());
  }
};

TEST_F(RichTextRoundTrip, PlainTextsComeBackUnchanged) {
  const QString sep = QChar(QChar::LineSeparator);
  const std::vector<QString> texts = {
      "",
      "one line",
      "Zo\u00eb M\u00fcller, Caf\u00e9 cr\u00e8me, \u00c6r\u00f8, \u0153uvre, 20 \u20ac, "
      "\u201cquoted\u201d \u2013 \u2026 \u2122",
      "Braces {x} {{a}} } {, back\\slash, C:\\Notes\\par.txt, \\'e9, \\u233?, \\\\",
      "Tab\tseparated\t\tvalues\t",
      "first\n\nafter an empty paragraph",
      "\n\nstarts with two empty paragraphs",
      "ends with an empty paragraph\n",
      "ends with two\n\n",
      "\n",
      "a line" + sep + "broken" + sep + sep + "twice",
      "   leading and trailing blanks   ",
      "non-breaking\u00a0space, soft\u00adhyphen, non\u2011breaking hyphen",
      "outside the code page: \u03a9mega \u0416 \u4e2d \U0001F600 \U0001F9D1\u200D\U0001F4BB end",
      "? is itself, and so are ?? and \\?",
      QString(5000, u'x'),
      QString("word ").repeated(2000),
      QString("\u00e9\u03a9{").repeated(700),
      "control bytes \x01\x1f survive",
  };
  for (const QString& text : texts) {
    SCOPED_TRACE(text.left(80).toStdString());
    QTextDocument doc;
    QTextCursor(&doc).insertText(text);
    ExpectRoundTrip(doc);
  }
}

TEST_F(RichTextRoundTrip, BoldItalicUnderlineRunsComeBack) {
  QTextDocument doc;
  Fill(doc, {
                {{"plain "}, {"bold", "b"}, {" "}, {"italic", "i"}, {" "}, {"under", "u"}},
                {{"all three", "biu"}, {" then "}, {"bi", "bi"}, {"iu", "iu"}, {"bu", "bu"}},
                // Runs that start with what would continue a control word.
                {{"x"}, {"5 digits", "b"}, {"-dash", "i"}, {" blank", "u"}, {"?q", "b"}},
                {{"bold across", "b"}},
                {{"the paragraph break", "b"}, {" \u00e9t\u00e9 \u03a9\t{}", "iu"}},
                {},
                {{"after an empty one", "u"}},
            });
  ExpectRoundTrip(doc);
}

TEST_F(RichTextRoundTrip, KeepsEverythingOutsideTheCodePage) {
  QTextDocument doc;
  Fill(doc, {{{"\u20ac \u03a9 \U0001F600"}}});
  const std::string rtf = WriteRtf(doc).toStdString();
  // The euro is a Windows-1252 byte; omega and the emoji (two UTF-16 units)
  // need Unicode escapes, each with "?" for readers that know none.
  EXPECT_NE(rtf.find("\\'80 \\u937? \\u-10179?\\u-8704?"), std::string::npos) << rtf;
  EXPECT_EQ(Read(rtf), "\u20ac \u03a9 \U0001F600\n");
}

// ------------------------------------------------------------ reading

TEST(RichTextReader, ParagraphsEndAtEachParAndTheLastParAddsNone) {
  EXPECT_EQ(Read("{\\rtf1 A\\par}"), "A\n");
  EXPECT_EQ(Read("{\\rtf1 A\\par\\par}"), "A\n\n");
  EXPECT_EQ(Read("{\\rtf1 \\par A}"), "\nA\n");
  EXPECT_EQ(Read("{\\rtf1 A\\par B}"), "A\nB\n");
  EXPECT_EQ(Read("{\\rtf1 A\\\r\nB\\\nC}"), "A\nB\nC\n") << "backslash before a line end";
  EXPECT_EQ(Read("{\\rtf1 one\r\ntwo\rthree\n}"), "onetwothree\n")
      << "source line ends are no text";
  EXPECT_EQ(Read("{\\rtf1 a\\line b\\tab c}"), "a\nb\tc\n");
  EXPECT_EQ(Read("{\\rtf1 {\\pard in a group\\par}{\\pard next\\par}}"), "in a group\nnext\n");
}

TEST(RichTextReader, UnicodeFallbacksAreSkippedPerGroup) {
  EXPECT_EQ(Read("{\\rtf1 \\u937?\\u-10179?\\u-8704?}"), "\u03a9\U0001F600\n");
  EXPECT_EQ(Read("{\\rtf1 \\u233\\'e9t\\u233\\'e9}"), "\u00e9t\u00e9\n") << "\\'hh counts as one";
  EXPECT_EQ(Read("{\\rtf1 \\uc2\\u937\\'3f\\b ok}"), "\u03a9ok\n")
      << "a control word counts as one";
  EXPECT_EQ(ReadDescribed("{\\rtf1 \\uc2\\u937\\'3f\\b ok}"), "\u03a9ok") << "and is not obeyed";
  EXPECT_EQ(Read("{\\rtf1 {\\uc2 \\u937 XY}\\u937 Z.}"), "\u03a9\u03a9.\n")
      << "\\uc ends with its group";
  EXPECT_EQ(Read("{\\rtf1 \\uc0 \\u937 A}"), "\u03a9A\n");
  EXPECT_EQ(Read("{\\rtf1 \\uc3 {\\u937 a}b}"), "\u03a9b\n") << "a group end stops the skipping";
  EXPECT_EQ(Read("{\\rtf1 \\u8226\\'95\\tab x}"), "\u2022\tx\n");
  EXPECT_EQ(Read("{\\rtf1 \\u-10179?x}"), "\ufffdx\n") << "a lone half of a pair";
  EXPECT_EQ(Read("{\\rtf1 \\u-8704?x}"), "\ufffdx\n");
}

TEST(RichTextReader, SymbolsEscapesAndRawBytes) {
  EXPECT_EQ(Read("{\\rtf1 a\\~b\\-c\\_d \\{\\}\\\\}"), "a\u00a0b\u00adc\u2011d {}\\\n");
  EXPECT_EQ(Read("{\\rtf1 \\'e9\\'80\\'9c\\'C6}"), "\u00e9\u20ac\u0153\u00c6\n");
  EXPECT_EQ(Read("{\\rtf1\\ansicpg1251 \\'e9 \xe9\x80}"), "\u0439 \u0439\u0402\n")
      << "the file's code page decides";
  EXPECT_EQ(Read("{\\rtf1\\ansicpg65001 \\'e9 \xe9\x80}"), "\u00e9 \u00e9\u20ac\n")
      << "one we cannot use leaves the stored texts' own";
  EXPECT_EQ(Read("{\\rtf1 a\\bin3 {}\\b}"), "ab\n") << "\\bin data is not parsed";
  EXPECT_EQ(Read("{\\rtf1 a\\emdash b\\lquote c\\rdblquote}"), "a\u2014b\u2018c\u201d\n");
  EXPECT_EQ(Read(std::string("{\\rtf1 a\x01\x00z}", 12)), "az\n")
      << "control bytes in the source are noise";
}

TEST(RichTextReader, DestinationsWithoutTextShowNothing) {
  EXPECT_EQ(Read("{\\rtf1{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red1;}{\\stylesheet{Normal;}}"
                 "{\\info{\\title T}{\\author A}}{\\*\\generator G;}{\\*\\unknown U}"
                 "{\\header H\\par}{\\footerl F}{\\pict 0a0b}{\\*\\shppict{\\pict 00}}"
                 "{\\nonshppict{\\pict 00}}text}"),
            "text\n");
  EXPECT_EQ(Read("{\\rtf1 A {\\field{\\*\\fldinst{HYPERLINK \"x\"}}{\\fldrslt{\\ul link}}} B}"),
            "A link B\n");
  EXPECT_EQ(Read("{\\rtf1 {\\listtext 1.\\tab}item\\par}"), "1.\titem\n");
  EXPECT_EQ(Read("{\\rtf1 seen{\\v hidden}\\v no\\v0  yes}"), "seen yes\n");
  EXPECT_EQ(Read("{\\rtf1 {\\unknowndest shows}}"), "shows\n");
}

TEST(RichTextReader, FormattingFollowsGroupsAndSwitches) {
  EXPECT_EQ(ReadDescribed("{\\rtf1 a{\\b b{\\i c}d}e}"), "a<b>b</b><bi>c</bi><b>d</b>e");
  EXPECT_EQ(ReadDescribed("{\\rtf1 \\b\\i\\ul a\\plain b}"), "<biu>a</biu>b");
  EXPECT_EQ(ReadDescribed("{\\rtf1 \\ul a\\ul0 b\\uldb c\\ulnone d\\ulc1 e}"),
            "<u>a</u>b<u>c</u>de")
      << "\\ulc is a colour";
  EXPECT_EQ(ReadDescribed("{\\rtf1 \\b1 a\\b0 b\\i2 c\\i0 d}"), "<b>a</b>b<i>c</i>d");
  EXPECT_EQ(ReadDescribed("{\\rtf1 \\b bold\\par still\\pard\\par}"), "<b>bold</b>|<b>still</b>")
      << "\\par and \\pard keep character formatting";
}

TEST(RichTextReader, RejectsWhatIsNotRtfAndLeavesTheDocumentAlone) {
  for (const char* bytes :
       {"", "{", "{\\rt", "{ \\rtf1 x}", " {\\rtf1 x}", "{\\RTF1 x}", "plain"}) {
    QTextDocument doc;
    doc.setPlainText("kept");
    EXPECT_FALSE(ReadRtf(QByteArray(bytes), doc)) << bytes;
    EXPECT_EQ(Shown(doc), "kept\n");
  }
  QTextDocument doc;
  EXPECT_TRUE(ReadRtf("{\\rtf", doc));
  EXPECT_TRUE(doc.isEmpty());
}

// ------------------------------------------------------------ fixtures

TEST(RichTextFixtures, EveryNoteShowsItsExpectedText) {
  namespace fs = std::filesystem;
  int count = 0;
  for (const char* folder : {"rtf", "not-rtf"}) {
    for (const auto& entry : fs::directory_iterator(fs::path(VELMORA_TEST_DATA) / "rtf" / folder)) {
      const fs::path path = entry.path();
      if (path.extension() != ".rtf") continue;
      ++count;
      const std::string name = std::string(folder) + "/" + path.stem().string();
      SCOPED_TRACE(name);
      std::string expected = testing::TestData("rtf/" + name + ".expected.txt");
      // A last line without its LF is still a paragraph.
      if (!expected.empty() && expected.back() != '\n') expected += '\n';
      const QByteArray bytes = QByteArray::fromStdString(testing::TestData("rtf/" + name + ".rtf"));

      QTextDocument doc;
      const NoteLoad how = LoadNote(bytes, doc);
      EXPECT_EQ(how, std::string(folder) == "rtf" ? NoteLoad::kRtf : NoteLoad::kPlainText);
      EXPECT_EQ(Shown(doc), expected);
      EXPECT_EQ(LoadNotePlainText(bytes), doc.toPlainText());

      // What we show we can save and show again.
      QTextDocument back;
      ASSERT_TRUE(ReadRtf(WriteRtf(doc), back));
      EXPECT_EQ(Describe(back), Describe(doc));
    }
  }
  EXPECT_EQ(count, 12) << "a fixture is missing from tests/data/rtf";
}

TEST(RichTextFixtures, WordProcessorFormattingIsKept) {
  QTextDocument doc;
  ASSERT_EQ(LoadNote(QByteArray::fromStdString(testing::TestData("rtf/rtf/lo_html.rtf")), doc),
            NoteLoad::kRtf);
  EXPECT_TRUE(Describe(doc).starts_with(
      "Plain, <b>bold</b>, <i>italic</i>, <u>underlined</u>, <biu>all three</biu>, and "
      "<b>bold with </b><bi>nested italic</bi><b> inside</b>.|"))
      << Describe(doc);
}

// ------------------------------------------------------------ plain text

TEST(RichTextLoadNote, PlainTextLineEnds) {
  const auto load = [](const char* bytes) {
    QTextDocument doc;
    EXPECT_EQ(LoadNote(QByteArray(bytes), doc), NoteLoad::kPlainText);
    return Shown(doc);
  };
  EXPECT_EQ(load("a\r\nb\rc\nd"), "a\nb\nc\nd\n");
  EXPECT_EQ(load("a\r\n"), "a\n") << "a final line end adds no paragraph";
  EXPECT_EQ(load("a\n\n"), "a\n\n");
  EXPECT_EQ(load("\r\n\r\na"), "\n\na\n");
  EXPECT_EQ(load("\n\r"), "\n\n") << "LF then CR are two line ends";
  EXPECT_EQ(load("{\\b x}\\par\x80"), "{\\b x}\\par\u20ac\n");
}

TEST(RichTextLoadNote, FailsOnlyForDataTooBigToHold) {
  QTextDocument doc;
  doc.setPlainText("kept");
  QByteArray big(kMaxNoteBytes + 1, 'x');
  EXPECT_EQ(LoadNote(big, doc), NoteLoad::kFailed);
  EXPECT_EQ(Shown(doc), "kept\n");
  big.replace(0, 6, "{\\rtf1");
  EXPECT_EQ(LoadNote(big, doc), NoteLoad::kFailed);
}

// The export takes a note's text without a document; it must be the text
// the document gives.
TEST(RichTextLoadNote, PlainTextWithoutADocumentIsTheDocumentsText) {
  const char* kNotes[] = {
      "",
      "a\r\n\r\nb\rc\n\n",
      "non\xa0"
      "breaking\x80\x01",
      "{\\rtf1",
      "{\\rtf1 a\\par}",
      "{\\rtf1 a\\par\\par\\par b}",
      "{\\rtf1 \\par}",
      "{\\rtf1 a\\line b\\~c\\tab d{\\b e\\par}\\par\\u-10179?\\u56320?\\u55357?x}",
      "{\\rtf1{\\*\\x hidden}{\\v hidden}\\'e9\\\r\n\\sect\\row\\par\\par",
  };
  for (const char* note : kNotes) {
    QTextDocument doc;
    ASSERT_NE(LoadNote(QByteArray(note), doc), NoteLoad::kFailed);
    EXPECT_EQ(LoadNotePlainText(QByteArray(note)), doc.toPlainText()) << note;
  }
  EXPECT_EQ(LoadNotePlainText(QByteArray(kMaxNoteBytes + 1, '\n')), std::nullopt);
}

// ------------------------------------------------------------ hostile input

TEST(RichTextHostile, FinishesQuicklyOnAnyInput) {
  const std::string deep(100000, '{');
  const std::string undeep(100000, '}');
  const std::vector<std::string> inputs = {
      "{\\rtf1" + deep,
      "{\\rtf1" + deep + "x" + undeep + "y}",
      "{\\rtf1" + undeep + "after the end",
      "{\\rtf1 " + std::string(200000, '\\'),
      "{\\rtf1 \\" + std::string(100000, 'a') + " x}",
      "{\\rtf1 \\u" + std::string(100000, '9') + " x}",
      "{\\rtf1 \\u-" + std::string(100000, '9') + "x}",
      "{\\rtf1 \\bin" + std::string(50, '9') + " x",
      "{\\rtf1 \\bin-5 x}",
      "{\\rtf1 \\bin10",
      "{\\rtf1 \\uc99999999999 \\u937 " + std::string(100000, 'z'),
      "{\\rtf1 truncated \\'4",
      "{\\rtf1 truncated \\'",
      "{\\rtf1 truncated \\",
      "{\\rtf1 \\'zz\\'4}\\'",
      "{\\rtf1 \\u55357 \\u55357 \\u56832 ",
      "{\\rtf1 \\*\\*\\*{\\*}}}}}",
      "{\\rtf" + std::string(1, '\0') + "\xff\xfe{\\par\\par\\par",
  };
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input.substr(0, 40));
    const auto start = std::chrono::steady_clock::now();
    QTextDocument doc;
    EXPECT_EQ(LoadNote(QByteArray::fromStdString(input), doc), NoteLoad::kRtf);
    WriteRtf(doc);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  }
}

TEST(RichTextHostile, TextAroundOverDeepGroupsKeepsItsPlace) {
  const std::string deep(5000, '{'), undeep(5000, '}');
  EXPECT_EQ(ReadDescribed("{\\rtf1 a{\\b b" + deep + "\\b0\\plain lost" + undeep + "c}d}"),
            "a<b>bc</b>d");
  EXPECT_EQ(Read("{\\rtf1 cut " + deep + "x"), "cut \n");
}

}  // namespace
}  // namespace velmora
