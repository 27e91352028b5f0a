#include <QApplication>
#include <QWidget>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "VeqVersion.h"
#include "app/Application.h"
#include "app/Form1.h"
#include "platform/MainThread.h"
#include "platform/SignalWatcher.h"

namespace {

bool DisplayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

// A terminal's Ctrl-C or a shutdown closes the window as the operator would:
// the settings are saved and the device gets its end command.
void CloseTheWindows() {
  for (QWidget* window : QApplication::topLevelWidgets())
    window->close();
}

}  // namespace

int main(int argc, char* argv[]) {
  // Answered without a display, so that scripts can ask any installation.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("veq-programmer %s\n", kVeqVersion);
    return 0;
  }
  if (!DisplayAvailable()) {
    std::fprintf(stderr,
                 "veq-programmer: no display to show the window on (neither DISPLAY nor "
                 "WAYLAND_DISPLAY is set).\n");
    return 1;
  }
  // Before any other thread starts, so that none of them takes these signals.
  TSignalWatcher closeOnSignal({SIGINT, SIGTERM, SIGHUP},
                               [](int) { platform::Post(CloseTheWindows); });
  QApplication application(argc, argv);
  ConfigureApplication(application);
  TForm1 Form1;
  Form1.show();
  return application.exec();
}
