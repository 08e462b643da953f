#pragma once
// Access keys of the windows' buttons and field labels: Alt and the
// underlined letter press the button, or move to the field the label names.
// Only the underline shows: the caption, and the name screen readers
// announce, stay the caption.

#include <QString>

namespace velmora {

// The caption with its access key marked before the first `key` in it; a
// "&" of the caption itself is doubled, so that it shows.
inline QString WithAccessKey(const QString& caption, QChar key) {
  QString text = caption;
  text.replace(QLatin1Char('&'), QStringLiteral("&&"));
  text.insert(text.indexOf(key), QLatin1Char('&'));
  return text;
}

// A button (or a label that names a field) showing `caption` with its key.
template <class Control>
void SetAccessKey(Control* control, const QString& caption, QChar key) {
  control->setText(WithAccessKey(caption, key));
  control->setAccessibleName(caption);
}

}  // namespace velmora
