#pragma once

#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>

#include "engine/WindowMembers.h"

class TJsonEvents;

// The window members as the command line shows them: log lines go to the
// output stream as the window's log shows them, message box texts to the
// error stream (or both, and the status, as JSON events); captions, buttons,
// texts and timer settings are kept for whoever drives the session. Main
// thread only.
class TConsoleWindow : public IWindowMembers {
 public:
  TConsoleWindow(std::ostream& out, std::ostream& err);

  void SetLabFWCaption(const std::string& caption) override { LabFW = caption; }
  void SetLabProgCaption(const std::string& caption) override;
  void MemoLogAppend(const std::string& line) override;
  void MemoLogClear() override {}
  bool ButtonEnabled(TButton button) const override;
  void SetButtonEnabled(TButton button, bool enabled) override { Buttons[button] = enabled; }
  std::string Text(TTextControl control) const override;
  void SetText(TTextControl control, const std::string& text) override { Texts[control] = text; }
  int Timer1Interval() const override { return TimerInterval; }
  void SetTimer1Interval(int milliseconds) override;
  bool Timer1Enabled() const override { return TimerEnabled; }
  void SetTimer1Enabled(bool enabled) override;
  TMessageResult MessageBox(TMessageKind kind, const std::string& text) override;
  void Sleep(int milliseconds) override;

  // Answers confirmation boxes; without it every question is refused.
  std::function<TMessageResult(const std::string& text)> Confirm;
  // Told whenever the timer's interval or enabled state changes.
  std::function<void()> OnTimerChanged;
  // Told whenever the status line changes.
  std::function<void(const std::string&)> OnStatus;
  // Told of every message box, before it is answered.
  std::function<void(TMessageKind, const std::string&)> OnMessage;
  // Run around every line written, so that a live line on the terminal can
  // step aside for it; told whether the line goes to the log stream (else to
  // the error stream).
  std::function<void(bool toLog)> BeforeOutput;
  std::function<void(bool toLog)> AfterOutput;

  // When set, log lines, status and boxes become its events instead.
  TJsonEvents* Events = nullptr;
  // Information boxes are also printed on the error stream; off when the log
  // already shows their text on the same terminal.
  bool InformationOnErr = true;
  // A question already put and answered before the session asks it: the
  // session's box with this text takes the answer without asking again.
  struct TPreparedAnswer {
    std::string Text;
    TMessageResult Answer;
  };
  std::optional<TPreparedAnswer> Prepared;

  // Each log line is flushed as it is written; without, whoever drives the
  // window flushes the log stream (Flush) when it suits.
  bool FlushEveryLine = true;
  void Flush();

  // Real sleeps last this many times less than asked (a test aid; see the
  // flash command).
  int TimeDivisor = 1;

  std::string LabFW;
  std::string LabProg;

 private:
  void ShowOnErr(const std::string& text);

  std::ostream& Out;
  std::ostream& Err;
  std::map<TButton, bool> Buttons;
  std::map<TTextControl, std::string> Texts;
  int TimerInterval = 100;
  bool TimerEnabled = true;
};

// A caption as a terminal shows it: the window's "\r" line breaks become
// "\n", and any other control byte a dot.
std::string CaptionForTerminal(const std::string& caption);
