#pragma once

#include <QWidget>

// The thin bar between the buttons panel and the log: dragging it changes
// the height of the panel above it, never below that panel's minimum.
class TSplitterBar : public QWidget {
  Q_OBJECT

 public:
  TSplitterBar(QWidget* resized, QWidget* parent);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  QWidget* Resized;
  int PressY = 0;
  int HeightAtPress = 0;
};
