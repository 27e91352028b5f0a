#include "tools/ConsoleWindow.h"

#include <algorithm>
#include <chrono>
#include <ostream>
#include <thread>

#include "tools/JsonEvents.h"

TConsoleWindow::TConsoleWindow(std::ostream& out, std::ostream& err) : Out(out), Err(err) {
  Buttons = {
      {TButton::ButConnect, true}, {TButton::ButDisconnect, false}, {TButton::ButStart, false}};
}

void TConsoleWindow::SetLabProgCaption(const std::string& caption) {
  // The session sets " Запись..." again with every block.
  if (Events && caption != LabProg) Events->Status(caption);
  LabProg = caption;
  if (OnStatus) OnStatus(caption);
}

void TConsoleWindow::MemoLogAppend(const std::string& line) {
  if (Events) {
    Events->Log(line);
    return;
  }
  if (BeforeOutput) BeforeOutput(true);
  Out << line << '\n';
  if (FlushEveryLine) Out << std::flush;
  if (AfterOutput) AfterOutput(true);
}

void TConsoleWindow::Flush() {
  Out << std::flush;
}

bool TConsoleWindow::ButtonEnabled(TButton button) const {
  return Buttons.at(button);
}

std::string TConsoleWindow::Text(TTextControl control) const {
  const auto it = Texts.find(control);
  return it == Texts.end() ? std::string() : it->second;
}

void TConsoleWindow::SetTimer1Interval(int milliseconds) {
  TimerInterval = milliseconds;
  if (OnTimerChanged) OnTimerChanged();
}

void TConsoleWindow::SetTimer1Enabled(bool enabled) {
  TimerEnabled = enabled;
  if (OnTimerChanged) OnTimerChanged();
}

TMessageResult TConsoleWindow::MessageBox(TMessageKind kind, const std::string& text) {
  if (kind == TMessageKind::Confirmation && Prepared && Prepared->Text == text) {
    const TMessageResult answer = Prepared->Answer;
    Prepared.reset();
    return answer;
  }
  if (Events) {
    Events->Message(kind, text);
  } else if (kind != TMessageKind::Information || InformationOnErr) {
    ShowOnErr(text);
  }
  if (OnMessage) OnMessage(kind, text);
  if (kind != TMessageKind::Confirmation) return TMessageResult::Ok;
  return Confirm ? Confirm(text) : TMessageResult::Cancel;
}

void TConsoleWindow::ShowOnErr(const std::string& text) {
  // The log so far comes before the box, wherever both streams go.
  Flush();
  if (BeforeOutput) BeforeOutput(false);
  Err << CaptionForTerminal(text) << '\n' << std::flush;
  if (AfterOutput) AfterOutput(false);
}

void TConsoleWindow::Sleep(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds) / TimeDivisor);
}

std::string CaptionForTerminal(const std::string& caption) {
  std::string text = caption;
  for (char& c : text) {
    // Other control bytes (an image's board name may hold zero bytes) would
    // garble the terminal; UTF-8 bytes are all above them.
    if (c == '\r') {
      c = '\n';
    } else if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7F) {
      c = '.';
    }
  }
  return text;
}
