// tolka, the help viewer: one window over the help files that lie beside
// the executable. Its only input besides them is its command line, which
// becomes the window's caption.
#include <QApplication>
#include <QFileInfo>
#include <cstdio>
#include <exception>

#include "helpviewer/tolka1.h"
#include "platform/env.h"
#include "platform/messagedialog.h"
#include "platform/programdir.h"
#include "platform/showcommand.h"

int main(int argc, char** argv) {
  // The caption is made of the arguments as given, before the toolkit takes
  // out the options it knows.
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);

  QApplication app(argc, argv);
  velmora::SetProgramTitle(
      tolka::ProgramTitleFor(QFileInfo(QCoreApplication::applicationFilePath()).fileName()));

  // The help files lie beside the executable, and nowhere else.
  std::string programDir;
  try {
    programDir = velmora::ExecutableDir();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tolka: %s\n", e.what());
    velmora::ShowStandardError(e);
    return 1;
  }
  tolka::TForm1 form1(velmora::Env::Posix(), programDir, arguments);
  switch (velmora::TakeShowCommand()) {
    case velmora::ShowCommand::Minimized: form1.showMinimized(); break;
    case velmora::ShowCommand::Maximized: form1.showMaximized(); break;
    case velmora::ShowCommand::Normal: form1.show(); break;
  }
  return app.exec();
}
