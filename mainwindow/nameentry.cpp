#include "mainwindow/nameentry.h"

#include <QKeyEvent>
#include <QValidator>

#include "platform/codepage.h"
#include "platform/text.h"

namespace velmora {
namespace {

constexpr QChar kBlank = u'_';

// The mask alone lets through every letter of Unicode; a name must survive
// the trip to a single-byte text unchanged, so only the code page's own
// letters and digits pass.
class CodePageLettersAndDigits : public QValidator {
 public:
  using QValidator::QValidator;

  State validate(QString& text, int&) const override {
    for (QChar c : text) {
      if (c == kBlank || c == u' ') continue;
      if (!(c.isLetter() || c.isDigit()) || TextCodePage().FromUnicode(c.unicode()) < 0) return Invalid;
    }
    return Acceptable;
  }
};

}  // namespace

NameEntry::NameEntry(QWidget* parent) : QLineEdit(parent) {
  // "n": a letter or a digit, not required; no case conversion.
  setInputMask(QString(kPositions, u'n') + u';' + kBlank);
  setValidator(new CodePageLettersAndDigits(this));
}

std::string NameEntry::EnteredName() const {
  // text() would close up the gaps between filled positions; the positions
  // as shown keep them, as blanks.
  QString shown = displayText();
  shown.replace(kBlank, u' ');
  return Trim(ToCodePage(shown));
}

void NameEntry::keyPressEvent(QKeyEvent* event) {
  // The mask takes a typed space or "_" as an empty position; a name has
  // none between its letters, so neither key types anything here.
  const QString typed = event->text();
  if (typed.size() == 1 && (typed[0] == u' ' || typed[0] == kBlank)) {
    event->ignore();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

}  // namespace velmora
