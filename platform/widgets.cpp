#include "platform/widgets.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QEvent>
#include <algorithm>

namespace velmora {

QFont WindowFont() {
  QFont f = QApplication::font();
  f.setPixelSize(11);
  return f;
}

void SetPlace(QWidget* w, Place at) { w->setGeometry(at.x, at.y, at.w, at.h); }

void SetGroupPlace(QGroupBox* group, Place at, int foot) {
  group->setGeometry(at.x, at.y - kTitleRoom, at.w, at.h + kTitleRoom + foot);
}

void MakeTitleRoom(QGroupBox* group) {
  for (QWidget* w : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    w->move(w->x(), w->y() + kTitleRoom);
}

QPushButton* PlaceButton(QWidget* parent, const char* name, const QString& caption, Place at) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setAccessibleName(caption);
  // Enter presses the button that has the focus, as Space does.
  b->setAutoDefault(true);
  const int needed = b->fontMetrics().horizontalAdvance(caption) + 10;
  b->setGeometry(at.x, at.y, std::max(at.w, needed), at.h);
  return b;
}

QLabel* PlaceLabel(QWidget* parent, const char* name, const QString& caption, Place at) {
  auto* l = new QLabel(parent);
  // Captions can hold entry texts: never read as markup.
  l->setTextFormat(Qt::PlainText);
  l->setObjectName(QString::fromLatin1(name));
  SetPlace(l, at);
  SetCaption(l, caption, at.w);
  return l;
}

namespace {

class FocusBySelection final : public QObject {
 public:
  explicit FocusBySelection(QAbstractItemView* view) : QObject(view), view_(view) {
    Show(false);
    view->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
      Show(event->type() == QEvent::FocusIn);
    return false;
  }

 private:
  void Show(bool focused) {
    QPalette p = view_->palette();
    const QPalette normal = QApplication::palette(view_);
    for (auto group : {QPalette::Active, QPalette::Inactive})
      p.setColor(group, QPalette::Highlight,
                 focused ? normal.color(group, QPalette::Highlight) : QColor(Qt::gray));
    view_->setPalette(p);
  }
  QAbstractItemView* view_;
};

}  // namespace

void ShowFocusBySelection(QAbstractItemView* view) { new FocusBySelection(view); }

void SetCaption(QLabel* label, const QString& caption, int minWidth) {
  label->setText(caption);
  label->setAccessibleName(caption);
  const int needed = label->fontMetrics().horizontalAdvance(caption) + 2;
  label->resize(std::max(minWidth, needed), label->height());
}

}  // namespace velmora
