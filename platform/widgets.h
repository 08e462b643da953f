#pragma once
// Small helpers that place controls at fixed pixel positions, as the windows
// are laid out, and give each its caption as its accessible name.

#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QString>

class QAbstractItemView;

namespace velmora {

// A control's place as designed, in pixels: left, top, width and height; a
// group's controls within their group.
struct Place {
  int x, y, w, h;
};

void SetPlace(QWidget* w, Place at);
// The first column right of a widget, for places derived from it.
inline int EndX(const QWidget* w) { return w->geometry().right() + 1; }

// The platform draws a group's title above its frame rather than in the
// frame's top line: a group starts higher by kTitleRoom and its controls
// lower, so that the frame stays where it was designed and clears them.
inline constexpr int kTitleRoom = 8;
// A group at its place, reaching `foot` pixels lower.
void SetGroupPlace(QGroupBox* group, Place at, int foot = 0);
// Moves a group's controls down by the room its title takes.
void MakeTitleRoom(QGroupBox* group);

// The windows' font: the platform's sans at the designed height of 11 pixels,
// so that the fixed layout holds the captions.
QFont WindowFont();

// A button at its place, widened only when its caption would be cut.
QPushButton* PlaceButton(QWidget* parent, const char* name, const QString& caption, Place at);
// A label at its place, as wide as its caption (at least the place's width).
QLabel* PlaceLabel(QWidget* parent, const char* name, const QString& caption, Place at);
// A view whose selection is the highlight colour only while it has the
// keyboard, and grey otherwise, so that a keyboard user sees where the focus
// is: a grid draws no focus frame of its own that shows.
void ShowFocusBySelection(QAbstractItemView* view);

// Sets a label's caption, its accessible name, and a width that holds it.
void SetCaption(QLabel* label, const QString& caption, int minWidth = 0);

}  // namespace velmora
