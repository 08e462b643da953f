#include "components/timelabel.h"

#include <QApplication>
#include <QLocale>
#include <QTest>
#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(TimeText, EachKindOfLocaleSetting) {
  TimeSettings h24, h24zero, h12, h12zero, dotted;
  h24zero.leadingZero = true;
  h12.twelveHour = true;
  h12zero.twelveHour = h12zero.leadingZero = true;
  h12zero.am = "AM";
  h12zero.pm = "PM";
  dotted.separator = ".";
  const struct {
    TimeSettings settings;
    QTime time;
    const char* text;
  } cases[] = {
      {h24, {9, 5, 7}, "9:05:07"},      {h24zero, {9, 5, 7}, "09:05:07"},
      {h24, {0, 0, 0}, "0:00:00"},      {h24, {23, 59, 59}, "23:59:59"},
      {h12, {21, 5, 7}, "9:05:07 pm"},  {h12, {0, 0, 1}, "12:00:01 am"},
      {h12, {12, 0, 0}, "12:00:00 pm"}, {h12zero, {9, 5, 7}, "09:05:07 AM"},
      {dotted, {21, 5, 7}, "21.05.07"},
  };
  for (const auto& c : cases) EXPECT_EQ(LongTimeText(c.time, c.settings), c.text);
}

TEST(TimeText, SettingsComeFromTheLocalesLongTimeFormat) {
  const QTime evening(21, 5, 7), morning(9, 5, 7);
  const struct {
    const char* locale;
    const char* evening;
    const char* morning;
  } cases[] = {
      {"en_US", "9:05:07 PM", "9:05:07 AM"},
      {"de_DE", "21:05:07", "09:05:07"},
      {"C", "21:05:07", "09:05:07"},
  };
  for (const auto& c : cases) {
    const TimeSettings s = TimeSettingsOf(QLocale(QString::fromLatin1(c.locale)));
    EXPECT_EQ(LongTimeText(evening, s), c.evening) << c.locale;
    EXPECT_EQ(LongTimeText(morning, s), c.morning) << c.locale;
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
  const QString first = LongTimeText(now, TimeSettingsOf(QLocale()));
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
