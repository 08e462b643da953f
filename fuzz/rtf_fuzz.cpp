// Any bytes as a note file: loading never fails or overruns, whatever it
// shows saves and loads again to the same paragraphs, text and bold, italic
// and underline, and the export's text without a document is the document's.

#include <QGuiApplication>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

#include <cstdint>
#include <cstdlib>

#include "platform/richtext.h"

using namespace velmora;

namespace {

// Paragraphs as text with a look marker wherever the look changes.
QString Signature(const QTextDocument& doc) {
  QString out;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
    out += u'\u2029';
    int last = 0;
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QTextCharFormat f = it.fragment().charFormat();
      const int look =
          (f.fontWeight() >= QFont::DemiBold) | f.fontItalic() << 1 | f.fontUnderline() << 2;
      if (look != last) out += QChar(0xE000 + look);
      last = look;
      out += it.fragment().text();
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static QGuiApplication* app = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "fuzz_rtf";
    static char* argv[] = {name, nullptr};
    return new QGuiApplication(argc, argv);
  }();
  (void)app;

  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  QTextDocument doc;
  if (LoadNote(bytes, doc) == NoteLoad::kFailed) std::abort();
  if (LoadNotePlainText(bytes) != doc.toPlainText()) std::abort();

  QTextDocument back;
  if (!ReadRtf(WriteRtf(doc), back)) std::abort();
  if (Signature(back) != Signature(doc)) std::abort();
  return 0;
}
