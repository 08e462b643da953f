#pragma once
// tolka's one window: the list page, with the entries of one level of the
// help, lying over the topic page, which shows one topic's text. One of the
// two is shown at a time; the covered one is hidden as well, so that screen
// readers and Tab skip it. The window holds no state of its own: every
// handler forwards to the HelpNavigator and then shows what it left.

#include <QStringList>
#include <QWidget>
#include <string>

#include "helpviewer/navigation.h"

class QGroupBox;
class QKeyEvent;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace tolka {

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // viewerDir: where the help files lie, ending in "/". arguments: the
  // command-line arguments after the program's name, which make the caption.
  // A root list that cannot be read is reported in the standard error box,
  // and the window is still made, with an empty list.
  TForm1(velmora::Env& env, std::string viewerDir, const QStringList& arguments,
         QWidget* parent = nullptr);

  const HelpNavigator& navigator() const { return navigator_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void BuildControls();
  // Runs one navigation step through the guard, and shows the state it
  // leaves even when it fails part way.
  template <class Step>
  void Navigate(Step step);
  void ShowNavigation();
  // Makes the list's current item current anew, so that a screen reader in
  // the list hears it.
  void AnnounceCurrentEntry(int entry);
  int SelectedEntry() const;
  // Escape is Exit Help; Backspace and Alt+Left are the Back of the page in
  // front. False for any other key.
  bool PageKey(const QKeyEvent& key);

  void FormCreate(const QStringList& arguments);  // the caption, then the root list
  void ListBox2DblClick();  // opens the selected entry: its level, or its topic page
  void Button1Click();      // Back on the list page: up one level, none at the root
  void Button2Click();      // Back on the topic page: the list again
  void Button3Click();      // Exit Help, on either page: EndProgram
  void EndProgram();

  HelpNavigator navigator_;
  int shownListVersion_ = -1;  // the navigator's list that ListBox2 holds
  int shownTextVersion_ = -1;  // the navigator's text that Memo1 holds
  bool listShown_ = false;     // the list page was in front when last shown
  bool everActive_ = false;    // the window has been the active one

  QGroupBox* GroupBox1;   // the topic page; titled by its entry, untitled before any
  QPlainTextEdit* Memo1;  // the topic's text, read-only; "Topic not found." when none
  QPushButton* Button2;   // "Back" on the topic page
  QPushButton* Button4;   // "Exit Help" on the topic page; runs Button3Click
  QGroupBox* GroupBox2;   // the list page "Double-click to select topic", over the topic page
  QListWidget* ListBox2;  // the entries of the level shown, in file order
  QPushButton* Button1;   // "Back" on the list page
  QPushButton* Button3;   // "Exit Help" on the list page
};

}  // namespace tolka
