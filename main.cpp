#include <QApplication>

#include "mainwindow/tform1.h"
#include "platform/messagedialog.h"
#include "platform/programdir.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  velmora::SetProgramTitle(QStringLiteral("Velmora"));

  velmora::TForm1 form1(velmora::TheSession(), velmora::ExecutableDir());
  form1.show();
  return app.exec();
}
