#include <QApplication>

#include <cstdio>
#include <cstdlib>

#include "app/Application.h"
#include "app/Form1.h"

namespace {

bool DisplayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (!DisplayAvailable()) {
    std::fprintf(stderr,
                 "veq-programmer: no display to show the window on (neither DISPLAY nor "
                 "WAYLAND_DISPLAY is set).\n");
    return 1;
  }
  QApplication application(argc, argv);
  ConfigureApplication(application);
  TForm1 Form1;
  Form1.show();
  return application.exec();
}
