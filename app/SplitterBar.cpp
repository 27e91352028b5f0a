#include "app/SplitterBar.h"

#include <QMouseEvent>

#include <algorithm>

namespace {

// The bar's maroon, as designed.
const QColor kBarColour(128, 0, 0);
// The panel above keeps at least this much, as designed.
constexpr int kMinimumAbove = 20;

}  // namespace

TSplitterBar::TSplitterBar(QWidget* resized, QWidget* parent) : QWidget(parent), Resized(resized) {
  setFixedHeight(1);
  setCursor(Qt::SizeVerCursor);
  setAutoFillBackground(true);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, kBarColour);
  setPalette(colours);
}

void TSplitterBar::mousePressEvent(QMouseEvent* event) {
  PressY = int(event->globalPosition().y());
  HeightAtPress = Resized->height();
}

void TSplitterBar::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) return;
  const int wanted = HeightAtPress + int(event->globalPosition().y()) - PressY;
  // The bar itself stays inside the window.
  const int room = parentWidget()->height() - Resized->y() - height();
  Resized->setFixedHeight(std::clamp(wanted, kMinimumAbove, std::max(room, kMinimumAbove)));
}
