#pragma once
// What the search/edit window needs of the main window: the search inputs,
// read afresh at every search, and showing and hiding it. The main window
// implements it, so this folder does not depend on that one.

#include <QPoint>
#include <QString>
#include <optional>

namespace velmora {

class MainWindowLink {
 public:
  virtual ~MainWindowLink() = default;
  // The text of the search field, as typed.
  virtual QString SearchFieldText() const = 0;
  // True while "BY NAME" is chosen.
  virtual bool SearchByName() const = 0;
  virtual void ShowMainWindow() = 0;
  virtual void HideMainWindow() = 0;
  // Where the main window's inside (below its title bar) stands on the
  // screen, or stood when hidden: the search/edit window opens there. Null
  // when there is no main window.
  virtual std::optional<QPoint> MainWindowPlace() const { return std::nullopt; }
  // The user changed the working file's entries (DONE, a delete).
  virtual void EntriesChanged() {}
};

}  // namespace velmora
