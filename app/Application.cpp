#include "app/Application.h"

#include <QApplication>
#include <QStyleFactory>

#include "platform/MainThread.h"

void ConfigureApplication(QApplication& application) {
  platform::SetMainThread();
  application.setApplicationName("VEQ_Program");
  application.setStyle(QStyleFactory::create("Fusion"));
}
