#include "components/timelabel.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QEvent>
#include <QLocale>
#include <QTimer>

namespace velmora {
namespace {

// The clock to assistive technology: a name that stays, so the ticks send
// it nothing, and the time as the description, read when asked for.
class AccessibleClock final : public QAccessibleWidget {
 public:
  explicit AccessibleClock(TTimelabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name) return QString::fromLatin1(TTimelabel::kAccessibleName);
    if (t == QAccessible::Description || t == QAccessible::Value)
      return static_cast<const QLabel*>(widget())->text();
    return QAccessibleWidget::text(t);
  }
};

QAccessibleInterface* AccessibleClockOf(const QString& className, QObject* object) {
  if (className != QLatin1String(TTimelabel::staticMetaObject.className())) return nullptr;
  return new AccessibleClock(static_cast<TTimelabel*>(object));
}

}  // namespace

QString ClockFormatOf(const QLocale& locale) {
  // The long format, which shows the seconds, without its time zone: the
  // clock shows the local time, and a zone's name would only widen it.
  // Quoted parts are literal text, where a "t" is no code.
  const QString format = locale.timeFormat(QLocale::LongFormat);
  QString out;
  bool quoted = false;
  for (qsizetype i = 0; i < format.size(); ++i) {
    const QChar c = format[i];
    if (c == QLatin1Char('\'')) quoted = !quoted;
    if (quoted || c != QLatin1Char('t')) {
      out += c;
      continue;
    }
    // The zone, with the brackets around it.
    if (out.endsWith(QLatin1Char('('))) out.chop(1);
    while (i + 1 < format.size() && format[i + 1] == QLatin1Char('t')) ++i;
    if (i + 1 < format.size() && format[i + 1] == QLatin1Char(')')) ++i;
  }
  return out.simplified();
}

QString LongTimeText(const QTime& time, const QLocale& locale) {
  return locale.toString(time, ClockFormatOf(locale));
}

TTimelabel::TTimelabel(QWidget* owner)
    : QLabel(owner), clock_([] { return QTime::currentTime(); }) {
  setTextFormat(Qt::PlainText);
  // A label named by its text is announced anew at each change of it.
  setAccessibleName(QString::fromLatin1(kAccessibleName));
  static const bool clockRole = (QAccessible::installFactory(&AccessibleClockOf), true);
  (void)clockRole;
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
  const QString text = locale_.toString(clock_(), format_);
  if (text == this->text()) return;  // no repaint, no resize within a second
  setText(text);
  adjustSize();
}

void TTimelabel::ReadLocale() {
  locale_ = QLocale();
  format_ = ClockFormatOf(locale_);
}

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
