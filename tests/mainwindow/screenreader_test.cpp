// What a screen reader is told about the address book's windows.
#include <QAccessible>
#include <QMenuBar>
#include <QMessageBox>
#include <dlfcn.h>
#include <functional>

#include "support/windows_fixture.h"

namespace velmora {
namespace {

using testing::Rec;

// What a screen reader says: each move of the focus, and each change of
// the name of what has it, as the name (a grid cell's with its row).
QStringList& Told() {
  static QStringList told;
  return told;
}
void Tell(QAccessibleEvent* event) {
  QAccessibleInterface* at = event->accessibleInterface();
  if (!at || (event->type() != QAccessible::Focus &&
              !(event->type() == QAccessible::NameChanged && at->state().focused)))
    return;
  QAccessibleTableCellInterface* cell = at->tableCellInterface();
  Told() << at->text(QAccessible::Name) +
                (cell ? QStringLiteral(" (row %1)").arg(cell->rowIndex() + 1) : QString());
}

// Qt tells assistive technology anything only once a platform bridge has
// switched its accessibility on, which the headless platform never does:
// done here as the bridge does it, through the platform's own functions.
void SwitchAccessibility(bool on) {
  auto** platform = static_cast<const void**>(
      dlsym(RTLD_DEFAULT, "_ZN22QGuiApplicationPrivate20platform_integrationE"));
  auto accessibility = reinterpret_cast<void* (*)(const void*)>(
      dlsym(RTLD_DEFAULT, "_ZNK20QPlatformIntegration13accessibilityEv"));
  auto setActive = reinterpret_cast<void (*)(void*, bool)>(
      dlsym(RTLD_DEFAULT, "_ZN22QPlatformAccessibility9setActiveEb"));
  if (!platform || !*platform || !accessibility || !setActive) return;
  if (void* a = accessibility(*platform)) setActive(a, on);
}

class ScreenReaderTest : public testing::WindowsTest {
 protected:
  void Listen() {
    QAccessible::installUpdateHandler(&Tell);
    SwitchAccessibility(true);
    if (!QAccessible::isActive()) GTEST_SKIP() << "Qt's accessibility cannot be switched on here";
  }
  ~ScreenReaderTest() override {
    SwitchAccessibility(false);
    QAccessible::installUpdateHandler(nullptr);
  }

