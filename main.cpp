#include <QApplication>
#include <cstdio>
#include <cstring>

#include "exchange/command.h"
#include "mainwindow/tform1.h"
#include "platform/messagedialog.h"
#include "platform/programdir.h"
#include "searchedit/tform2.h"
#include "sync/command.h"

namespace {

// The answers that need no window (nor a display); any other argument is
// ignored and the program starts as usual.
bool AnsweredWithoutWindow(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("velmora %s\n", VELMORA_VERSION);
      return true;
    }
    if (std::strcmp(argv[i], "--help") == 0) {
      std::printf(
          "Usage: velmora [--version | --help]: a personal address book; "
          "its data files lie in %s\n"
          "       velmora --export vcard|csv [NAME]: the entries of data file NAME "
          "(default: the one opened at start) to standard output\n"
          "       velmora --import vcard|csv FILE [NAME]: adds the entries of FILE "
          "(\"-\": standard input) to data file NAME, made when missing\n"
          "       velmora --sync DIR [NAME] [--prefer here|there] [--reset]: keeps data "
          "file NAME and the vCard folder DIR in step, both ways\n",
          velmora::DataDirFor(velmora::ExecutableDir(), false).c_str());
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // Import and export run without a window, and so without a display.
  if (velmora::IsExchangeCommand(argc, argv)) return velmora::RunExchangeCommand(argc, argv);
  if (velmora::IsSyncCommand(argc, argv)) return velmora::RunSyncCommand(argc, argv);
  if (AnsweredWithoutWindow(argc, argv)) return 0;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  velmora::SetProgramTitle(QStringLiteral("Velmora"));

  // The main window first: its creation runs the start-up, in the folder
  // that holds the user's files. The search/edit window lives from here on,
  // hidden until a search or NEW RECORD.
  velmora::TForm1 form1(velmora::TheSession(), velmora::DataDirFor(velmora::ExecutableDir()));
  velmora::TForm2 form2(velmora::TheSession(), form1);
  form1.SetSearchWindow(&form2);
  form1.show();
  return app.exec();
}
