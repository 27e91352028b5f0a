#pragma once

#include <string>

// The members of the main window that the engine reads and writes, and
// nothing more. The Qt window implements this; so do the command-line
// flasher and the tests. All texts are UTF-8.

enum class TButton { ButConnect, ButDisconnect, ButStart };

enum class TTextControl { EditIP, EditFileName, cbComN, cbBr, cbDb, cbPar, cbSb };

enum class TMessageKind {
  Warning,       // OK button
  Information,   // OK button
  Confirmation,  // OK and Cancel
};

enum class TMessageResult { Ok, Cancel };

class IWindowMembers {
 public:
  virtual ~IWindowMembers() = default;

  virtual void SetLabFWCaption(const std::string& caption) = 0;
  virtual void SetLabProgCaption(const std::string& caption) = 0;

  virtual void MemoLogAppend(const std::string& line) = 0;
  virtual void MemoLogClear() = 0;

  virtual bool ButtonEnabled(TButton button) const = 0;
  virtual void SetButtonEnabled(TButton button, bool enabled) = 0;

  virtual std::string Text(TTextControl control) const = 0;
  virtual void SetText(TTextControl control, const std::string& text) = 0;

  virtual int Timer1Interval() const = 0;
  virtual void SetTimer1Interval(int milliseconds) = 0;
  virtual bool Timer1Enabled() const = 0;
  virtual void SetTimer1Enabled(bool enabled) = 0;

  // Modal: returns when the operator has closed the box. A box closed
  // without a choice answers Cancel.
  virtual TMessageResult MessageBox(TMessageKind kind, const std::string& text) = 0;

  // Blocks the calling (main) thread; nothing is handled meanwhile.
  virtual void Sleep(int milliseconds) = 0;
};
