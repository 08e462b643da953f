// What a screen reader is told about the address book's windows.
#include <QAccessible>
#include <QMessageBox>
#include <functional>

#include "support/windows_fixture.h"

namespace velmora {
namespace {

using testing::Rec;

class ScreenReaderTest : public testing::WindowsTest {
 protected:
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
};

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
  };
  for (size_t i = 0; i < std::size(kViews); ++i) {
    kViews[i]();
    EXPECT_EQ(Nameless().join(","), "") << "view " << i;
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

}  // namespace
}  // namespace velmora
