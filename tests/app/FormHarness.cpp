#include "tests/app/FormHarness.h"

#include <QDir>

#include <cstdlib>
#include <fstream>
#include <sstream>

TFormHarness::TFormHarness() : IniPath(Dir.File("veq-programmer.ini")) {}

TFormHarness::~TFormHarness() = default;

void TFormHarness::WriteIni(const std::string& text) const {
  std::ofstream(IniPath, std::ios::binary) << text;
}

std::string TFormHarness::ReadIni() const {
  return ReadFile(IniPath);
}

TForm1& TFormHarness::Open() {
  Window.reset();
  Window = std::make_unique<TForm1>(TFormOptions{IniPath, Dir.Path(), Ports});
  Window->MessageBoxHook = [this](TMessageKind kind, const std::string& text) {
    Messages.push_back({kind, text});
    return kind == TMessageKind::Confirmation ? ConfirmReply : TMessageResult::Ok;
  };
  return *Window;
}

void TFormHarness::Close() {
  Window->close();
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string ScreenshotPath(const std::string& name) {
  const std::string folder = VEQ_SCREENSHOT_DIR;
  QDir().mkpath(QString::fromStdString(folder));
  // The run at another scale leaves its pictures beside the 1x ones:
  // window-idle.png and window-idle@2x.png.
  const char* scale = std::getenv("QT_SCALE_FACTOR");
  if (scale == nullptr || *scale == '\0' || std::string(scale) == "1") return folder + "/" + name;
  const size_t dot = name.rfind('.');
  return folder + "/" + name.substr(0, dot) + "@" + scale + "x" + name.substr(dot);
}
