#include "platform/widgets.h"

#include <QApplication>
#include <algorithm>

namespace velmora {

QFont WindowFont() {
  QFont f = QApplication::font();
  f.setPixelSize(11);
  return f;
}

QPushButton* PlaceButton(QWidget* parent, const char* name, const QString& caption, int x, int y,
                         int w, int h) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setAccessibleName(caption);
  b->setAutoDefault(false);
  const int needed = b->fontMetrics().horizontalAdvance(caption) + 10;
  b->setGeometry(x, y, std::max(w, needed), h);
  return b;
}

QLabel* PlaceLabel(QWidget* parent, const char* name, const QString& caption, int x, int y, int w,
                   int h) {
  auto* l = new QLabel(parent);
  // Captions can hold entry texts: never read as markup.
  l->setTextFormat(Qt::PlainText);
  l->setObjectName(QString::fromLatin1(name));
  l->setGeometry(x, y, w, h);
  SetCaption(l, caption, w);
  return l;
}

void SetCaption(QLabel* label, const QString& caption, int minWidth) {
  label->setText(caption);
  label->setAccessibleName(caption);
  const int needed = label->fontMetrics().horizontalAdvance(caption) + 2;
  label->resize(std::max(minWidth, needed), label->height());
}

}  // namespace velmora
