#include "platform/messagedialog.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QtDebug>

#include "platform/ioerror.h"

namespace velmora {
namespace {

DialogSeam* g_seam = nullptr;
QString g_programTitle;

QMessageBox::Icon IconOf(MsgKind kind) {
  switch (kind) {
    case MsgKind::Warning: return QMessageBox::Warning;
    case MsgKind::Error: return QMessageBox::Critical;
    case MsgKind::Information: return QMessageBox::Information;
    case MsgKind::Confirmation: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

// The window a box stands over: the active one, else a visible window of
// the program (one just shown may not be active yet).
QWidget* OwnerWindow() {
  if (QWidget* active = QApplication::activeWindow()) return active;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->isWindow() && !qobject_cast<QMessageBox*>(w)) return w;
  return nullptr;
}

MsgResult Show(const MessageRequest& request) {
  if (g_seam) return g_seam->Answer(request);
  auto box = BuildMessageBox(request, OwnerWindow());
  box->exec();
  auto* clicked = box->clickedButton();
  if (!clicked) clicked = box->escapeButton();
  return static_cast<MsgResult>(clicked->property("velmoraResult").toInt());
}

}  // namespace

ScopedDialogSeam::ScopedDialogSeam(DialogSeam& seam) : previous_(g_seam) { g_seam = &seam; }
ScopedDialogSeam::~ScopedDialogSeam() { g_seam = previous_; }

QString KindTitle(MsgKind kind) {
  switch (kind) {
    case MsgKind::Warning: return QStringLiteral("Warning");
    case MsgKind::Error: return QStringLiteral("Error");
    case MsgKind::Information: return QStringLiteral("Information");
    case MsgKind::Confirmation: return QStringLiteral("Confirm");
  }
  return {};
}

std::unique_ptr<QMessageBox> BuildMessageBox(const MessageRequest& request, QWidget* parent) {
  auto box = std::make_unique<QMessageBox>(IconOf(request.kind), request.title, request.text,
                                           QMessageBox::NoButton, parent);
  // Messages quote entry texts and file names: never read as markup, so an
  // entry named "<b>Al" shows as typed and an <img> loads nothing.
  box->setTextFormat(Qt::PlainText);
  // Screen readers announce a box by its name and description.
  box->setAccessibleName(request.title);
  box->setAccessibleDescription(request.text);
  auto add = [&](const char* caption, QMessageBox::ButtonRole role, MsgResult result) {
    QPushButton* b = box->addButton(QString::fromLatin1(caption), role);
    b->setProperty("velmoraResult", int(result));
    b->setAccessibleName(QString::fromLatin1(caption).remove(QLatin1Char('&')));
    return b;
  };
  switch (request.buttons) {
    case MsgButtons::OK: {
      auto* ok = add("OK", QMessageBox::AcceptRole, MsgResult::OK);
      box->setDefaultButton(ok);
      box->setEscapeButton(ok);
      break;
    }
    case MsgButtons::OKCancel: {
      auto* ok = add("OK", QMessageBox::AcceptRole, MsgResult::OK);
      auto* cancel = add("Cancel", QMessageBox::RejectRole, MsgResult::Cancel);
      box->setDefaultButton(ok);
      box->setEscapeButton(cancel);
      break;
    }
    case MsgButtons::YesNo: {
      auto* yes = add("&Yes", QMessageBox::YesRole, MsgResult::Yes);
      auto* no = add("&No", QMessageBox::NoRole, MsgResult::No);
      box->setDefaultButton(yes);
      box->setEscapeButton(no);
      break;
    }
  }
  return box;
}

MsgResult MessageDlg(const QString& text, MsgKind kind, MsgButtons buttons) {
  return Show({KindTitle(kind), text, kind, buttons});
}

void SetProgramTitle(const QString& title) { g_programTitle = title; }
QString ProgramTitle() { return g_programTitle; }

void ShowStandardError(const std::exception& error) {
  // The box shows the table's text alone; where and why the step failed go
  // to the log, named as the executable is ("velmora", "tolka").
  if (const auto* io = dynamic_cast<const IoError*>(&error))
    qWarning("%s: %s", qPrintable(QFileInfo(QCoreApplication::applicationFilePath()).fileName()),
             io->Describe().c_str());
  QString text = QString::fromUtf8(error.what());
  if (!text.endsWith(QLatin1Char('.'))) text += QLatin1Char('.');
  Show({g_programTitle, text, MsgKind::Error, MsgButtons::OK});
}

}  // namespace velmora
