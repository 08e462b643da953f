#include "mainwindow/tform1.h"

#include "platform/codepage.h"
#include "platform/guard.h"
#include "store/startup.h"

namespace velmora {

TForm1::TForm1(Session& session, const std::string& programDir, QWidget* parent)
    : QMainWindow(parent), session_(session) {
  resize(430, 330);
  FormCreate(programDir);
}

void TForm1::FormCreate(const std::string& programDir) {
  // A failed start-up step is reported and the rest of the creation skipped:
  // the program runs on with the values set so far.
  Guarded([&] {
    RunStartUp(session_, programDir);
    setWindowTitle(FromCp1252(session_.WorkingName));
  });
}

}  // namespace velmora
