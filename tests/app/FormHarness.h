#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/Form1.h"
#include "tests/support/TempDir.h"

// A window on a settings file in a fresh folder, whose message boxes are
// recorded and answered at once instead of waiting for an operator.
class TFormHarness {
 public:
  struct TMessage {
    TMessageKind Kind;
    std::string Text;
  };

  TFormHarness();
  ~TFormHarness();

  // Writes the settings file that the next window will read.
  void WriteIni(const std::string& text) const;
  std::string ReadIni() const;
  // Creates the window (again); its settings file and start folder are in Dir.
  TForm1& Open();
  TForm1& Form() { return *Window; }
  void Close();

  TTempDir Dir;
  std::string IniPath;
  // The ports the window lists; empty: the system's.
  std::vector<std::string> Ports;
  // Confirmation boxes get this answer; the others always get OK.
  TMessageResult ConfirmReply = TMessageResult::Ok;
  std::vector<TMessage> Messages;

 private:
  std::unique_ptr<TForm1> Window;
};

std::string ReadFile(const std::string& path);

// A file in a folder under the build tree where the tests leave pictures of
// the window, its name marked with the scale when QT_SCALE_FACTOR is set.
std::string ScreenshotPath(const std::string& name);