  static QString Name(QObject* o) {
    return QAccessible::queryAccessibleInterface(o)->text(QAccessible::Name);
  }
  // The shown controls that take the keyboard and have no name to announce.
  QStringList Nameless() {
    QStringList out;
    for (QWidget* window : {static_cast<QWidget*>(form1.get()), static_cast<QWidget*>(form2.get())})
      for (QWidget* w : window->findChildren<QWidget*>())
        if (w->isVisible() && (w->focusPolicy() & Qt::TabFocus) && Name(w).trimmed().isEmpty())
          out << w->objectName();
    return out;
  }
  // In the window in front: the shown buttons and field labels without an
  // access key or with one used before in the window (the menu bar's
  // included), and the labels whose key misses their field.
  QStringList Unkeyed() {
    QWidget* window = QApplication::activeModalWidget();
    if (!window) window = form2->isVisible() ? static_cast<QWidget*>(form2.get()) : form1.get();
    QApplication::setActiveWindow(window);
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    QStringList keys, out;
    if (window == form1.get())
      for (QAction* a : form1->menuBar()->actions())
        keys << QKeySequence::mnemonic(a->text()).toString();
    for (QWidget* w : window->findChildren<QWidget*>()) {
      auto* button = qobject_cast<QAbstractButton*>(w);
      auto* label = qobject_cast<QLabel*>(w);
      if (!w->isVisible() || !(button || (label && label->buddy() && label->buddy()->isVisible())))
        continue;
      const QKeySequence key = QKeySequence::mnemonic(button ? button->text() : label->text());
      if (key.isEmpty() || keys.contains(key.toString())) out << w->objectName();
      keys << key.toString();
      if (!label || key.isEmpty()) continue;
      QTest::keyClick(window, key[0].key(), Qt::AltModifier);
      if (QApplication::focusWidget() != label->buddy()) out << w->objectName();
    }
    return out;
  }
};

// Announced by its caption, reached by its access key.
TEST_F(ScreenReaderTest, EveryControlThatTakesTheFocusIsAnnouncedByName) {
  Start({Rec("ANN", "SMITH"), Rec("BOB", "SMALL")});
  dir.Write("ANNSMITH", "note");
  const std::function<void()> kViews[] = {
      [&] { Menu("SEARCH/EDIT"); },
      [&] { Menu("NEW"); },
      [&] { Menu("OPEN"); },
      [&] { Search("SM"); },
      [&] { QTest::keyClick(form2->grid(), Qt::Key_Return); },  // the extra text
      [&] { Click(CloseTextButton()), OpenEditor(1); },
      [&] { Answer(MsgResult::Yes, CancelTextButton()); },  // edit mode
      [&] { Click(CancelEditButton()), Click(BackButton()), Menu("NEW RECORD"); },
      [&] { Click(CancelEditButton()), Menu("DELETE"); },
      [&] { Menu("ACCOUNT..."); },
  };
  for (size_t i = 0; i < std::size(kViews); ++i) {
    kViews[i]();
    EXPECT_EQ(Nameless().join(","), "") << "view " << i;
    EXPECT_EQ(Unkeyed().join(","), "") << "view " << i;
  }
}

TEST_F(ScreenReaderTest, TheGridNamesTheColumnOfEachCellAndABoxReadsItsText) {
  Start({Rec("ANN", "SMITH")});
  Search("SM");
  QAccessibleTableInterface* table =
      QAccessible::queryAccessibleInterface(form2->grid())->tableInterface();
  ASSERT_NE(table, nullptr);
  QStringList headers;
  for (int c = 0; c < table->columnCount(); ++c) {
    const QList<QAccessibleInterface*> h =
        table->cellAt(0, c)->tableCellInterface()->columnHeaderCells();
    headers << (h.isEmpty() ? QString() : h[0]->text(QAccessible::Name));
  }
  EXPECT_EQ(headers.join(","), "NAME,SURNAME,PHONE1,PHONE2,COMMENTS");

  const MessageRequest request{"Warning", "You are about to delete the entry for ANN SMITH",
                               MsgKind::Warning, MsgButtons::OKCancel};
  const auto box = BuildMessageBox(request, nullptr);
  QAccessibleInterface* announced = QAccessible::queryAccessibleInterface(box.get());
  EXPECT_EQ(announced->text(QAccessible::Name), "Warning");
  EXPECT_EQ(announced->text(QAccessible::Description), request.text);
}

TEST_F(ScreenReaderTest, EachChangeOfViewTellsTheFirstControlThatMatters) {
  dir.Write("ANNBAKER", "Ann's page");
  Start({Rec("ANN", "BAKER", "555"), Rec("BOB", "BROWN")});
  form1->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form1.get()));
  Listen();
  const struct {
    int key;
    Qt::KeyboardModifiers modifiers;
    const char* told;  // joined by "|"
  } kRows[] = {
      {Qt::Key_S, Qt::AltModifier, "SEARCH/EDIT|ENTER SEARCH STRING"},
      {Qt::Key_Tab, Qt::ShiftModifier, "Clear all"},
      {Qt::Key_Tab, Qt::ShiftModifier, "Clear last character"},
      {Qt::Key_Tab, Qt::ShiftModifier, "Letters|A"},
      {Qt::Key_Right, {}, "B"},  // one letter, not the row
      {Qt::Key_Space, {}, "B, search string B"},
      {Qt::Key_Right, {}, "C"},
      {Qt::Key_Escape, {}, "FRIENDS"},  // CANCEL, the window itself next
      {Qt::Key_S, Qt::AltModifier, "ENTER SEARCH STRING"},
      // First the view's own, as the rows fill under the focus the headless
      // platform hands over at once.
      {Qt::Key_T, Qt::AltModifier, "ANN (row 1)|Search results|ANN (row 1)"},
      {Qt::Key_E, Qt::AltModifier, "PHONE1"},              // straight there
      {Qt::Key_Return, {}, "Search results|ANN (row 1)"},  // DONE
      {Qt::Key_Return, {}, "Extra text"},
      {Qt::Key_Escape, {}, "Search results|ANN (row 1)"},
  };
  for (const auto& row : kRows) {
    Told().clear();
    Press(row.key, row.modifiers);
    // An access key clicks as the mouse does, a moment later.
    auto told = [] { return Told().join("|").toStdString(); };
    (void)QTest::qWaitFor([&] { return told() == row.told; }, 500);
    EXPECT_EQ(told(), row.told) << QKeySequence(row.key | row.modifiers).toString().toStdString();
  }
  EXPECT_EQ(QAccessible::queryAccessibleInterface(form2.get())->role(), QAccessible::Window);
}

}  // namespace
}  // namespace velmora
