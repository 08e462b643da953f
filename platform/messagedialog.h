#pragma once
// Modal message dialogs. Every message of the program goes through
// MessageDlg or ShowStandardError, and both go through one seam, so that
// tests can read what would be shown and answer it.

#include <QString>
#include <exception>
#include <memory>

class QMessageBox;
class QWidget;

namespace velmora {

// The kind gives the title and the icon.
enum class MsgKind { Warning, Error, Information, Confirmation };
enum class MsgButtons { OK, OKCancel, YesNo };
enum class MsgResult { OK, Cancel, Yes, No };

struct MessageRequest {
  QString title;
  QString text;
  MsgKind kind;
  MsgButtons buttons;
};

// Answers dialogs in place of a person.
class DialogSeam {
 public:
  virtual ~DialogSeam() = default;
  virtual MsgResult Answer(const MessageRequest& request) = 0;
};

// Installs a seam for the life of the returned guard; the real dialogs
// return when it is dropped.
class ScopedDialogSeam {
 public:
  explicit ScopedDialogSeam(DialogSeam& seam);
  ~ScopedDialogSeam();
  ScopedDialogSeam(const ScopedDialogSeam&) = delete;
  ScopedDialogSeam& operator=(const ScopedDialogSeam&) = delete;

 private:
  DialogSeam* previous_;
};

// Title shown for a kind: "Warning", "Error", "Information", "Confirm".
QString KindTitle(MsgKind kind);

// Shows a modal message and returns the button pressed. Enter presses OK
// where the set has it, else Yes; Esc and the close box give Cancel where
// the set has it, else No, else OK.
MsgResult MessageDlg(const QString& text, MsgKind kind, MsgButtons buttons);

// The program's title, the caption of the standard error box.
void SetProgramTitle(const QString& title);
QString ProgramTitle();

// The standard error box: the error's text with a full stop added, an error
// icon, OK, and the program's title as caption. An IoError also leaves one
// line in the log (qWarning) with its code, path and errno.
void ShowStandardError(const std::exception& error);

// The real box for a request, built but not shown (tests inspect it).
std::unique_ptr<QMessageBox> BuildMessageBox(const MessageRequest& request, QWidget* parent);

}  // namespace velmora
