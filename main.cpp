#include <QApplication>
#include <cstdio>
#include <exception>

#include "exchange/command.h"
#include "mainwindow/tform1.h"
#include "platform/messagedialog.h"
#include "platform/programdir.h"
#include "searchedit/tform2.h"
#include "sync/command.h"

int main(int argc, char** argv) {
  // The commands run without a window, and so without a display; so does a
  // command line that makes no sense, which must not start the windows.
  if (velmora::IsSyncCommand(argc, argv)) return velmora::RunSyncCommand(argc, argv);
  const int status = velmora::RunCommandLine(argc, argv);
  if (status != velmora::kStartWindows) return status;

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  velmora::SetProgramTitle(QStringLiteral("Velmora"));

  // Without its own folder, or one for the user's files, the program has
  // nowhere to work: it says why and stops, rather than work elsewhere.
  std::string dataDir;
  try {
    dataDir = velmora::DataDirFor(velmora::ExecutableDir());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmora: %s\n", e.what());
    velmora::ShowStandardError(e);
    return 1;
  }

  // The main window first: its creation runs the start-up, in the folder
  // that holds the user's files. The search/edit window lives from here on,
  // hidden until a search or NEW RECORD.
  velmora::TForm1 form1(velmora::TheSession(), dataDir);
  velmora::TForm2 form2(velmora::TheSession(), form1);
  form1.SetSearchWindow(&form2);
  form1.show();
  return app.exec();
}
