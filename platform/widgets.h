#pragma once
// Small helpers that place controls at fixed pixel positions, as the windows
// are laid out, and give each its caption as its accessible name.

#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QString>

namespace velmora {

// The windows' font: the platform's sans at the designed height of 11 pixels,
// so that the fixed layout holds the captions.
QFont WindowFont();

// A button at x, y, widened beyond w only when its caption would be cut.
QPushButton* PlaceButton(QWidget* parent, const char* name, const QString& caption, int x, int y,
                         int w, int h);
// A label at x, y, as wide as its caption (at least w).
QLabel* PlaceLabel(QWidget* parent, const char* name, const QString& caption, int x, int y, int w,
                   int h);
// Sets a label's caption, its accessible name, and a width that holds it.
void SetCaption(QLabel* label, const QString& caption, int minWidth = 0);

}  // namespace velmora
