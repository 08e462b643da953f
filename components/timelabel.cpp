#include "components/timelabel.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLocale>
#include <QRegularExpression>
#include <QTimer>

namespace velmora {

TimeSettings TimeSettingsOf(const QLocale& locale) {
  TimeSettings s;
  const QString format = locale.timeFormat(QLocale::LongFormat);
  // Quoted parts of a format are literal text, not codes.
  QString codes;
  bool quoted = false;
  for (QChar c : format) {
    if (c == QLatin1Char('\''))
      quoted = !quoted;
    else
      codes += quoted ? QChar(QLatin1Char(' ')) : c;
  }
  const qsizetype hour = codes.indexOf(QRegularExpression(QStringLiteral("[hH]")));
  if (hour >= 0) {
    s.leadingZero = hour + 1 < codes.size() && codes[hour + 1] == codes[hour];
    const qsizetype afterHour = hour + (s.leadingZero ? 2 : 1);
    const qsizetype minutes = codes.indexOf(QLatin1Char('m'), afterHour);
    if (minutes > afterHour) s.separator = format.mid(afterHour, minutes - afterHour);
  }
  s.twelveHour = codes.contains(QLatin1Char('a'), Qt::CaseInsensitive);
  if (!locale.amText().isEmpty()) s.am = locale.amText();
  if (!locale.pmText().isEmpty()) s.pm = locale.pmText();
  return s;
}

QString LongTimeText(const QTime& time, const TimeSettings& settings) {
  int hour = time.hour();
  if (settings.twelveHour) hour = hour % 12 == 0 ? 12 : hour % 12;
  QString text = settings.leadingZero ? QStringLiteral("%1").arg(hour, 2, 10, QLatin1Char('0'))
                                      : QString::number(hour);
  text += settings.separator + QStringLiteral("%1").arg(time.minute(), 2, 10, QLatin1Char('0'));
  text += settings.separator + QStringLiteral("%1").arg(time.second(), 2, 10, QLatin1Char('0'));
  if (settings.twelveHour)
    text += QLatin1Char(' ') + (time.hour() < 12 ? settings.am : settings.pm);
  return text;
}

TTimelabel::TTimelabel(QWidget* owner)
    : QLabel(owner), clock_([] { return QTime::currentTime(); }) {
  setTextFormat(Qt::PlainText);
  ReadLocale();
  update();
}

void TTimelabel::Loaded() {
  if (timer_) return;
  timer_ = new QTimer(this);
  timer_->setTimerType(Qt::PreciseTimer);
  timer_->setInterval(kIntervalMs);
  connect(timer_, &QTimer::timeout, this, &TTimelabel::Tick);
  // The system announces a change of its settings to the application.
  QCoreApplication::instance()->installEventFilter(this);
  timer_->start();
}

void TTimelabel::Tick() {
  const QString text = LongTimeText(clock_(), settings_);
  if (text == this->text()) return;  // no repaint, no resize within a second
  setText(text);
  adjustSize();
}

void TTimelabel::ReadLocale() { settings_ = TimeSettingsOf(QLocale()); }

bool TTimelabel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == QCoreApplication::instance() && event->type() == QEvent::LocaleChange)
    ReadLocale();
  return QLabel::eventFilter(watched, event);
}

void TTimelabel::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LocaleChange) ReadLocale();
  QLabel::changeEvent(event);
}

}  // namespace velmora
