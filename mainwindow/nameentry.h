#pragma once
// The name entry of the file commands (the main window's MaskEdit2, on the
// panel of NEW, SAVE AS and RENAME): twelve positions, each a letter or a
// digit of the single-byte code page or empty. Empty positions show as "_"
// and read as blanks; letters keep the case they are typed in.

#include <QLineEdit>
#include <string>

namespace velmora {

class NameEntry : public QLineEdit {
 public:
  static constexpr int kPositions = 12;

  explicit NameEntry(QWidget* parent = nullptr);

  // The text with empty positions as blanks, trimmed, as a single-byte text.
  std::string EnteredName() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace velmora
