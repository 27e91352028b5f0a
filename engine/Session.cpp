#include "engine/Session.h"

#include "engine/ImageReader.h"

TSession::TSession(IWindowMembers& window)
    : Window(window), FirmwareFile(std::make_unique<TImageReader>()) {}

TSession::~TSession() = default;

void TSession::DebugLog(const std::string& line) {
  if (DebugMode) Window.MemoLogAppend(line);
}

void TSession::UseImageReader(std::unique_ptr<TImageReader> reader) {
  CloseFirmwareFile();
  FirmwareFile = std::move(reader);
}

void TSession::CloseFirmwareFile() {
  if (FileOpen) FirmwareFile->Close();
  FileOpen = false;
}
