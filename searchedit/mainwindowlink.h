#pragma once
// What the search/edit window needs of the main window: the search inputs,
// read afresh at every search, and showing and hiding it. The main window
// implements it, so this folder does not depend on that one.

#include <QString>

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
  // The user changed the working file's entries (DONE, a delete).
  virtual void EntriesChanged() {}
};

}  // namespace velmora
