#include <QApplication>

#include "mainwindow/tform1.h"
#include "platform/messagedialog.h"
#include "platform/programdir.h"
#include "searchedit/tform2.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  velmora::SetProgramTitle(QStringLiteral("Velmora"));

  // The main window first: its creation runs the start-up. The search/edit
  // window lives from here on, hidden until a search or NEW RECORD.
  velmora::TForm1 form1(velmora::TheSession(), velmora::ExecutableDir());
  velmora::TForm2 form2(velmora::TheSession(), form1);
  form1.SetSearchWindow(&form2);
  form1.show();
  return app.exec();
}
