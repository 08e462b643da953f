#include "components/timelabel.h"

#include <QAccessible>
#include <QApplication>
#include <QLocale>
#include <QTest>
#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(TimeText, EachLocaleInItsOwnFormatWithoutTheZone) {
  const QTime evening(21, 13, 39), morning(9, 5, 7);
  const struct {
    const char* locale;
    const char* evening;
    const char* morning;
  } cases[] = {
      {"en_US", "9:13:39 PM", "9:05:07 AM"},
      {"de_DE", "21:13:39", "09:05:07"},
      {"C", "21:13:39", "09:05:07"},
      {"ja_JP", "21時13分39秒", "9時05分07秒"},
      {"zh_CN", "21:13:39", "09:05:07"},
      {"ko_KR", "오후 9시 13분 39초", "오전 9시 5분 7초"},
      {"ar_EG", "٩:١٣:٣٩ م", "٩:٠٥:٠٧ ص"},
      {"fa_IR", "۲۱:۱۳:۳۹", "۹:۰۵:۰۷"},
  };
  for (const auto& c : cases) {
    const QLocale locale(QString::fromLatin1(c.locale));
    EXPECT_EQ(LongTimeText(evening, locale), QString::fromUtf8(c.evening)) << c.locale;
    EXPECT_EQ(LongTimeText(morning, locale), QString::fromUtf8(c.morning)) << c.locale;
  }
}

// Counts the paints a widget receives.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

TEST(Timelabel, TicksOnlyOnceLoadedAndRepaintsOnlyWhenTheSecondChanges) {
  QWidget window;
  auto* byCode = new TTimelabel(&window);
  byCode->setText("Timelabel1");
  auto* loaded = new TTimelabel(&window);
  loaded->move(0, 20);
  loaded->setText("Timelabel1");
  QTime now(10, 0, 0);
  loaded->SetClock([&] { return now; });
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

  loaded->Loaded();
  QTest::qWait(TTimelabel::kIntervalMs / 2);
  EXPECT_EQ(loaded->text(), "Timelabel1");  // nothing before the first tick
  const QString first = LongTimeText(now, QLocale());
  EXPECT_TRUE(QTest::qWaitFor([&] { return loaded->text() == first; }, 1000));
  EXPECT_EQ(byCode->text(), "Timelabel1");

  QTest::qWait(50);  // the paint of the first caption
  PaintCounter counter;
  loaded->installEventFilter(&counter);
  QTest::qWait(3 * TTimelabel::kIntervalMs);  // three ticks in the same second
  EXPECT_EQ(counter.paints, 0);
  now = now.addSecs(1);
  QTest::qWait(TTimelabel::kIntervalMs + 100);
  EXPECT_EQ(counter.paints, 1);
  EXPECT_EQ(byCode->text(), "Timelabel1");

  // Not announced each tick: the name stays, the time is read when asked.
  QAccessibleInterface* told = QAccessible::queryAccessibleInterface(loaded);
  EXPECT_EQ(told->text(QAccessible::Name), "Clock");
  EXPECT_EQ(told->text(QAccessible::Description), LongTimeText(now, QLocale()));
}

TEST(Timelabel, AnnouncedLocaleChangeIsUsedFromTheNextTick) {
  const QLocale before;
  QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
  QWidget window;
  auto* label = new TTimelabel(&window);
  label->SetClock([] { return QTime(21, 5, 7); });
  label->Loaded();
  label->Tick();
  EXPECT_EQ(label->text(), "21:05:07");

  QLocale::setDefault(QLocale(QStringLiteral("en_US")));
  label->Tick();
  EXPECT_EQ(label->text(), "21:05:07");  // not announced yet
  QEvent changed(QEvent::LocaleChange);
  QCoreApplication::sendEvent(QCoreApplication::instance(), &changed);
  label->Tick();
  EXPECT_EQ(label->text(), "9:05:07 PM");
  QLocale::setDefault(before);
}

}  // namespace
}  // namespace velmora
