#include "engine/Session.h"

#include <algorithm>

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

void TSession::ConfigureUdp(const TUdpSettings& settings) {
  UdpTargetIp = settings.TargetIp;
  UdpTargetPort = settings.TargetPort;
  UdpServerPort = settings.ServerPort;
}

TProgress TSession::Progress() const {
  TProgress progress;
  progress.Section = SentSection;
  progress.Total = {RunImage.DataBlocks, RunImage.DataBytes};
  // The block last sent counts once the device has confirmed it, which is
  // when the next one goes out; a written image is confirmed whole.
  progress.Done = RunEnd.Outcome == TRunOutcome::Written ? progress.Total
                                                         : RunImage.Before(SentSection, SentBlock);
  const TBlocksAndBytes sectionStart = RunImage.Before(SentSection, 0);
  progress.SectionDone = {progress.Done.Blocks - std::min(progress.Done.Blocks, sectionStart.Blocks),
                          progress.Done.Bytes - std::min(progress.Done.Bytes, sectionStart.Bytes)};
  for (const TSectionReport& section : RunImage.Sections) {
    if (section.Index == SentSection && !section.Header.IsEndMarker()) {
      progress.SectionTotal = {section.Header.BlockCount, section.Header.DataLength()};
    }
  }
  return progress;
}
