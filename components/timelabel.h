#pragma once
// TTimelabel: a label that shows the time of day and keeps it current by
// itself. It ticks every 450 ms, so every second is shown at most 450 ms
// after it began; a tick that would show the text already shown changes
// nothing, so the label repaints once a second. Screen readers know it by a
// name that stays, kAccessibleName, and read the time as its description.
//
// Like a label read from a window's stored description, it starts ticking
// only when its window calls Loaded() after setting it up; a label made by
// code alone keeps its caption.

#include <QLabel>
#include <QLocale>
#include <QString>
#include <QTime>
#include <functional>

class QTimer;

namespace velmora {

// The locale's long time format, which shows the seconds, without the
// time zone: hours, minutes and seconds in the locale's own order, words,
// digits and day-half designators, as QLocale formats them.
QString ClockFormatOf(const QLocale& locale);
QString LongTimeText(const QTime& time, const QLocale& locale);

class TTimelabel : public QLabel {
  Q_OBJECT

 public:
  static constexpr int kIntervalMs = 450;
  static constexpr char kAccessibleName[] = "Clock";

  explicit TTimelabel(QWidget* owner);

  // Called by the window once the label is set up: starts the ticks.
  void Loaded();

  // Where the label reads the time (the local clock unless replaced).
  void SetClock(std::function<QTime()> clock) { clock_ = std::move(clock); }

  // One tick: the caption becomes the current time's text.
  void Tick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void ReadLocale();

  QLocale locale_;
  QString format_;  // ClockFormatOf(locale_)
  std::function<QTime()> clock_;
  QTimer* timer_ = nullptr;  // exists once Loaded() ran
};

}  // namespace velmora
