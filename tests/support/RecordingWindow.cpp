#include "tests/support/RecordingWindow.h"

TRecordingWindow::TRecordingWindow() {
  Buttons = {
      {TButton::ButConnect, true}, {TButton::ButDisconnect, false}, {TButton::ButStart, false}};
}

void TRecordingWindow::SetLabProgCaption(const std::string& caption) {
  LabProg = caption;
  StatusHistory.push_back(caption);
}

std::string TRecordingWindow::Text(TTextControl control) const {
  const auto it = Texts.find(control);
  return it == Texts.end() ? std::string() : it->second;
}

TMessageResult TRecordingWindow::MessageBox(TMessageKind kind, const std::string& text) {
  Messages.push_back({kind, text});
  if (WhileMessageOpen) WhileMessageOpen();
  if (Replies.empty()) return TMessageResult::Ok;
  const TMessageResult reply = Replies.front();
  Replies.pop_front();
  return reply;
}
