#pragma once
// The main window: menu bar, caption naming the working file, and the
// panels shown one at a time. Its creation runs the start-up sequence.

#include <QMainWindow>
#include <string>

#include "store/session.h"

namespace velmora {

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  // programDir: where the program's files lie, ending in "/".
  TForm1(Session& session, const std::string& programDir, QWidget* parent = nullptr);

  Session& session() { return session_; }

 private:
  void FormCreate(const std::string& programDir);

  Session& session_;
};

}  // namespace velmora
