#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/WindowMembers.h"

// A window that remembers everything the engine did to it: captions, log
// lines, button states, texts, timer settings, every message box and sleep.
// Message boxes answer from a queue of scripted replies (OK when empty);
// sleeps return at once.
class TRecordingWindow : public IWindowMembers {
 public:
  struct Message {
    TMessageKind Kind;
    std::string Text;
  };

  TRecordingWindow();

  void SetLabFWCaption(const std::string& caption) override { LabFW = caption; }
  void SetLabProgCaption(const std::string& caption) override;
  void MemoLogAppend(const std::string& line) override { Log.push_back(line); }
  void MemoLogClear() override { Log.clear(); }
  bool ButtonEnabled(TButton button) const override { return Buttons.at(button); }
  void SetButtonEnabled(TButton button, bool enabled) override { Buttons[button] = enabled; }
  std::string Text(TTextControl control) const override;
  void SetText(TTextControl control, const std::string& text) override { Texts[control] = text; }
  int Timer1Interval() const override { return TimerInterval; }
  void SetTimer1Interval(int milliseconds) override { TimerInterval = milliseconds; }
  bool Timer1Enabled() const override { return TimerEnabled; }
  void SetTimer1Enabled(bool enabled) override { TimerEnabled = enabled; }
  TMessageResult MessageBox(TMessageKind kind, const std::string& text) override;
  void Sleep(int milliseconds) override { Sleeps.push_back(milliseconds); }

  // Every caption LabProg has shown, in order.
  std::vector<std::string> StatusHistory;
  std::string LabFW;
  std::string LabProg;
  std::vector<std::string> Log;
  std::map<TButton, bool> Buttons;
  std::map<TTextControl, std::string> Texts;
  int TimerInterval = 100;
  bool TimerEnabled = true;
  std::vector<Message> Messages;
  std::deque<TMessageResult> Replies;
  std::vector<int> Sleeps;
  // Runs inside MessageBox before it returns, to act while a box is open.
  std::function<void()> WhileMessageOpen;
};
